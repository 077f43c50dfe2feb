// Network link figures: build/bench-bin/link_tcp_bench [--records N] [--no-blocks] [--tcp-only]
//                        [--only upload|journal] [--link KEY=VALUE,...] [--runs K]
//
// Runs of kxterminal on loopback TCP (TLS, paired; the run of median time of
// K, 3 unless told) and one on a pseudo-terminal, the same records through
// the component on both: an upload
// of N realistic wares records and the download of an N-line journal of
// realistic scans (BenchRecords.h); stored MB a second and CPU milliseconds per stored MB of the program
// and of the emulator. Then the TLS session set-up (connect, handshake, pin,
// greeting: OpenPort) and the pairing time, medians of repeated runs.
// Beside each figure: the rate of a plain TLS 1.3 pipe carrying the stored
// bytes of the same records on this machine (TlsPipe.h, median of three), and
// the link's share of it.
// Prints figures; asserts nothing but that every file arrived whole.

#include "bench/BenchOptions.h"
#include "bench/link/BenchLink.h"
#include "bench/link/BenchRecords.h"
#include "bench/link/TlsPipe.h"
#include "components/parlink/session/Pairing.h"
#include "components/parlink/session/ParlinkX2.h"
#include "components/parlink/session/LinkSession.h"
#include "platform/CodePage.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

// --- Measuring -------------------------------------------------------------

class CEmulator {
public:
    bool Start(const QStringList& line) {
        m_process.setProgram(QStringLiteral(KX_PROGRAM_DIR "/kxterminal"));
        m_process.setArguments(QStringList{QStringLiteral("--state"), m_state.path()} + line);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        return m_process.waitForStarted(30000) && !(m_port = Line(QByteArrayLiteral("port: "))).isEmpty();
    }
    ~CEmulator() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The next printed line that starts with `prefix`, without it.
    QString Line(const QByteArray& prefix) {
        const QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            const qsizetype idx = m_out.indexOf('\n');
            if (idx >= 0) {
                const QByteArray line = m_out.left(idx).trimmed();
                m_out.remove(0, idx + 1);
                if (line.startsWith(prefix)) return QString::fromLocal8Bit(line.mid(prefix.size()));
                continue;
            }
            m_process.waitForReadyRead(100);
            m_out += m_process.readAllStandardOutput();
        }
        return QString();
    }
    QString Port() const { return m_port; }
    QString State(const QString& name) const { return m_state.filePath(name); }
    qint64 Pid() const { return m_process.processId(); }

private:
    QTemporaryDir m_state;
    QProcess m_process;
    QString m_port;
    QByteArray m_out;
};

struct Figures {
    bool ok = false;
    double seconds = 0, stored = 0, programCpu = 0, terminalCpu = 0;
    double wire = 0;
};

// `file`: the wares file in Windows-1251, CR LF after each record, sent a
// line at a time as its bytes, as the exchange sends a directory's file.
Figures Upload(CEmulator& emulator, const QStringList& settings, const QByteArray& file) {
    Figures f;
    CParlinkX2 link(settings);
    if (!Connect(link, emulator.Port())) return f;
    const CStopwatch watch(emulator.Pid());
    link.SendCommand(QStringLiteral("002"));
    link.SendCommand(QStringLiteral("151"));
    for (qsizetype at = 0; at < file.size();) {
        const auto* lf = static_cast<const char*>(std::memchr(file.constData() + at, '\n', file.size() - at));
        if (!lf || lf == file.constData() + at) return f;
        const qsizetype end = lf - file.constData() - 1;  // before the CR
        if (!SendRecordWindows1251(link, QByteArrayView(file).sliced(at, end - at))) return f;
        at = end + 2;
    }
    link.EndData();
    link.SendCommand(QStringLiteral("003"));
    f.ok = WaitSync(link);
    watch.Stop(f);
    if (link.Session()) f.wire = static_cast<double>(link.Session()->Stats().wireBytesSent);
    link.SendCommand(QStringLiteral("004"));
    link.ClosePort();
    f.stored = static_cast<double>(QFile(emulator.State(QStringLiteral("directories/wares.ux7"))).size());
    f.ok = f.ok && static_cast<qint64>(f.stored) == file.size();
    return f;
}

