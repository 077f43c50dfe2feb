#include "app/KXConfigApp.h"

#include "app/ConfigModelCommandLine.h"
#include "app/InformationSwitches.h"
#include "app/ReportFile.h"
#include "app/ResultCodes.h"
#include "directories/DirectoryCodePage.h"
#include "platform/ProgramFolder.h"

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
    // Before anything is read or made: they must work with no settings at all.
    if (Mode == RunMode::CommandLine) {
        if (const InformationSwitch which = FindInformationSwitch(arguments); which != InformationSwitch::None) {
            PrintInformation(which, Layout);
            return false;
        }
    }
    QString error, notice;
    // A failure is said here with its reason; the start-up load then reports
    // the missing template in the system's words.
    const bool prepared = Layout.PrepareUserFiles(&error, &notice);
    for (const QString& text : {prepared ? QString() : error, notice}) {
        if (text.isEmpty()) continue;
        const QByteArray line = "kxloader: " + text.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    }
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
    if (!ReportFilePath.isEmpty()) WriteReportFile(ReportFilePath, ResultCode, DiagnosticText);
    return ProcessExitStatus(ResultCode);
}
