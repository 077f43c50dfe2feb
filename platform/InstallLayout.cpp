#include "platform/InstallLayout.h"

#include "platform/ProgramFolder.h"
#include "platform/SystemFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

namespace {

const QString kLoaderSettings = QStringLiteral("kxloader.ini");
const QString kConfigSettings = QStringLiteral("kxconfig.ini");
const QString kTemplate = QStringLiteral("KXConfigFMT.db");
const QString kComponents = QStringLiteral("components.ini");
// Beside <prefix>/bin in an installed tree.
const QString kInstalledData = QStringLiteral("../share/kxconfig/");
const QString kInstalledComponents = QStringLiteral("../lib/kxconfig/");

QString Folder(const QString& path) {
    QString f = QDir::cleanPath(path);
    if (!f.endsWith(QLatin1Char('/'))) f += QLatin1Char('/');
    return f;
}

bool IsFile(const QString& path) { return QFileInfo(path).isFile(); }

// $XDG_<name>_HOME when it is an absolute path (the standard ignores others),
// else <home>/<fallback>.
QString UserFolder(const QProcessEnvironment& environment, const QString& variable, const QString& fallback) {
    const QString value = environment.value(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) return Folder(value + QStringLiteral("/kxconfig"));
    QString home = environment.value(QStringLiteral("HOME"));
    if (home.isEmpty()) home = QDir::homePath();
    return Folder(home + QLatin1Char('/') + fallback + QStringLiteral("/kxconfig"));
}

std::mutex g_lock;
std::optional<CInstallLayout> g_layout;

}  // namespace

QString UserConfigFolder(const QProcessEnvironment& environment) {
    return UserFolder(environment, QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral(".config"));
}

CInstallLayout CInstallLayout::Resolve(const QString& programFolder, const QProcessEnvironment& environment) {
    CInstallLayout layout;
    layout.programFolder = Folder(programFolder);
    const QString& program = layout.programFolder;
    const QString installedData = Folder(program + kInstalledData);
    const bool hasInstalledData = IsFile(installedData + kTemplate);
    const bool holdsOwnFiles = IsFile(program + kLoaderSettings) || IsFile(program + kTemplate);
    const bool writable = QFileInfo(program).isWritable();
    layout.mode = writable && (holdsOwnFiles || !hasInstalledData) ? InstallMode::Portable : InstallMode::Installed;

    layout.componentFolder = program;
    if (!IsFile(program + kComponents) && IsFile(program + kInstalledComponents + kComponents))
        layout.componentFolder = Folder(program + kInstalledComponents);

    if (layout.mode == InstallMode::Portable) {
        layout.loaderSettings = program + kLoaderSettings;
        layout.configSettings = program + kConfigSettings;
        layout.templateFile = program + kTemplate;
        layout.shippedTemplate = layout.templateFile;
        layout.demoFolder = program + QStringLiteral("demo/");
        layout.stateFolder = program + QStringLiteral("state/");
    } else {
        layout.userConfigFolder = UserConfigFolder(environment);
        layout.userDataFolder =
            UserFolder(environment, QStringLiteral("XDG_DATA_HOME"), QStringLiteral(".local/share"));
        layout.stateFolder = UserFolder(environment, QStringLiteral("XDG_STATE_HOME"), QStringLiteral(".local/state"));
        layout.loaderSettings = layout.userConfigFolder + kLoaderSettings;
        layout.configSettings = layout.userConfigFolder + kConfigSettings;
        layout.templateFile = layout.userDataFolder + kTemplate;
        // A read-only folder that still holds everything beside the program.
        const QString shippedFolder = hasInstalledData ? installedData : program;
        layout.shippedTemplate = shippedFolder + kTemplate;
        layout.demoFolder = shippedFolder + QStringLiteral("demo/");
    }

    const QString chosen = environment.value(QString::fromLatin1(kLoaderSettingsVariable));
    if (!chosen.isEmpty()) layout.loaderSettings = QDir::cleanPath(QDir::current().absoluteFilePath(chosen));
    return layout;
}

