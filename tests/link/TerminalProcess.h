#pragma once
// Starts the terminal emulator (kxterminal from the program folder) for one
// test, waits for its "port:" line and stops it at the end.

#include <QProcess>
#include <QString>
#include <QStringList>

class CTerminalProcess {
public:
    CTerminalProcess() = default;
    ~CTerminalProcess();
    CTerminalProcess(const CTerminalProcess&) = delete;
    CTerminalProcess& operator=(const CTerminalProcess&) = delete;

    // Another kxterminal than the build's (an installed one).
    void SetProgram(const QString& program) { m_program = program; }
    // `args` besides --state: "--pty" (default), "--listen NAME", "--baud N".
    bool Start(const QString& stateDir, const QStringList& args = {QStringLiteral("--pty")},
               int timeoutMs = 30000);
    QString Port() const { return m_port; }
    // On the network (--listen-tcp): the newest "pairing code:" line printed
    // so far, waiting up to `timeoutMs` for one newer than `notThis`.
    QString PairingCode(const QString& notThis = QString(), int timeoutMs = 15000);
    // The next line printed that starts with `prefix` and was not yet
    // returned by this call, waiting up to `timeoutMs`; empty when none came.
    QString WaitForLine(const QString& prefix, int timeoutMs = 15000);
    // Every line printed so far after the port's.
    QStringList Lines();
    qint64 Pid() const { return m_process.processId(); }
    bool Running() const { return m_process.state() != QProcess::NotRunning; }
    // SIGTERM and wait; the exit code, -1 when it had to be killed.
    int Stop(int timeoutMs = 10000);
    // SIGKILL: the terminal vanishes without a word.
    void Kill();
    bool WaitForExit(int timeoutMs);
    int ExitCode() const { return m_process.exitCode(); }
    QString Diagnostics();

private:
    QProcess m_process;
    QString m_program = QStringLiteral(KX_PROGRAM_DIR "/kxterminal");
    QString m_port;
    QString m_code;
    QByteArray m_stdout;
    QStringList m_lines;
    qsizetype m_seen = 0;  // m_lines before this were looked at by WaitForLine
    void TakeLines();
};

// Makes sure a QCoreApplication exists (for QProcess and QLocalSocket).
void EnsureQtApplication();
