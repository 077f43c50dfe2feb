#pragma once
// The program's settings: two profile files in the program folder.
//   kxloader.ini [kxloader.exe]: port (COM1), config (empty), OverwriteJournal (1),
//                                DirectoryCodePage (windows-1251)
//   kxconfig.ini [kxloader.exe]: setedit (0)

#include <QString>

inline constexpr const char* kSettingsSection = "kxloader.exe";

struct CSettingsPaths {
    QString programFolder;   // absolute, ends with '/'
    QString loaderSettings;  // <program folder>kxloader.ini
    QString configSettings;  // <program folder>kxconfig.ini

    static CSettingsPaths ForProgramFolder(const QString& programFolder);
};

struct CExchangeSettings {
    QString port = QStringLiteral("COM1");
    QString config;
    int overwriteJournal = 1;
    int setEdit = 0;
    // Code page of the directory, journal and CSV files.
    QString directoryCodePage = QStringLiteral("windows-1251");

    static CExchangeSettings Read(const CSettingsPaths& paths);
};

// Writers used by the windows and the project commands.
bool WriteLoaderSetting(const CSettingsPaths& paths, const QString& key, const QString& value);
