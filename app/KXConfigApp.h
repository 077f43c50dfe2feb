#pragma once
// The application object: fixes the program folder, the install layout and
// the settings files, reads the exchange settings and runs either the
// interactive main window or the command-line batch (or answers --help and
// --version). ExitInstance writes the report file and yields the process exit
// code.

#include "app/Settings.h"
#include "filesafety/FileLock.h"
#include "platform/InstallLayout.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <functional>
#include <memory>

enum class RunMode { Interactive, CommandLine };

// Decided from the raw argument count before any Qt application object
// exists: nothing after the program name means the main window.
inline RunMode DecideRunMode(int argc) { return argc > 1 ? RunMode::CommandLine : RunMode::Interactive; }

class CKXConfigApp {
public:
    // Runs the main window until it closes.
    using InteractiveRunner = std::function<void(CKXConfigApp&)>;
    // Runs the command-line batch; leaves its result in ResultCode.
    using CommandLineRunner = std::function<void(CKXConfigApp&, const QStringList& arguments)>;

    CKXConfigApp();

    void SetInteractiveRunner(InteractiveRunner runner) { m_interactive = std::move(runner); }
    void SetCommandLineRunner(CommandLineRunner runner) { m_commandLine = std::move(runner); }

    // `arguments` holds the program path first. Always returns false: no
    // message loop of its own follows.
    bool InitInstance(const QStringList& arguments);
    // Writes the report file when one was asked for; returns the process exit
    // status of ResultCode (ProcessExitStatus: the code itself up to 255).
    int ExitInstance();

    // Process-wide values of the run.
    QString ProgramFolder;       // absolute, ends with '/'
    CInstallLayout Layout;       // portable or installed, with every file's place
    CSettingsPaths Paths;
    CExchangeSettings Settings;
    RunMode Mode = RunMode::Interactive;
    int ResultCode = 0;
    QString ReportFilePath;
    QString DiagnosticText;
    // Held from /x to the report's writing: another run that names the same
    // report file while this one runs is refused, so neither run's caller
    // reads the other's result.
    std::unique_ptr<CFileLock> ReportLock;

    // Set before InitInstance to use another program folder (tests).
    QString ProgramFolderOverride;
    // What the layout reads: KXLOADER_INI and the XDG folders (tests set their own).
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();

private:
    InteractiveRunner m_interactive;
    CommandLineRunner m_commandLine;
};

// The one application object of the process (null before it is made).
CKXConfigApp* TheApp();
