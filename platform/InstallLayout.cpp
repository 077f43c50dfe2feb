#include "platform/InstallLayout.h"

#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>
#include <optional>

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
    } else {
        layout.userConfigFolder = UserFolder(environment, QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral(".config"));
        layout.userDataFolder =
            UserFolder(environment, QStringLiteral("XDG_DATA_HOME"), QStringLiteral(".local/share"));
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

bool CInstallLayout::PrepareUserFiles(QString* error) const {
    if (mode != InstallMode::Installed) return true;
    QDir().mkpath(userConfigFolder);
    QDir().mkpath(userDataFolder);
    // Copied once: later runs keep the copy the program has been rewriting.
    // A missing shipped template is left for the start-up load to report.
    if (IsFile(templateFile) || !IsFile(shippedTemplate)) return true;
    // Copied under another name first, so a failed copy never leaves half a
    // template where the next run would take it for a whole one.
    const QString partial = templateFile + QStringLiteral(".part");
    QFile::remove(partial);
    if (!QFile::copy(shippedTemplate, partial) ||
        !QFile::setPermissions(partial, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther) ||
        !QFile::rename(partial, templateFile)) {
        QFile::remove(partial);
        if (error) *error = QStringLiteral("не удалось скопировать %1 в %2").arg(shippedTemplate, templateFile);
        return false;
    }
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
QString TemplateFile() { return CurrentInstallLayout().templateFile; }
QString ComponentFolder() { return CurrentInstallLayout().componentFolder; }
