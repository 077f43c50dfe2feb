#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>

namespace {
QString WithSeparator(const QString& folder) {
    QString f = QDir::cleanPath(folder);
    if (!f.endsWith(QLatin1Char('/'))) f += QLatin1Char('/');
    return f;
}
}  // namespace

QString ProgramFolderFromArgv0(const QString& argv0, const QString& pathVariable,
                               const QString& currentDir) {
    const QString normalized = QDir::fromNativeSeparators(argv0);
    if (normalized.contains(QLatin1Char('/'))) {
        const QFileInfo info(QDir(currentDir), normalized);
        return WithSeparator(info.absolutePath());
    }
#ifdef Q_OS_WIN
    const QChar listSep = QLatin1Char(';');
#else
    const QChar listSep = QLatin1Char(':');
#endif
    const QStringList folders = pathVariable.split(listSep, Qt::KeepEmptyParts);
    for (const QString& folder : folders) {
        // An empty PATH entry means the current folder.
        const QDir dir(folder.isEmpty() ? currentDir : QDir(currentDir).absoluteFilePath(folder));
        const QFileInfo candidate(dir, normalized);
        if (candidate.isFile() && candidate.isExecutable())
            return WithSeparator(candidate.absolutePath());
    }
    return WithSeparator(QDir(currentDir).absolutePath());
}

QString ResolveProgramFolder(const QString& argv0) {
#ifdef Q_OS_LINUX
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    const QString target = self.symLinkTarget();
    if (!target.isEmpty()) return WithSeparator(QFileInfo(target).absolutePath());
#endif
    return ProgramFolderFromArgv0(argv0, qEnvironmentVariable("PATH"), QDir::currentPath());
}

namespace {
QString& ProgramFolderStorage() {
    static QString folder;
    return folder;
}
}  // namespace

const QString& ProgramFolder() { return ProgramFolderStorage(); }

void SetProgramFolder(const QString& folder) {
    ProgramFolderStorage() = folder.isEmpty() ? folder : WithSeparator(folder);
}
