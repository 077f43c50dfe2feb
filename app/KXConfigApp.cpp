#include "app/KXConfigApp.h"

#include "app/ConfigModelCommandLine.h"
#include "app/ReportFile.h"
#include "app/ResultCodes.h"
#include "directories/DirectoryCodePage.h"
#include "platform/ProgramFolder.h"

namespace {
CKXConfigApp* g_app = nullptr;
}

CKXConfigApp* TheApp() { return g_app; }

CKXConfigApp::CKXConfigApp() { g_app = this; }

bool CKXConfigApp::InitInstance(const QStringList& arguments) {
    const QString argv0 = arguments.isEmpty() ? QString() : arguments.first();
    ProgramFolder = ProgramFolderOverride.isEmpty() ? ResolveProgramFolder(argv0)
                                                    : ProgramFolderOverride;
    Paths = CSettingsPaths::ForProgramFolder(ProgramFolder);
    ProgramFolder = Paths.programFolder;
    SetProgramFolder(ProgramFolder);
    Settings = CExchangeSettings::Read(Paths);
    SetDirectoryCodePage(Settings.directoryCodePage);  // unknown names keep Windows-1251
    ResultCode = 0;
    ReportFilePath.clear();
    DiagnosticText.clear();

    Mode = DecideRunMode(static_cast<int>(arguments.size()));
    if (Mode == RunMode::Interactive) {
        if (m_interactive) m_interactive(*this);
        return false;
    }
    if (m_commandLine) m_commandLine(*this, arguments);
    else RunCommandLineOnConfigModel(*this, arguments);
    return false;
}

int CKXConfigApp::ExitInstance() {
    if (!ReportFilePath.isEmpty()) WriteReportFile(ReportFilePath, ResultCode, DiagnosticText);
    return ProcessExitStatus(ResultCode);
}
