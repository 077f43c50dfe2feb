#include "app/KXConfigApp.h"

#include "app/CommandLineGrammar.h"
#include "app/ConfigModelCommandLine.h"
#include "app/InformationSwitches.h"
#include "app/ReportFile.h"
#include "platform/StopSignal.h"
#include "app/ResultCodes.h"
#include "directories/DirectoryCodePage.h"
#include "platform/ProgramFolder.h"
#include "platform/Prompt.h"
#include "filesafety/TempFiles.h"

#include <cstdio>

namespace {
CKXConfigApp* g_app = nullptr;
}

CKXConfigApp* TheApp() { return g_app; }

CKXConfigApp::CKXConfigApp() { g_app = this; }

bool CKXConfigApp::InitInstance(const QStringList& arguments) {
    const QString argv0 = arguments.isEmpty() ? QString() : arguments.first();
    ProgramFolder = ProgramFolderOverride.isEmpty() ? ResolveProgramFolder(argv0)
                                                    : ProgramFolderOverride;
    SetProgramFolder(ProgramFolder);
    ProgramFolder = ::ProgramFolder();
    Layout = CInstallLayout::Resolve(ProgramFolder, Environment);
    SetInstallLayout(Layout);
    Paths = CSettingsPaths::ForLayout(Layout);
    ResultCode = 0;
    ReportFilePath.clear();
    DiagnosticText.clear();

    Mode = DecideRunMode(static_cast<int>(arguments.size()));
    // A scheduler's stop (SIGTERM), Ctrl+C or a closed terminal ends the
    // exchange under way cleanly instead of killing it in the middle; caught
    // from the start, so a signal at any moment of the run is answered alike.
    if (Mode == RunMode::CommandLine) InstallStopSignals();
    // Before anything is read or made: they must work with no settings at all.
    // Options (words that start with '-') are read before the project too:
    // a wrong one is told as such, whether or not a project would open.
    if (Mode == RunMode::CommandLine) {
        const LoaderOptionCheck check = CheckLoaderOptions(arguments);
        switch (check.kind) {
        case LoaderOptionCheck::Kind::Help: PrintInformation(InformationSwitch::Help, Layout); return false;
        case LoaderOptionCheck::Kind::Version: PrintInformation(InformationSwitch::Version, Layout); return false;
        case LoaderOptionCheck::Kind::UnknownOption:
            ResultCode = kCommandLineUnknownSwitch;
            Prompt().Error(QStringLiteral("%1 %2: unknown option \"%3\" (kxloader --help lists the options and "
                                          "switches)")
                               .arg(ResultCode)
                               .arg(ResultCodeText(ResultCode), check.word),
                           QStringLiteral("kxloader"));
            return false;
        case LoaderOptionCheck::Kind::None: break;
        }
    }
    // Working copies and staging files of runs that were killed; a running
    // instance's files are never touched.
    RemoveStaleKxTempFiles();
    // The command line makes the user's folders and template copy only once
    // its project has opened (RunCommandLineOnConfigModel): a run that ends
    // with 150, or /h without a configuration, leaves the disk as it was.
    if (Mode == RunMode::Interactive) PrepareInstalledUserFiles(Layout);
    Settings = CExchangeSettings::Read(Paths);
    SetDirectoryCodePage(Settings.directoryCodePage);  // unknown names keep Windows-1251

    if (Mode == RunMode::Interactive) {
        if (m_interactive) m_interactive(*this);
        return false;
    }
    if (m_commandLine) m_commandLine(*this, arguments);
    else RunCommandLineOnConfigModel(*this, arguments);
    return false;
}

int CKXConfigApp::ExitInstance() {
    if (const int signal = StopSignal(); signal != 0 && Mode == RunMode::CommandLine) {
        // Nothing after the signal counts as done: no report of a result
        // (an earlier run's report was removed when /x was read), the
        // status the shell gives a process ended by the signal.
        Prompt().Error(QStringLiteral("stopped by %1: the exchange under way was ended and its session closed; "
                                      "nothing was sent after the signal (the run had reached code %2)")
                           .arg(QLatin1String(StopSignalName(signal)))
                           .arg(ResultCode),
                       QStringLiteral("kxloader"));
        if (ReportLock) ReportLock->Unlock(true);
        return 128 + signal;
    }
    QString problem;
    const bool reportLockHeld = ReportLock && ReportLock->IsLocked();
    if (!ReportFilePath.isEmpty() &&
        !WriteReportFile(ReportFilePath, ResultCode, DiagnosticText, &problem, reportLockHeld)) {
        // The caller reads the report: a run it cannot read of must not end
        // with 0, and the person at the console learns why.
        QString line;
        if (ResultCode == 0) {
            ResultCode = kReportNotWritten;
            line = QStringLiteral("%1 %2: %3 (the run itself ended with 0 %4)")
                       .arg(ResultCode)
                       .arg(ResultCodeText(ResultCode), problem, ResultCodeText(0));
        } else {
            line = QStringLiteral("%1 (the run ended with %2 %3)").arg(problem).arg(ResultCode).arg(ResultCodeText(ResultCode));
        }
        Prompt().Error(line, QStringLiteral("kxloader"));
    }
    if (ReportLock) ReportLock->Unlock(true);
    return ProcessExitStatus(ResultCode);
}