namespace {

// Beside the user's template copy: the digest of the shipped template it was
// taken from, so a package upgrade that brings another template is noticed.
const QString kSourceSuffix = QStringLiteral(".source");
const QString kOldSuffix = QStringLiteral(".old");

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Digest(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return {};
    return hash.result().toHex();
}

// mkdir -p with the system's reason on failure.
bool MakeFolder(const QString& folder, QString* error) {
    std::error_code code;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), code);
    if (!code) return true;
    if (error)
        *error = QStringLiteral("не удалось создать папку %1: %2")
                     .arg(folder, QString::fromLocal8Bit(code.message().c_str()));
    return false;
}

// Writes `bytes` under another name first and renames it into place, so a
// kill leaves the old file or the new one whole.
bool WriteWhole(const QString& path, const QByteArray& bytes, QString* reason) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
        SyncFolderOf(path);  // the rename is durable only with its folder
        return true;
    }
    *reason = file.errorString();
    return false;
}

}  // namespace

bool CInstallLayout::PrepareUserFiles(QString* error, QString* notice) const {
    if (mode != InstallMode::Installed) return true;
    QString reason;
    if (!MakeFolder(userConfigFolder, error) || !MakeFolder(userDataFolder, error)) return false;
    // A missing shipped template is left for the start-up load to report.
    if (!IsFile(shippedTemplate)) return true;
    const QByteArray shipped = Digest(shippedTemplate);
    const QString sourceFile = templateFile + kSourceSuffix;
    const bool haveCopy = IsFile(templateFile);
    // The copy the program has been rewriting is kept as long as the shipped
    // template is the one it came from. A copy without a record was made by
    // an older version of the program, before any upgrade could be told.
    if (haveCopy && ReadAll(sourceFile).trimmed() == shipped) return true;
    // An untouched copy of this very template (a run ended between the copy
    // and its record) needs only the record.
    const bool replace = haveCopy && Digest(templateFile) != shipped;
    if (haveCopy && !replace) {
        WriteWhole(sourceFile, shipped + '\n', &reason);
        return true;
    }

    // Copied under another name first, so a failed copy never leaves half a
    // template where the next run would take it for a whole one.
    const QString partial = templateFile + QStringLiteral(".part");
    QFile::remove(partial);
    QFile source(shippedTemplate);
    if (!source.copy(partial) ||
        !QFile::setPermissions(partial, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)) {
        reason = source.errorString();
        QFile::remove(partial);
        if (error)
            *error = QStringLiteral("не удалось скопировать шаблон %1 в папку %2: %3")
                         .arg(shippedTemplate, userDataFolder, reason);
        return false;
    }
    const QString old = templateFile + kOldSuffix;
    if (replace) {
        // The previous copy stays beside the new one (a rename: never half of it).
        QFile::remove(old);
        QFile previous(templateFile);
        if (!previous.rename(old)) {
            QFile::remove(partial);
            if (error)
                *error = QStringLiteral("не удалось сохранить прежнюю копию шаблона %1 как %2: %3")
                             .arg(templateFile, old, previous.errorString());
            return false;
        }
    }
    QFile copy(partial);
    if (!copy.rename(templateFile)) {
        QFile::remove(partial);
        if (error)
            *error = QStringLiteral("не удалось записать шаблон %1 в папку %2: %3")
                         .arg(templateFile, userDataFolder, copy.errorString());
        return false;
    }
    // Without the record the next run would take the copy for an untouched one
    // and only write the record then: nothing is lost either way.
    WriteWhole(sourceFile, shipped + '\n', &reason);
    if (replace && notice)
        *notice = QStringLiteral("шаблон конфигурации обновлен из %1; прежняя копия сохранена как %2")
                      .arg(shippedTemplate, old);
    return true;
}

CInstallLayout CurrentInstallLayout() {
    {
        std::lock_guard guard(g_lock);
        if (g_layout && g_layout->programFolder == ProgramFolder()) return *g_layout;
    }
    // Nothing set for this program folder (a helper program, a test): the
    // layout of the folder alone; the environment is read only by start-up.
    return CInstallLayout::Resolve(ProgramFolder().isEmpty() ? QDir::currentPath() : ProgramFolder(),
                                   QProcessEnvironment());
}

void SetInstallLayout(const CInstallLayout& layout) {
    std::lock_guard guard(g_lock);
    g_layout = layout;
}

QString LoaderSettingsFile() { return CurrentInstallLayout().loaderSettings; }
QString StateFolder() { return CurrentInstallLayout().stateFolder; }
QString TemplateFile() { return CurrentInstallLayout().templateFile; }
QString ComponentFolder() { return CurrentInstallLayout().componentFolder; }
