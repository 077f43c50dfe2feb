#include "tests/link/TerminalProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <csignal>
#include <sys/prctl.h>

void EnsureQtApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "link_tests";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

CTerminalProcess::~CTerminalProcess() { Stop(2000); }

bool CTerminalProcess::Start(const QString& stateDir, const QStringList& args, int timeoutMs) {
    EnsureQtApplication();
    QStringList all{QStringLiteral("--state"), stateDir};
    all += args;
    m_process.setProgram(m_program);
    m_process.setArguments(all);
    // A test that dies (an assertion that aborts, a sanitizer's report)
    // takes its terminal with it instead of leaving it running.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start();
    if (!m_process.waitForStarted(timeoutMs)) return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const int idx = m_stdout.indexOf('\n');
        if (idx >= 0) {
            const QString line = QString::fromLocal8Bit(m_stdout.left(idx)).trimmed();
            m_stdout.remove(0, idx + 1);
            if (line.startsWith(QLatin1String("port: "))) {
                m_port = line.mid(6);
                return true;
            }
            continue;
        }
        if (m_process.state() == QProcess::NotRunning) return false;
        m_process.waitForReadyRead(static_cast<int>(std::min<qint64>(200, deadline.remainingTime())));
        m_stdout += m_process.readAllStandardOutput();
    }
    return false;
}

int CTerminalProcess::Stop(int timeoutMs) {
    if (m_process.state() == QProcess::NotRunning) return m_process.exitCode();
    m_process.terminate();
    if (m_process.waitForFinished(timeoutMs)) return m_process.exitCode();
    m_process.kill();
    m_process.waitForFinished(timeoutMs);
    return -1;
}

void CTerminalProcess::Kill() {
    if (m_process.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(m_process.processId()), SIGKILL);
    m_process.waitForFinished(10000);
}

bool CTerminalProcess::WaitForExit(int timeoutMs) {
    if (m_process.state() == QProcess::NotRunning) return true;
    return m_process.waitForFinished(timeoutMs);
}

QString CTerminalProcess::Diagnostics() {
    return QString::fromLocal8Bit(m_process.readAllStandardError());
}

void CTerminalProcess::TakeLines() {
    // Without an event loop the pipe is read only in a wait: look once
    // without waiting, so a call with no time to wait still sees what came.
    m_process.waitForReadyRead(0);
    m_stdout += m_process.readAllStandardOutput();
    for (qsizetype idx = m_stdout.indexOf('\n'); idx >= 0; idx = m_stdout.indexOf('\n')) {
        const QString line = QString::fromLocal8Bit(m_stdout.left(idx)).trimmed();
        m_stdout.remove(0, idx + 1);
        m_lines << line;
        if (line.startsWith(QLatin1String("pairing code: "))) m_code = line.mid(14);
    }
}

QStringList CTerminalProcess::Lines() {
    TakeLines();
    return m_lines;
}

QString CTerminalProcess::WaitForLine(const QString& prefix, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        TakeLines();
        for (; m_seen < m_lines.size(); ++m_seen)
            if (m_lines[m_seen].startsWith(prefix)) return m_lines[m_seen++];
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) return QString();
        m_process.waitForReadyRead(static_cast<int>(std::min<qint64>(200, deadline.remainingTime())));
    }
}

QString CTerminalProcess::PairingCode(const QString& notThis, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        TakeLines();
        if (!m_code.isEmpty() && m_code != notThis) return m_code;
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) return QString();
        m_process.waitForReadyRead(static_cast<int>(std::min<qint64>(200, deadline.remainingTime())));
    }
}
