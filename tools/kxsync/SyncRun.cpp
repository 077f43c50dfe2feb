#include "tools/kxsync/SyncRun.h"

#include "app/CommandLineProgress.h"
#include "app/ResultCodes.h"
#include "platform/InstallLayout.h"
#include "platform/StopSignal.h"
#include "tools/kxsync/PerTerminalBatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kRedrawMs = 250;

// The stop signals reach the event loop through this pipe.
int g_stopPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
    if (g_stopSignal == 0) g_stopSignal = signal;
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &c, 1);
}

// The text kxloader writes on a console: lines, and a progress line redrawn
// with "\r\x1b[K". Keeps the finished lines and the progress line as drawn now.
class CConsoleText {
public:
    void Feed(const QByteArray& bytes) {
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '\x1b' && i + 2 < bytes.size() && bytes[i + 1] == '[') {
                i += 2;  // an erase or a cursor move: up to its final letter
                while (i < bytes.size() && !std::isalpha(static_cast<unsigned char>(bytes[i]))) ++i;
            } else if (c == '\r') {
                m_current.clear();
            } else if (c == '\n') {
                if (!m_current.isEmpty()) m_lines.append(QString::fromUtf8(m_current));
                m_current.clear();
            } else {
                m_current.append(c);
            }
        }
    }
    QString Current() const { return QString::fromUtf8(m_current); }
    QStringList Lines() const {
        QStringList all = m_lines;
        // A last line without its end is kept too.
        if (!m_current.isEmpty()) all.append(QString::fromUtf8(m_current));
        return all;
    }

private:
    QStringList m_lines;
    QByteArray m_current;
};

// A pseudo-terminal for the standard error of one run, so kxloader draws its
// progress; raw, so its lines arrive as written. The parent keeps the slave
// side open too: what the run wrote last is still there to read after it ended.
class CPseudoTerminal {
public:
    CPseudoTerminal() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0) return;
        const char* name = ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0 ? ::ptsname(m_master) : nullptr;
        if (name) m_slave = ::open(name, O_RDWR | O_NOCTTY);
        if (m_slave < 0) {
            Close();
            return;
        }
        m_slaveName = QString::fromLocal8Bit(name);
        termios mode{};
        if (::tcgetattr(m_slave, &mode) == 0) {
            ::cfmakeraw(&mode);
            ::tcsetattr(m_slave, TCSANOW, &mode);
        }
        // A wide line, so kxloader's progress is never cut by the terminal.
        winsize size{};
        size.ws_col = 200;
        size.ws_row = 24;
        ::ioctl(m_slave, TIOCSWINSZ, &size);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~CPseudoTerminal() { Close(); }
    CPseudoTerminal(const CPseudoTerminal&) = delete;
    CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

    bool Open() const { return m_master >= 0; }
    int MasterDescriptor() const { return m_master; }
    QString SlaveName() const { return m_slaveName; }
    QByteArray ReadAvailable() {
        QByteArray bytes;
        char buffer[4096];
        ssize_t got;
        while (m_master >= 0 && (got = ::read(m_master, buffer, sizeof buffer)) > 0) bytes.append(buffer, got);
        return bytes;
    }

private:
    void Close() {
        if (m_slave >= 0) ::close(m_slave);
        if (m_master >= 0) ::close(m_master);
        m_slave = m_master = -1;
    }
    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
};

struct CRun {
    SyncOutcome outcome;
    enum class State { Waiting, Running, Done } state = State::Waiting;
    std::unique_ptr<QProcess> process;
    std::unique_ptr<CPseudoTerminal> pty;
    std::unique_ptr<QSocketNotifier> ptyOutput;
    CConsoleText text;
    QElapsedTimer clock;
};

QString StatusText(int status) {
    if (status == kSyncNotRun) return QStringLiteral("kxloader не запущен");
    if (status == kExitStatusForCodesAbove255) return QStringLiteral("код больше 255: точный код в файле отчета");
    return ResultCodeText(status);
}

