#pragma once
// The configuration upload: the terminal database is built from the open
// configuration into a temporary file and handed to the updater program
// (kxupdate_pc beside the program), which sends it to the terminal over the
// chosen port. The windows only show it: the upload window ("Загрузка",
// "Проверка") and its wait window run the functions below, and the tests run
// them without any window.

#include "exchange/TerminalSession.h"

#include <QString>

class CConfigModel;

// The results of the wait window (and of CConfigUploadFlow::Run).
namespace ConfigUploadResult {
inline constexpr int kLoaded = 1;     // the updater ended with 0
inline constexpr int kFailed = 2;     // the updater failed or could not be started
inline constexpr int kNotBuilt = 103; // the terminal database could not be built
}  // namespace ConfigUploadResult

// The user's win.ini (section "ZQR", key "Parlink" gets the port of the
// upload window for the link components; nothing here reads it back). It lives
// in the user's configuration folder: ~/.config/kxconfig/ beside kxloader.ini
// when the program is installed, ~/.config/ when it is portable; tests point it
// elsewhere.
QString WinIniPath();
void SetWinIniPath(const QString& path);  // empty: back to the user's folder
bool WriteParlinkPort(const QString& port);

// The updater program in `programFolder` (kxupdate_pc, kxupdate_pc.exe on Windows).
QString UpdaterProgramPath(const QString& programFolder);
// "\"<updater>\" /p <port> /u <file> \Application\Orvane\mainbase.db"
QString UpdaterCommandLine(const QString& updater, const QString& port, const QString& databaseFile);

// The work of the wait window: build, run the updater, clean up, report a
// failed update. A window shows itself, then calls Run() once (the updater is
// waited for without a time limit) and ends with its result.
class CConfigUploadFlow {
public:
    // `port` is the port the updater is given, as the caller resolved it (the
    // windows take an empty port field as the "port" setting, app/Settings.h).
    CConfigUploadFlow(CConfigModel& model, const QString& port, int startOperationId = -1);
    // Where the updater lies; default: the program folder.
    void SetProgramFolder(const QString& folder) { m_programFolder = folder; }

    // ConfigUploadResult::kLoaded, kFailed or kNotBuilt. The temporary terminal
    // database is deleted once the updater has run, whatever its exit code.
    int Run();

    // For diagnostics and tests: what the last Run did.
    const QString& Port() const { return m_usedPort; }
    const QString& CommandLine() const { return m_commandLine; }
    const QString& DatabaseFile() const { return m_databaseFile; }
    int ExitCode() const { return m_exitCode; }

private:
    CConfigModel& m_model;
    QString m_port;
    int m_startOperationId;
    QString m_programFolder;
    QString m_usedPort;
    QString m_commandLine;
    QString m_databaseFile;
    int m_exitCode = -1;
};

// The upload window's "Загрузка" without the animation: writes the port into
// win.ini, runs the flow (`flow` when given, so a caller can set it up) and
// shows the outcome ("Загрузка новой конфигурации\nзавершена успешно!" or
// "Конфигурация не была обновлена\nна терминале!"). Returns the flow's result.
int LoadConfigurationToTerminal(CConfigModel& model, const QString& port);
int LoadConfigurationToTerminal(CConfigUploadFlow& flow, const QString& port);
// The outcome box of a load with the wait window's result.
void ShowConfigUploadResult(int result);

// The upload window's "Проверка": writes the port into win.ini, reads the
// terminal's identity with its messages shown and, on success, shows it in
// the "Сведения о терминале" box. Returns ConnectTerminal's code (0-4).
int CheckTerminalConnection(const QString& port, TerminalInfo* info = nullptr);
