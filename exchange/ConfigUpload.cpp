#include "exchange/ConfigUpload.h"

#include "config/ConfigModel.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/TerminalDatabase.h"
#include "platform/InstallLayout.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "platform/Prompt.h"
#include "platform/RunProcess.h"
#include "filesafety/TempFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <mutex>

namespace {

const QString kCaptionFirmware = QStringLiteral("Конфигуратор прошивки");

std::mutex g_winIniLock;
QString g_winIniPath;

}  // namespace

QString WinIniPath() {
    {
        std::lock_guard guard(g_winIniLock);
        if (!g_winIniPath.isEmpty()) return g_winIniPath;
    }
    // Installed: beside kxloader.ini in the program's own settings folder,
    // not loose at the top of ~/.config.
    const CInstallLayout layout = CurrentInstallLayout();
    if (layout.mode == InstallMode::Installed) return layout.userConfigFolder + QStringLiteral("win.ini");
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("win.ini"));
}

void SetWinIniPath(const QString& path) {
    std::lock_guard guard(g_winIniLock);
    g_winIniPath = path;
}

bool WriteParlinkPort(const QString& port) {
    const QString file = WinIniPath();
    QDir().mkpath(QFileInfo(file).absolutePath());
    return Profile::WriteString(file, QStringLiteral("ZQR"), QStringLiteral("Parlink"), port);
}

QString UpdaterProgramPath(const QString& programFolder) {
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("kxupdate_pc.exe");
#else
    const QString name = QStringLiteral("kxupdate_pc");
#endif
    return QDir::toNativeSeparators(QDir(programFolder).filePath(name));
}

QString UpdaterCommandLine(const QString& updater, const QString& port, const QString& databaseFile) {
    return QStringLiteral("\"%1\" /p %2 /u %3 %4")
        .arg(updater, port, databaseFile, QString::fromLatin1(kTerminalDatabaseRemotePath));
}

CConfigUploadFlow::CConfigUploadFlow(CConfigModel& model, const QString& port, int startOperationId)
    : m_model(model), m_port(port), m_startOperationId(startOperationId) {}

int CConfigUploadFlow::Run() {
    m_usedPort.clear();
    m_commandLine.clear();
    m_exitCode = -1;
    m_databaseFile.clear();
    if (!BuildTerminalDatabase(m_model, &m_databaseFile, m_startOperationId)) {
        // A half-built database is of no use to anybody.
        ReleaseKxTempFile(m_databaseFile);
        return ConfigUploadResult::kNotBuilt;
    }
    const QString updater =
        UpdaterProgramPath(m_programFolder.isEmpty() ? ProgramFolder() : m_programFolder);
    m_usedPort = m_port;
    m_commandLine = UpdaterCommandLine(updater, m_usedPort, m_databaseFile);
    int exitCode = -1;
    const int started = RunProcess(updater, m_commandLine, true, &exitCode);
    ReleaseKxTempFile(m_databaseFile);
    if (started != 0) return ConfigUploadResult::kFailed;  // "Error! Cannot execute" was shown
    m_exitCode = exitCode;
    if (exitCode != 0) {
        Prompt().Message(QStringLiteral("Ошибка обновления: %1").arg(exitCode), QStringLiteral("Ошибка!"),
                         PromptIcon::None, PromptButtons::Ok);
        return ConfigUploadResult::kFailed;
    }
    return ConfigUploadResult::kLoaded;
}

void ShowConfigUploadResult(int result) {
    if (result == ConfigUploadResult::kLoaded)
        Prompt().Info(QStringLiteral("Загрузка новой конфигурации\nзавершена успешно!"), kCaptionFirmware);
    else
        Prompt().Warning(QStringLiteral("Конфигурация не была обновлена\nна терминале!"), kCaptionFirmware);
}

int LoadConfigurationToTerminal(CConfigUploadFlow& flow, const QString& port) {
    WriteParlinkPort(port);
    const int result = flow.Run();
    ShowConfigUploadResult(result);
    return result;
}

int LoadConfigurationToTerminal(CConfigModel& model, const QString& port) {
    CConfigUploadFlow flow(model, port, -1);
    return LoadConfigurationToTerminal(flow, port);
}

int CheckTerminalConnection(const QString& port, TerminalInfo* info) {
    WriteParlinkPort(port);
    TerminalSession session;
    const int code = session.ConnectTerminal(port);
    if (code == ExchangeCode::kOk)
        Prompt().Info(TerminalCheckText(session.info), QStringLiteral("Сведения о терминале"));
    if (info) *info = session.info;
    return code;
}
