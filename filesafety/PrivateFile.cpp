#include "filesafety/PrivateFile.h"

#include "platform/SystemFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString SystemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }
}  // namespace

bool WritePrivateTemp(const QString& path, const QByteArray& data, QString* temp, QString* error) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!MakePrivateFolder(folder)) {
        if (error) *error = QStringLiteral("%1: cannot create the folder").arg(folder);
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        *temp = folder + QStringLiteral("/.%1.%2.tmp").arg(info.fileName()).arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
        CSystemFile file;
        // Created owner-only: the bytes are never readable by others, not
        // even for an instant before a chmod.
        if (!file.Open(*temp, O_WRONLY | O_CREAT | O_EXCL, 0600)) {
            if (file.ErrorNumber() == EEXIST) continue;
            if (error) *error = file.Error();
            return false;
        }
        if (!file.Write(data) || !file.Sync()) {
            if (error) *error = file.Error();
            file.Close();
            ::unlink(QFile::encodeName(*temp).constData());
            return false;
        }
        return true;
    }
    if (error) *error = QStringLiteral("%1: cannot make a temporary file").arg(folder);
    return false;
}

bool MakePrivateFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isDir()) return true;
    // Keys and pins are nobody else's business, not even their names: a
    // folder made for them is the owner's alone.
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath() && !MakePrivateFolder(parent)) return false;
    if (::mkdir(QFile::encodeName(info.absoluteFilePath()).constData(), 0700) == 0) return true;
    // Made meanwhile by another process is fine; a file or a dangling link
    // of that name is no folder.
    return errno == EEXIST && QFileInfo(info.absoluteFilePath()).isDir();
}

bool WritePrivateFile(const QString& path, const QByteArray& data, QString* error) {
    QString temp;
    if (!WritePrivateTemp(path, data, &temp, error)) return false;
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0) {
        const int e = errno;
        ::unlink(QFile::encodeName(temp).constData());
        if (error) *error = QStringLiteral("%1: %2").arg(path, SystemText(e));
        return false;
    }
    SyncFolderOf(path);  // a key or pin whose rename a power cut undoes was never stored
    return true;
}
