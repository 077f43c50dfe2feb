#pragma once
// The program's settings: two profile files, in the program folder when it is
// portable or in the user's configuration folder when it is installed
// (platform/InstallLayout.h); KXLOADER_INI names another kxloader.ini.
//   kxloader.ini [kxloader.exe]: port (COM1), config (empty), OverwriteJournal (1),
//                                DirectoryCodePage (windows-1251), BusyFileWait (30)
//   kxconfig.ini [kxloader.exe]: setedit (0)

#include "platform/InstallLayout.h"

#include <QString>

inline constexpr const char* kSettingsSection = "kxloader.exe";
// The port an exchange uses when none is set, or when "port" is empty: an
// empty port names no link at all.
inline constexpr const char* kDefaultPort = "COM1";

struct CSettingsPaths {
    QString programFolder;   // absolute, ends with '/'
    QString loaderSettings;  // kxloader.ini
    QString configSettings;  // kxconfig.ini

    // The settings of the program in `programFolder`: those of the install
    // layout in use (CurrentInstallLayout) when it is that folder's, so the
    // windows follow an installed program and KXLOADER_INI; else both files
    // in the folder.
    static CSettingsPaths ForProgramFolder(const QString& programFolder);
    static CSettingsPaths ForLayout(const CInstallLayout& layout);
};

struct CExchangeSettings {
    QString port = QString::fromLatin1(kDefaultPort);
    QString config;
    int overwriteJournal = 1;
    int setEdit = 0;
    // Code page of the directory, journal and CSV files.
    QString directoryCodePage = QStringLiteral("windows-1251");
    // Seconds a download waits for another run writing the same file before
    // it gives up with the file's error code.
    int busyFileWait = 30;

    static CExchangeSettings Read(const CSettingsPaths& paths);
};

// The "port" of kxloader.ini: its value, or kDefaultPort when the key is
// missing or empty. The one reader of the setting: start-up, the main window
// and the exchange windows all take the port from here.
QString ReadPortSetting(const CSettingsPaths& paths);
// The port of an exchange started by a window: `given` (the window's port
// field) when it is not empty, else the setting of the running program.
QString ExchangePort(const QString& given);

// Writers used by the windows and the project commands.
// False when the file cannot be written, with the system's reason in `error`.
bool WriteLoaderSetting(const CSettingsPaths& paths, const QString& key, const QString& value,
                        QString* error = nullptr);
