// Link figures through the command line, as a warehouse system gets them:
// the real kxloader (and kxsync) in a program folder of their own, the demo
// project, and kxterminal on pseudo-terminals.
//
//   link_cli_bench [--records N]
//     kxloader /w of N wares (default 30,000) to a terminal paced to 115,200
//     baud: stored bytes a second and their multiple of the line's 11,520,
//     realistic wares and the synthetic ones, with the program's compression
//     chosen for a slow line (BaudRate=115200, as set) and, for comparison,
//     with the level a fast line gets (BaudRate=1000000 in parlink.ini; the
//     emulator still paces to 115,200).
//
//     Then kxloader /j of an N-line realistic journal of scans of those wares
//     from the same paced terminal: once with the program's copy of the wares
//     it uploaded (the barcodes travel as rows of the terminal's wares), once
//     without it (the copy folder removed): the journal file's bytes a
//     second and their multiple of the line.
//
//   link_cli_bench --terminals T [--lines N] [--jobs J] [--tcp]
//     kxsync against T unpaced emulated terminals, each receiving the same
//     N-line realistic wares file (default 100,000) and sending back an
//     N-line journal of its own (/x /w wares.ux7 /j): wall time for all T and
//     for one alone, the peak memory of the largest kxloader session (each
//     run under /usr/bin/time) and of an emulator, and every file compared
//     byte for byte. With --tcp the terminals listen on loopback TCP and each
//     is paired first (its pairing is not counted in the times).

#include "bench/BenchOptions.h"
#include "bench/link/BenchRecords.h"
#include "platform/CodePage.h"
#include "tests/link/TerminalProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kLineBytesPerSecond = 11520.0;

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray StoredLines(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines) bytes += CodePage::ToWindows1251(line) + "\r\n";
    return bytes;
}

// A program folder with kxloader, kxsync, the link component and the
// template, and a copy of the demo project.
class CInstall {
public:
    // `measured`: kxsync's kxloader is a wrapper that runs the real one (in
    // bin/real, with the link component beside it) under /usr/bin/time, which
    // appends each run's peak resident set in kB to Peaks().
    bool Make(bool measured = false) {
        if (!m_dir.isValid()) return false;
        QDir().mkpath(Bin() + "/real");
        QDir().mkpath(Project() + "/files");
        const auto place = [](const char* name, const QString& folder) {
            const QString from = QStringLiteral(KX_PROGRAM_DIR "/") + name;
            return ::link(QFile::encodeName(from).constData(), QFile::encodeName(folder + "/" + name).constData()) == 0;
        };
        for (const char* name : {"kxloader", "kxsync", "libparlink.so", "components.ini", "KXConfigFMT.db"})
            if (!place(name, Bin())) return false;
        if (measured) {
            for (const char* name : {"kxloader", "libparlink.so", "components.ini", "KXConfigFMT.db"})
                if (!place(name, Bin() + "/real")) return false;
            QFile::remove(Bin() + "/kxloader");
            const QString wrapper = QStringLiteral("#!/bin/sh\nexec /usr/bin/time -a -o '%1' -f %M '%2/real/kxloader' \"$@\"\n")
                                        .arg(Peaks(), Bin());
            if (!WriteBytes(Bin() + "/kxloader", wrapper.toUtf8()) ||
                !QFile::setPermissions(Bin() + "/kxloader", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                 QFileDevice::ExeOwner))
                return false;
        }
        return QFile::copy(QStringLiteral(KX_PROGRAM_DIR "/demo/demo.kxc"), Project() + "/demo.kxc") &&
               WriteBytes(Bin() + "/kxloader.ini",
                          QStringLiteral("[kxloader.exe]\nport=COM1\nconfig=%1/demo.kxc\n").arg(Project()).toUtf8());
    }
    void LinkSettings(const QByteArray& ini) const { WriteBytes(Bin() + "/parlink.ini", ini); }
    QString Bin() const { return m_dir.path() + "/bin"; }
    QString Project() const { return m_dir.path() + "/project"; }
    QString Files(const QString& name) const { return Project() + "/files/" + name; }
    QString Path() const { return m_dir.path(); }
    QString Peaks() const { return m_dir.path() + "/peaks.txt"; }