Figures Download(CEmulator& emulator, const QStringList& settings, const QByteArray& journal, int count) {
    Figures f;
    QFile file(emulator.State(QStringLiteral("journal.txt")));
    if (!file.open(QIODevice::WriteOnly) || file.write(journal) != journal.size()) return f;
    file.close();
    CParlinkX2 link(settings);
    if (!Connect(link, emulator.Port())) return f;
    const CStopwatch watch(emulator.Pid());
    link.SendCommand(QStringLiteral("021"));
    QByteArray got;
    int lines = 0;
    // Into a file's bytes, as the exchange writes a journal.
    got.reserve(journal.size());
    const bool ended = ReceiveJournalWindows1251(link, [&](QByteArrayView bytes, const QString& text) {
        if (!bytes.isEmpty()) got += bytes;
        else got += CodePage::ToWindows1251(text);
        got += "\r\n";
        ++lines;
    });
    watch.Stop(f);
    if (link.Session()) f.wire = static_cast<double>(link.Session()->Stats().wireBytesReceived);
    link.SendCommand(QStringLiteral("004"));
    link.ClosePort();
    f.stored = static_cast<double>(got.size());
    f.ok = ended && lines == count && got == journal;
    return f;
}

void Print(const char* what, const char* line, const Figures& f, const CTlsPipeFigures& pipe) {
    const double mb = f.stored / 1e6;
    const double rate = mb / std::max(f.seconds, 1e-9);
    const double pipeRate = mb / std::max(pipe.seconds, 1e-9);
    std::printf("%-34s %-5s %s %8.2f s %8.2f MB/s  program %6.1f ms/MB  emulator %6.1f ms/MB  wire/stored %.2f"
                "  | TLS pipe %s %7.2f MB/s  link/pipe %.2f\n",
                what, line, f.ok ? "ok  " : "FAIL", f.seconds, rate, f.programCpu * 1000 / std::max(mb, 1e-9),
                f.terminalCpu * 1000 / std::max(mb, 1e-9), f.wire / std::max(f.stored, 1.0),
                pipe.ok ? "ok  " : "FAIL", pipeRate, rate / std::max(pipeRate, 1e-9));
    std::fflush(stdout);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The run of median time of `runs`, or the first that failed: one run on a
// shared machine is as often a neighbour's figure as ours.
template <class Run>
Figures MedianRun(int runs, Run run) {
    std::vector<Figures> all;
    for (int i = 0; i < runs; ++i) {
        all.push_back(run());
        if (!all.back().ok) return all.back();
    }
    std::sort(all.begin(), all.end(), [](const Figures& a, const Figures& b) { return a.seconds < b.seconds; });
    return all[all.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int records = std::max(1, IntOption(app.arguments(), QStringLiteral("--records"), 1000000));
    const int runs = std::max(1, IntOption(app.arguments(), QStringLiteral("--runs"), 3));
    // --no-blocks: emulators that list no record blocks (the stream of
    // earlier figures), for a side-by-side run.
    const QStringList capabilities = app.arguments().contains(QStringLiteral("--no-blocks"))
                                         ? QStringList{QStringLiteral("--capabilities"), QStringLiteral("sequence,one-program")}
                                         : QStringList{};

    std::printf("making %d realistic wares records and journal lines...\n", records);
    CRealisticRecords shop(records);
    const QStringList wares = shop.Wares();
    QByteArray journal;
    for (const QString& line : shop.Journal(records)) journal += CodePage::ToWindows1251(line) + "\r\n";
    std::printf("wares: %d records, journal: %lld stored bytes\n", records, static_cast<long long>(journal.size()));

    QTemporaryDir settingsDir;
    const QStringList settings{settingsDir.filePath(QStringLiteral("parlink.ini"))};
    // --link KEY=VALUE,...: the [link] section of the program's parlink.ini
    // (FramePayload, Window, ...), to try the link's own settings side by side.
    const qsizetype linkAt = app.arguments().indexOf(QStringLiteral("--link"));
    if (linkAt >= 0 && linkAt + 1 < app.arguments().size()) {
        QFile ini(settings.first());
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[link]\n" + app.arguments()[linkAt + 1].toUtf8().replace(',', '\n') + "\n");
    }
    CEmulator tcp, pty;
    if (!tcp.Start(QStringList{QStringLiteral("--listen-tcp"), QStringLiteral("127.0.0.1:0")} + capabilities) ||
        !pty.Start(QStringList{QStringLiteral("--pty")} + capabilities)) {
        std::fprintf(stderr, "cannot start kxterminal\n");
        return 1;
    }

    // Pairing, repeated: every success uses the code up and closes pairing,
    // so it is asked for again each time, as a person at the terminal would.
    std::vector<double> pairing;
    for (int i = 0; i < 5; ++i) {
        ::kill(static_cast<pid_t>(tcp.Pid()), SIGUSR1);
        const QString code = tcp.Line(QByteArrayLiteral("pairing code: "));
        QElapsedTimer t;
        t.start();
        const CPairOutcome o = PairWithTerminal(tcp.Port(), code, settings);
        pairing.push_back(t.nsecsElapsed() / 1e6);
        if (o.result != EPairResult::Paired) {
            std::fprintf(stderr, "pairing failed: %s\n", qPrintable(o.text));
            return 1;
        }
    }
    // Session set-up: TCP connect, TLS 1.3 handshake, pin check, greeting.
    std::vector<double> setup, hello;
    for (int i = 0; i < 20; ++i) {
        CParlinkX2 link(settings);
        QElapsedTimer t;
        t.start();
        if (link.OpenPort(tcp.Port()) != 1) return 1;
        setup.push_back(t.nsecsElapsed() / 1e6);
        if (link.WaitLink(30000) != 1) return 1;
        hello.push_back(t.nsecsElapsed() / 1e6);
        link.ClosePort();
    }
    // A command and its answer on an open session, as an exchange asks its
    // terminal one thing after another.
    std::vector<double> roundTrip;
    {
        CParlinkX2 link(settings);
        if (!Connect(link, tcp.Port())) return 1;
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer t;
            t.start();
            QString answer;
            if (link.SendCommand(QStringLiteral("998")) != 1 || link.Receive(&answer) != 1 || answer.isEmpty()) return 1;
            roundTrip.push_back(t.nsecsElapsed() / 1e6);
        }
        link.SendCommand(QStringLiteral("004"));
        link.ClosePort();
    }
    std::printf("%-34s %8.1f ms (median of 5)\n", "pairing (TLS + SPAKE2 + pins)", Median(pairing));
    std::printf("%-34s %8.1f ms (median of 20)\n", "TLS session set-up (OpenPort)", Median(setup));
    std::printf("%-34s %8.1f ms (median of 20)\n", "... to the first pong (WaitLink)", Median(hello));
    std::printf("%-34s %8.2f ms (median of 200)\n", "a command and its answer (998)", Median(roundTrip));

    // The yardstick: the stored bytes of the same records through plain TLS.
    QByteArray storedWares;
    for (const QString& line : wares) storedWares += CodePage::ToWindows1251(line) + "\r\n";
    const CTlsPipeFigures waresPipe = MedianTlsPipe(storedWares, 3);
    const CTlsPipeFigures journalPipe = MedianTlsPipe(journal, 3);
    if (!waresPipe.ok || !journalPipe.ok)
        std::fprintf(stderr, "TLS pipe: %s\n", qPrintable(waresPipe.ok ? journalPipe.error : waresPipe.error));
    std::printf("%-34s %8.2f ms CPU/MB (both ends)\n", "TLS pipe, wares",
                waresPipe.cpuSeconds * 1000 / std::max(storedWares.size() / 1e6, 1e-9));
    std::printf("%-34s %8.2f ms CPU/MB (both ends)\n", "TLS pipe, journal",
                journalPipe.cpuSeconds * 1000 / std::max(journal.size() / 1e6, 1e-9));

    // --tcp-only: without the pseudo-terminal's runs (for a profile of the network link alone).
    const bool withPty = !app.arguments().contains(QStringLiteral("--tcp-only"));
    // --only upload|journal: one direction alone (for a profile of it).
    const QString only = TextOption(app.arguments(), QStringLiteral("--only"));
    if (only != QStringLiteral("journal")) {
        if (withPty) Print("upload of realistic wares", "pty", Upload(pty, settings, storedWares), waresPipe);
        Print("upload of realistic wares", "tcp", MedianRun(runs, [&] { return Upload(tcp, settings, storedWares); }),
              waresPipe);
    }
    if (only != QStringLiteral("upload")) {
        if (withPty) {
            Print("download of a realistic journal", "pty", Download(pty, settings, journal, records), journalPipe);
            // The first download after an upload includes the emulator's
            // reading and indexing of its new wares; the next one does not.
            Print("the same journal again", "pty", Download(pty, settings, journal, records), journalPipe);
        }
        Print("download of a realistic journal", "tcp",
              MedianRun(runs, [&] { return Download(tcp, settings, journal, records); }), journalPipe);
    }
    return 0;
}