int ConsoleWidth(std::FILE* console) {
    winsize size{};
    if (::ioctl(::fileno(console), TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
    return 80;
}

class CSync {
public:
    CSync(const QList<SyncTerminal>& terminals, const SyncOptions& options) : m_options(options) {
        for (const SyncTerminal& terminal : terminals) {
            auto run = std::make_unique<CRun>();
            run->outcome.terminal = terminal;
            m_runs.push_back(std::move(run));
        }
        const int all = static_cast<int>(m_runs.size());
        m_jobs = options.jobs > 0 ? std::min(options.jobs, kSyncMaxJobs) : std::min(all, kSyncDefaultJobsLimit);
        m_jobs = std::max(1, m_jobs);
    }

    QList<SyncOutcome> Run() {
        // Everything below happens in answer to an event: a run's output or
        // end, a stop signal, and (only while the lines are drawn) the clock.
        QEventLoop loop;
        m_loop = &loop;
        QSocketNotifier stop(g_stopPipe[0], QSocketNotifier::Read);
        QObject::connect(&stop, &QSocketNotifier::activated, [this] {
            char drained[16];
            while (::read(g_stopPipe[0], drained, sizeof drained) > 0) {
            }
            if (!m_stopped) ForwardStop();
            Check();
        });
        QTimer clock;
        if (m_options.progress) {
            QObject::connect(&clock, &QTimer::timeout, [this] { Draw(); });
            clock.start(kRedrawMs);
        }
        if (SyncStopSignal() != 0) ForwardStop();
        StartWaiting();
        if (!AllDone()) {
            if (m_options.progress) Draw();
            loop.exec();
        }
        m_loop = nullptr;
        if (m_options.progress) Draw();
        QList<SyncOutcome> outcomes;
        for (const auto& run : m_runs) outcomes.append(run->outcome);
        if (m_options.progress)
            for (const auto& run : m_runs) PrintFailure(*run);
        return outcomes;
    }

private:
    // A stop signal goes on to every kxloader running, which ends its
    // exchange cleanly; kxsync waits for them all and starts no other.
    bool AllDone() const {
        return std::all_of(m_runs.begin(), m_runs.end(),
                           [](const auto& run) { return run->state == CRun::State::Done; });
    }
    // After every event: more runs may start, and the loop ends with the last run.
    void Check() {
        if (!m_stopped) StartWaiting();
        if (AllDone() && m_loop) m_loop->quit();
    }

    void ForwardStop() {
        m_stopped = true;
        const int signal = SyncStopSignal();
        for (auto& run : m_runs) {
            if (run->state == CRun::State::Running && run->process && run->process->processId() > 0)
                ::kill(static_cast<pid_t>(run->process->processId()), signal);
            else if (run->state == CRun::State::Waiting)
                NotRun(*run, QStringLiteral("not started: kxsync was stopped by %1")
                                 .arg(QLatin1String(StopSignalName(signal))));
        }
    }

    void StartWaiting() {
        int running = 0;
        for (const auto& run : m_runs) running += run->state == CRun::State::Running;
        for (auto& run : m_runs) {
            if (running >= m_jobs) break;
            if (run->state != CRun::State::Waiting) continue;
            Start(*run);
            running += run->state == CRun::State::Running;
        }
    }

    void Start(CRun& run) {
        run.clock.start();
        const QString name = run.outcome.terminal.name;
        const QString settings = TerminalSettingsFile(m_options.sharedSettings, name);
        QString error;
        if (!WriteTerminalSettings(m_options.sharedSettings, settings, run.outcome.terminal.port, &error))
            return NotRun(run, error);
        run.process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kLoaderSettingsVariable), settings);
        run.process->setProcessEnvironment(environment);
        run.process->setStandardInputFile(QProcess::nullDevice());
        run.process->setStandardOutputFile(QProcess::nullDevice());
        if (m_options.progress) {
            run.pty = std::make_unique<CPseudoTerminal>();
            if (run.pty->Open()) run.process->setStandardErrorFile(run.pty->SlaveName());
            else run.pty.reset();
        }
        QProcess* process = run.process.get();
        CRun* r = &run;
        if (run.pty) {
            run.ptyOutput = std::make_unique<QSocketNotifier>(run.pty->MasterDescriptor(), QSocketNotifier::Read);
            QObject::connect(run.ptyOutput.get(), &QSocketNotifier::activated,
                             [r] { r->text.Feed(r->pty->ReadAvailable()); });
        } else {
            QObject::connect(process, &QProcess::readyReadStandardError,
                             [r] { r->text.Feed(r->process->readAllStandardError()); });
        }
        QObject::connect(process, &QProcess::finished, [this, r] {
            Ended(*r);
            Check();
        });
        QObject::connect(process, &QProcess::errorOccurred, [this, r](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart || r->state != CRun::State::Running) return;
            NotRun(*r, QStringLiteral("cannot start %1: %2").arg(m_options.loader, r->process->errorString()));
            Check();
        });
        // Counted as running from here: its start or its failure to start
        // arrives as an event.
        run.state = CRun::State::Running;
        process->start(m_options.loader, PerTerminalArguments(m_options.batch, name));
    }

    void NotRun(CRun& run, const QString& why) {
        run.outcome.status = kSyncNotRun;
        run.outcome.why = why;
        run.outcome.lines = QStringList{QStringLiteral("kxsync: ") + why};
        Finish(run);
    }

    void Ended(CRun& run) {
        run.text.Feed(run.pty ? run.pty->ReadAvailable() : run.process->readAllStandardError());
        run.outcome.lines = run.text.Lines();
        if (run.process->exitStatus() == QProcess::NormalExit) {
            run.outcome.status = run.process->exitCode();
        } else if (m_stopped) {
            // Ended by the signal kxsync passed on: the status a shell gives.
            run.outcome.status = 128 + SyncStopSignal();
            run.outcome.why =
                QStringLiteral("kxloader ended by %1").arg(QLatin1String(StopSignalName(SyncStopSignal())));
        } else {
            run.outcome.status = kSyncNotRun;
            run.outcome.why = QStringLiteral("kxloader ended by a signal");
            run.outcome.lines.append(QStringLiteral("kxsync: ") + run.outcome.why);
        }
        Finish(run);
    }

    void Finish(CRun& run) {
        run.outcome.ms = run.clock.elapsed();
        run.state = CRun::State::Done;
        run.ptyOutput.reset();
        run.pty.reset();
        // Called from the process's own signals: it goes once they are done.
        if (run.process) {
            run.process->disconnect();
            run.process.release()->deleteLater();
        }
        if (!m_options.progress) PrintFailure(run);
    }

    // A failed run's own lines, each under the terminal's name, so a log
    // of many terminals still says which one each line is about.
    void PrintFailure(const CRun& run) const {
        if (run.outcome.status == 0) return;
        QString text;
        for (const QString& line : run.outcome.lines)
            text += run.outcome.terminal.name + QStringLiteral(": ") + line + QLatin1Char('\n');
        if (run.outcome.lines.isEmpty())
            text = QStringLiteral("%1: kxloader ended with %2 %3\n")
                       .arg(run.outcome.terminal.name)
                       .arg(run.outcome.status)
                       .arg(StatusText(run.outcome.status));
        const QByteArray bytes = text.toUtf8();
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), m_options.console);
        std::fflush(m_options.console);
    }

    QString LineOf(const CRun& run) const {
        const SyncOutcome& o = run.outcome;
        QString state;
        switch (run.state) {
            case CRun::State::Waiting: state = QStringLiteral("waiting"); break;
            case CRun::State::Running: {
                state = QStringLiteral("running %1").arg(FormatDuration(run.clock.elapsed() / 1000));
                const QString progress = run.text.Current();
                if (!progress.isEmpty()) state += QStringLiteral("  ") + progress;
                break;
            }
            case CRun::State::Done:
                state = QStringLiteral("%1 %2 %3  %4")
                            .arg(o.status == 0 ? QStringLiteral("done") : QStringLiteral("FAILED"))
                            .arg(o.status)
                            .arg(StatusText(o.status), FormatDuration(o.ms / 1000));
                break;
        }
        return QStringLiteral("%1  %2  %3").arg(o.terminal.name, -m_nameWidth).arg(o.terminal.port, -m_portWidth).arg(state);
    }

    void Draw() {
        if (m_nameWidth == 0)
            for (const auto& run : m_runs) {
                m_nameWidth = std::max(m_nameWidth, static_cast<int>(run->outcome.terminal.name.size()));
                m_portWidth = std::max(m_portWidth, static_cast<int>(run->outcome.terminal.port.size()));
            }
        const int width = ConsoleWidth(m_options.console) - 1;  // never wraps: the block's height stays known
        QByteArray bytes;
        if (m_drawn) bytes += "\x1b[" + QByteArray::number(static_cast<int>(m_runs.size())) + "A";
        for (const auto& run : m_runs) bytes += "\r\x1b[K" + LineOf(*run).left(width).toUtf8() + "\n";
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), m_options.console);
        std::fflush(m_options.console);
        m_drawn = true;
    }

    SyncOptions m_options;
    std::vector<std::unique_ptr<CRun>> m_runs;
    int m_jobs = 1;
    bool m_drawn = false;
    int m_nameWidth = 0, m_portWidth = 0;
    bool m_stopped = false;
    QEventLoop* m_loop = nullptr;
};

}  // namespace