    // Runs a program of the folder to its end; the exit code, -1 when it did not end.
    int Run(const QString& program, const QStringList& args, const QProcessEnvironment& environment = {}) const {
        QProcess process;
        QProcessEnvironment env = environment.isEmpty() ? QProcessEnvironment::systemEnvironment() : environment;
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(Bin() + "/" + program, args);
        if (!process.waitForFinished(-1)) return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private:
    QTemporaryDir m_dir;
};

// kB of the peak resident set of a process still running (VmHWM).
long PeakKb(qint64 pid) {
    const QList<QByteArray> lines = ReadBytes(QStringLiteral("/proc/%1/status").arg(pid)).split('\n');
    for (const QByteArray& line : lines)
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

int PacedUploads(int records) {
    CInstall install;
    if (!install.Make()) return 1;
    CRealisticRecords realistic(records);
    QStringList synthetic;
    for (int i = 0; i < records; ++i) synthetic << BenchWareLine(i);
    std::printf("kxloader /w of %d wares records to kxterminal --baud 115200 (the line carries 11,520 bytes/s)\n",
                records);
    std::printf("%-10s %-34s %12s %10s %14s %10s\n", "wares", "program's compression", "stored bytes", "seconds",
                "stored B/s", "x line");
    bool ok = true;
    const QStringList other = COtherShapeRecords(records).Wares();
    for (const auto& [kind, lines] : {std::pair{"realistic", realistic.Wares()}, std::pair{"other", other},
                                      std::pair{"synthetic", synthetic}}) {
        const QByteArray stored = StoredLines(lines);
        WriteBytes(install.Files("wares.ux7"), stored);
        for (const auto& [what, baud] : {std::pair{"for the slow line (BaudRate=115200)", 115200},
                                         std::pair{"a fast line's (BaudRate=1000000)", 1000000}}) {
            install.LinkSettings(QStringLiteral("[link]\nBaudRate=%1\n").arg(baud).toUtf8());
            QTemporaryDir state;
            CTerminalProcess terminal;
            if (!terminal.Start(state.path(), {QStringLiteral("--pty"), QStringLiteral("--baud"), QStringLiteral("115200")}))
                return 1;
            WriteBytes(install.Bin() + "/kxloader.ini",
                       QStringLiteral("[kxloader.exe]\nport=%1\nconfig=%2/demo.kxc\n")
                           .arg(terminal.Port(), install.Project())
                           .toUtf8());
            QElapsedTimer clock;
            clock.start();
            const int code = install.Run(QStringLiteral("kxloader"), {QStringLiteral("/w"), QStringLiteral("wares.ux7")});
            const double seconds = clock.elapsed() / 1000.0;
            const bool exact = code == 0 && ReadBytes(state.path() + "/directories/wares.ux7") == stored;
            ok &= exact;
            std::printf("%-10s %-34s %12lld %10.1f %14.0f %10.2f%s\n", kind, what, static_cast<long long>(stored.size()),
                        seconds, stored.size() / seconds, stored.size() / seconds / kLineBytesPerSecond,
                        exact ? "" : "  FAILED");
            std::fflush(stdout);
        }
    }
    return ok ? 0 : 1;
}

// kxloader /w of realistic wares to a paced terminal, then /j of a journal
// of scans of them, with and without the program's copy of the wares.
int PacedJournal(int records) {
    CInstall install;
    if (!install.Make()) return 1;
    CRealisticRecords realistic(records);
    const QByteArray wares = StoredLines(realistic.Wares());
    const QStringList journal = realistic.Journal(records);
    QByteArray expected;  // the demo project numbers the journal's lines
    for (int i = 0; i < journal.size(); ++i)
        expected += QByteArray::number(i + 1) + ";" + CodePage::ToWindows1251(journal[i]) + "\r\n";
    WriteBytes(install.Files("wares.ux7"), wares);
    install.LinkSettings("[link]\nBaudRate=115200\n");
    QTemporaryDir state;
    WriteBytes(state.path() + "/journal.txt", StoredLines(journal));
    CTerminalProcess terminal;
    if (!terminal.Start(state.path(), {QStringLiteral("--pty"), QStringLiteral("--baud"), QStringLiteral("115200")}))
        return 1;
    WriteBytes(install.Bin() + "/kxloader.ini", QStringLiteral("[kxloader.exe]\nport=%1\nconfig=%2/demo.kxc\n")
                                                    .arg(terminal.Port(), install.Project())
                                                    .toUtf8());
    if (install.Run(QStringLiteral("kxloader"), {QStringLiteral("/w"), QStringLiteral("wares.ux7")}) != 0) return 1;
    std::printf("\nkxloader /j of %d realistic scans of those wares from kxterminal --baud 115200\n", records);
    std::printf("%-46s %12s %10s %14s %10s\n", "", "file bytes", "seconds", "file B/s", "x line");
    bool ok = true;
    for (const bool copy : {true, false}) {
        if (!copy) QDir(install.Bin() + "/wares").removeRecursively();
        const QString file = install.Files(QStringLiteral("scans.txt"));
        QFile::remove(file);
        QElapsedTimer clock;
        clock.start();
        const int code = install.Run(QStringLiteral("kxloader"), {QStringLiteral("/j"), file});
        const double seconds = clock.elapsed() / 1000.0;
        const bool exact = code == 0 && ReadBytes(file) == expected;
        ok &= exact;
        std::printf("%-46s %12lld %10.1f %14.0f %10.2f%s\n",
                    copy ? "the program keeps a copy of the terminal's wares" : "no copy (journal self-contained)",
                    static_cast<long long>(expected.size()), seconds, expected.size() / seconds,
                    expected.size() / seconds / kLineBytesPerSecond, exact ? "" : "  FAILED");
        std::fflush(stdout);
    }
    return ok ? 0 : 1;
}

struct CSyncRound {
    double seconds = 0;
    long loaderPeakKb = 0;
    long terminalPeakKb = 0;
    bool exact = false;
};

CSyncRound SyncRound(CInstall& install, int terminals, int lines, const QByteArray& wares, int jobs, bool tcp) {
    CSyncRound round;
    std::vector<std::unique_ptr<QTemporaryDir>> states;
    std::vector<std::unique_ptr<CTerminalProcess>> emulators;
    std::vector<QByteArray> journals;
    QString list;
    for (int t = 0; t < terminals; ++t) {
        states.push_back(std::make_unique<QTemporaryDir>());
        CRealisticRecords records(1000, 7000 + t);
        const QStringList journal = records.Journal(lines);
        journals.push_back(StoredLines(journal));
        WriteBytes(states.back()->path() + "/journal.txt", journals.back());
        emulators.push_back(std::make_unique<CTerminalProcess>());
        const QStringList listen = tcp ? QStringList{QStringLiteral("--listen-tcp"), QStringLiteral("127.0.0.1:0"),
                                                     QStringLiteral("--pairing-window")}
                                       : QStringList{QStringLiteral("--pty")};
        if (!emulators.back()->Start(states.back()->path(), listen)) return round;
        if (tcp) {
            // Each network terminal is paired once, with the code it shows,
            // before the round (the pins stay for the round's sessions).
            const QString ini = states.back()->path() + "/pair.ini";
            WriteBytes(ini, QStringLiteral("[kxloader.exe]\nport=%1\nconfig=%2/demo.kxc\n")
                                .arg(emulators.back()->Port(), install.Project())
                                .toUtf8());
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("KXLOADER_INI"), ini);
            if (install.Run(QStringLiteral("kxloader"), {QStringLiteral("/pair"), emulators.back()->PairingCode()}, env) != 0) {
                std::printf("t%d: pairing failed\n", t + 1);
                return round;
            }
        }
        list += QStringLiteral("t%1 %2\n").arg(t + 1, 2, 10, QLatin1Char('0')).arg(emulators.back()->Port());
        QFile::remove(install.Files(QStringLiteral("journal-t%1.txt").arg(t + 1, 2, 10, QLatin1Char('0'))));
    }
    WriteBytes(install.Path() + "/terminals.list", list.toUtf8());
    QFile::remove(install.Peaks());
    QElapsedTimer clock;
    clock.start();
    QStringList options;
    if (jobs > 0) options << QStringLiteral("--jobs") << QString::number(jobs);
    const int code = install.Run(QStringLiteral("kxsync"), options + QStringList{install.Path() + "/terminals.list", QStringLiteral("/x"),
                                                            QStringLiteral("/w"), QStringLiteral("wares.ux7"),
                                                            QStringLiteral("/j")});
    round.seconds = clock.elapsed() / 1000.0;
    for (const QByteArray& line : ReadBytes(install.Peaks()).split('\n'))
        round.loaderPeakKb = std::max(round.loaderPeakKb, line.trimmed().toLong());
    round.exact = code == 0;
    for (int t = 0; t < terminals; ++t) {
        round.terminalPeakKb = std::max(round.terminalPeakKb, PeakKb(emulators[t]->Pid()));
        const QString name = QStringLiteral("t%1").arg(t + 1, 2, 10, QLatin1Char('0'));
        QByteArray expected;  // the demo project numbers the journal's lines
        int n = 0;
        for (const QByteArray& line : journals[t].split('\n'))
            if (!line.isEmpty()) expected += QByteArray::number(++n) + ";" + line.chopped(1) + "\r\n";
        const bool same = ReadBytes(states[t]->path() + "/directories/wares.ux7") == wares &&
                          ReadBytes(install.Files("journal-" + name + ".txt")) == expected;
        if (!same) std::printf("%s: files differ\n", qPrintable(name));
        round.exact &= same;
    }
    return round;
}

int ManyTerminals(int terminals, int lines, int jobs, bool tcp) {
    CInstall install;
    if (!install.Make(true)) return 1;
    // Unpaced pseudo-terminals are fast lines: the link is told so, as it
    // would be for fast serial lines, and compresses as on one.
    install.LinkSettings("[link]\nBaudRate=4000000\n");
    QFile::link(install.Bin() + "/parlink.ini", install.Bin() + "/real/parlink.ini");
    CRealisticRecords realistic(lines);
    const QByteArray wares = StoredLines(realistic.Wares());
    WriteBytes(install.Files("wares.ux7"), wares);
    std::printf("kxsync /x /w wares.ux7 /j: each terminal gets the same %d-line realistic wares file (%lld bytes) and "
                "sends back a %d-line journal; %s\n",
                lines, static_cast<long long>(wares.size()), lines,
                tcp ? "paired terminals on loopback TCP (TLS 1.3)" : "unpaced pseudo-terminals, BaudRate=4000000");
    std::fflush(stdout);
    const CSyncRound one = SyncRound(install, 1, lines, wares, jobs, tcp);
    std::printf("%-40s %10.1f s %s\n", "one terminal alone: wall time", one.seconds, one.exact ? "" : "FAILED");
    std::fflush(stdout);
    const CSyncRound all = SyncRound(install, terminals, lines, wares, jobs, tcp);
    std::printf("%-40s %10.1f s %s\n",
                qPrintable(QStringLiteral("%1 terminals, --jobs %2: wall time")
                               .arg(terminals)
                               .arg(jobs > 0 ? QString::number(jobs) : QStringLiteral("default"))),
                all.seconds, all.exact ? "every file byte-exact" : "FAILED");
    std::printf("%-40s %10.1f x\n", "all against one alone", all.seconds / one.seconds);
    std::printf("%-40s %10.1f MB\n", "peak memory of a kxloader session (largest)", all.loaderPeakKb / 1024.0);
    std::printf("%-40s %10.1f MB\n", "peak memory of an emulated terminal", all.terminalPeakKb / 1024.0);
    return one.exact && all.exact ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int records = IntOption(args, QStringLiteral("--records"), 30000);
    const int terminals = IntOption(args, QStringLiteral("--terminals"), 0);
    const int lines = IntOption(args, QStringLiteral("--lines"), 100000);
    const int jobs = IntOption(args, QStringLiteral("--jobs"), 0);
    const bool tcp = FlagOption(args, QStringLiteral("--tcp"));
    if (terminals > 0) return ManyTerminals(terminals, lines, jobs, tcp);
    const int uploads = PacedUploads(records);
    return PacedJournal(records) | uploads;
}
