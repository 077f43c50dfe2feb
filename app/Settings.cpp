#include "app/Settings.h"

#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"

#include <QDir>

#include <algorithm>

CSettingsPaths CSettingsPaths::ForProgramFolder(const QString& programFolder) {
    CSettingsPaths paths;
    paths.programFolder = programFolder;
    if (!paths.programFolder.isEmpty() && !paths.programFolder.endsWith(QLatin1Char('/')))
        paths.programFolder += QLatin1Char('/');
    if (!paths.programFolder.isEmpty()) {
        const CInstallLayout layout = CurrentInstallLayout();
        if (QDir::cleanPath(layout.programFolder) == QDir::cleanPath(paths.programFolder)) return ForLayout(layout);
    }
    paths.loaderSettings = paths.programFolder + QStringLiteral("kxloader.ini");
    paths.configSettings = paths.programFolder + QStringLiteral("kxconfig.ini");
    return paths;
}

CSettingsPaths CSettingsPaths::ForLayout(const CInstallLayout& layout) {
    CSettingsPaths paths;
    paths.programFolder = layout.programFolder;
    paths.loaderSettings = layout.loaderSettings;
    paths.configSettings = layout.configSettings;
    return paths;
}

CExchangeSettings CExchangeSettings::Read(const CSettingsPaths& paths) {
    const QString section = QString::fromLatin1(kSettingsSection);
    CExchangeSettings s;
    s.port = ReadPortSetting(paths);
    s.config = Profile::ReadString(paths.loaderSettings, section, QStringLiteral("config"));
    s.overwriteJournal = Profile::ReadInt(paths.loaderSettings, section,
                                          QStringLiteral("OverwriteJournal"), 1);
    s.setEdit = Profile::ReadInt(paths.configSettings, section, QStringLiteral("setedit"), 0);
    s.directoryCodePage = Profile::ReadString(paths.loaderSettings, section,
                                              QStringLiteral("DirectoryCodePage"),
                                              QStringLiteral("windows-1251"));
    s.busyFileWait = std::max(0, Profile::ReadInt(paths.loaderSettings, section, QStringLiteral("BusyFileWait"), 30));
    return s;
}

bool WriteLoaderSetting(const CSettingsPaths& paths, const QString& key, const QString& value, QString* error) {
    return Profile::WriteString(paths.loaderSettings, QString::fromLatin1(kSettingsSection), key, value, error);
}

QString ReadPortSetting(const CSettingsPaths& paths) {
    const QString port = Profile::ReadString(paths.loaderSettings, QString::fromLatin1(kSettingsSection),
                                             QStringLiteral("port"), QString::fromLatin1(kDefaultPort));
    return port.isEmpty() ? QString::fromLatin1(kDefaultPort) : port;
}

QString ExchangePort(const QString& given) {
    if (!given.isEmpty()) return given;
    return ReadPortSetting(CSettingsPaths::ForProgramFolder(ProgramFolder()));
}