void InstallSyncStopSignals() {
    if (g_stopPipe[0] < 0 && ::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int SyncStopSignal() { return g_stopSignal; }

QList<SyncOutcome> RunSync(const QList<SyncTerminal>& terminals, const SyncOptions& options) {
    if (g_stopPipe[0] < 0 && ::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        QList<SyncOutcome> none;
        for (const SyncTerminal& terminal : terminals) {
            SyncOutcome o;
            o.terminal = terminal;
            o.why = QStringLiteral("cannot make a pipe for the stop signals");
            none.append(o);
        }
        return none;
    }
    return CSync(terminals, options).Run();
}

int SyncExitStatus(const QList<SyncOutcome>& outcomes) {
    for (const SyncOutcome& outcome : outcomes)
        if (outcome.status != 0) return outcome.status;
    return 0;
}

QString SyncSummary(const QList<SyncOutcome>& outcomes) {
    QList<QStringList> rows{{QStringLiteral("terminal"), QStringLiteral("port"), QStringLiteral("code"),
                             QStringLiteral("result"), QStringLiteral("time")}};
    int succeeded = 0;
    QString firstFailed;
    for (const SyncOutcome& o : outcomes) {
        rows.append({o.terminal.name, o.terminal.port, QString::number(o.status), StatusText(o.status),
                     FormatDuration(o.ms / 1000)});
        if (o.status == 0) ++succeeded;
        else if (firstFailed.isEmpty()) firstFailed = o.terminal.name;
    }
    QList<int> widths(5, 0);
    for (const QStringList& row : rows)
        for (int c = 0; c < 5; ++c) widths[c] = std::max(widths[c], static_cast<int>(row[c].size()));
    QString text;
    for (const QStringList& row : rows) {
        QString line = QStringLiteral("%1  %2  %3  %4  %5")
                           .arg(row[0], -widths[0])
                           .arg(row[1], -widths[1])
                           .arg(row[2], widths[2])
                           .arg(row[3], -widths[3])
                           .arg(row[4]);
        text += line + QLatin1Char('\n');
    }
    const int status = SyncExitStatus(outcomes);
    text += QStringLiteral("%1 of %2 terminal(s) succeeded; exit status %3")
                .arg(succeeded)
                .arg(outcomes.size())
                .arg(status);
    if (!firstFailed.isEmpty()) text += QStringLiteral(" (the first failed terminal, %1)").arg(firstFailed);
    return text + QLatin1Char('\n');
}
