#pragma once
// Where the program finds its settings, its template and its link component.
// Two layouts, told apart at start-up from the program folder:
//
//  - portable: everything beside the program, in a folder the user may write
//    (kxloader.ini, kxconfig.ini, KXConfigFMT.db, components.ini and the
//    component library). The program folder is portable when it is writable
//    and holds kxloader.ini or KXConfigFMT.db, or holds neither and no
//    installed data folder exists either.
//  - installed (a package or `cmake --install`): the programs in <prefix>/bin,
//    the link component with its components.ini in <prefix>/lib/kxconfig, the
//    template and the demo in <prefix>/share/kxconfig, none of it written.
//    The settings files live in the user's configuration folder
//    ($XDG_CONFIG_HOME/kxconfig, by default ~/.config/kxconfig), and the
//    template, which the program rewrites, is copied once into the user's data
//    folder ($XDG_DATA_HOME/kxconfig, by default ~/.local/share/kxconfig) and
//    opened there.
//
// In both layouts the environment variable KXLOADER_INI names the kxloader.ini
// to use instead, so runs on several terminals keep their settings apart.

#include <QProcessEnvironment>
#include <QString>

enum class InstallMode { Portable, Installed };

inline constexpr const char* kLoaderSettingsVariable = "KXLOADER_INI";

struct CInstallLayout {
    InstallMode mode = InstallMode::Portable;
    QString programFolder;    // the executable's folder, ends with '/'
    QString loaderSettings;   // kxloader.ini
    QString configSettings;   // kxconfig.ini
    QString templateFile;     // the template the program opens and rewrites
    QString shippedTemplate;  // the template as shipped (installed: copied from here)
    QString componentFolder;  // the folder of components.ini, ends with '/'
    QString demoFolder;       // the shipped demo project's folder, ends with '/'
    QString userConfigFolder; // installed layout only, ends with '/'
    QString userDataFolder;   // installed layout only, ends with '/'
    // What the programs keep between runs about the terminals they met (the
    // scans each journal file holds, resets owed): portable, "state/" in the
    // program folder; installed, $XDG_STATE_HOME/kxconfig/ (by default
    // ~/.local/state/kxconfig/). Ends with '/'.
    QString stateFolder;

    // The layout for `programFolder` under `environment` (KXLOADER_INI,
    // XDG_CONFIG_HOME, XDG_DATA_HOME, HOME). Looks at the file system only.
    static CInstallLayout Resolve(const QString& programFolder, const QProcessEnvironment& environment);

    // Installed layout: makes the user's folders and copies the shipped
    // template into the data folder when no copy is there yet, or when the
    // shipped template is no longer the one the copy came from (a package
    // upgrade brought another): the new one is taken and the previous copy kept
    // beside it as KXConfigFMT.db.old, and `notice` says so (once: the next run
    // finds the copy current). Nothing in the portable layout. False, with the
    // folder or file and the system's reason in `error`, when a folder or the
    // copy could not be made.
    bool PrepareUserFiles(QString* error = nullptr, QString* notice = nullptr) const;
};

// The user's own settings folder of the installed layout:
// $XDG_CONFIG_HOME/kxconfig/ (an absolute value only), else ~/.config/kxconfig/.
QString UserConfigFolder(const QProcessEnvironment& environment);

// The layout of this process: the one start-up set for the current program
// folder, else the layout of ProgramFolder() read without the environment.
CInstallLayout CurrentInstallLayout();
void SetInstallLayout(const CInstallLayout& layout);

// Shorthands of the current layout.
QString LoaderSettingsFile();
QString StateFolder();
QString TemplateFile();
QString ComponentFolder();
