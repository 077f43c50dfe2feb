// kxsync end to end: the real kxsync and kxloader against several emulated
// terminals on pseudo-terminals, one of which is missing and one not ready.

#include "tests/cli/CliFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <memory>

namespace {

struct CEmulated {
    QString name;
    QString state;
    std::unique_ptr<CTerminalProcess> process;
    QByteArray journal;  // Windows-1251, CR LF
};

class Sync : public Cli {
protected:
    void SetUp() override {
        Cli::SetUp();
        ASSERT_TRUE(::link(QFile::encodeName(ProgramBinFolder() + "/kxsync").constData(),
                           QFile::encodeName(program + "/kxsync").constData()) == 0 ||
                    QFile::copy(ProgramBinFolder() + "/kxsync", program + "/kxsync"));
        // The shared settings: the project; their own port is never used.
        WriteSettings("/dev/null-port", project);
    }

    void AddTerminal(const QString& name, int lines, const QString& scenario = QString()) {
        CEmulated t;
        t.name = name;
        t.state = dir.File("state-" + name);
        ASSERT_TRUE(QDir().mkpath(t.state));
        t.journal = TerminalJournal(lines, static_cast<int>(terminals.size()) + 1);
        ASSERT_TRUE(WriteFileBytes(t.state + "/journal.txt", t.journal));
        if (!scenario.isEmpty()) {
            ASSERT_TRUE(WriteFileBytes(t.state + "/scenario.ini", ("[scenario]\n" + scenario + "\n").toUtf8()));
        }
        t.process = std::make_unique<CTerminalProcess>();
        ASSERT_TRUE(t.process->Start(t.state)) << t.process->Diagnostics().toStdString();
        list += name + "   " + t.process->Port() + "\n";
        terminals.push_back(std::move(t));
    }

    int SyncAll(const QStringList& args, const QStringList& options = {}) {
        EXPECT_TRUE(WriteFileBytes(dir.File("terminals.list"), list.toUtf8()));
        return RunProgram(program + "/kxsync", options + QStringList{dir.File("terminals.list")} + args, Environment());
    }

    std::vector<CEmulated> terminals;
    QString list = "# the terminals of the test\n";
};

}  // namespace

TEST_F(Sync, EveryTerminalGetsItsOwnFilesAndAFailedOneStopsNoOther) {
    AddTerminal("alpha", 300);
    list += "beta   " + dir.File("no-such-port") + "\n";  // a terminal that is not there
    AddTerminal("gamma", 5, "NotReady=Идет инвентаризация");
    AddTerminal("delta", 1200);

    const QByteArray projectBefore = ReadFileBytes(project);
    EXPECT_EQ(SyncAll({"/x", "/i", "/j", "/n", "/w", "demo_wares.ux7", "demo_waresl2.ux8"}), 3);
    // The runs shared the project and only read it.
    EXPECT_EQ(ReadFileBytes(project), projectBefore);

    // The ones that could, did everything, each into its own files.
    const QByteArray wares = ReadFileBytes(Files("demo_wares.ux7"));
    ASSERT_FALSE(wares.isEmpty());
    for (const char* name : {"alpha", "delta"}) {
        SCOPED_TRACE(name);
        const CEmulated& t = terminals[name == QString("alpha") ? 0 : 2];
        EXPECT_EQ(ReadFileBytes(Files(QString("errors-%1.txt").arg(name))), Cp1251("0;Нет ошибок;\r\n"));
        EXPECT_EQ(ReadFileBytes(Files(QString("journal-%1.txt").arg(name))), Downloaded(t.journal));
        EXPECT_EQ(ReadFileBytes(Files(QString("j_count-%1.txt").arg(name))),
                  QByteArray::number(t.journal.count('\n')));
        EXPECT_TRUE(ReadFileBytes(Files(QString("id_term-%1.txt").arg(name))).contains("DeviceID"));
        EXPECT_EQ(ReadFileBytes(t.state + "/directories/wares.ux7"), wares);
        // Its own settings: the shared ones with its port.
        const QStringList settings = QString::fromUtf8(ReadFileBytes(program + "/kxsync-terminals/" + name + ".ini"))
                                         .split(QRegularExpression("\r?\n"));
        EXPECT_TRUE(settings.contains("port=" + t.process->Port())) << settings.join('|').toStdString();
        EXPECT_TRUE(settings.contains("config=" + project)) << settings.join('|').toStdString();
    }
    // The missing one and the one that was not ready each report their own code.
    EXPECT_EQ(ReadFileBytes(Files("errors-beta.txt")), Cp1251("3;Ошибка открытия порта;\r\n"));
    EXPECT_EQ(ReadFileBytes(Files("errors-gamma.txt")), Cp1251("55;Ошибка - терминал не готов;\r\n"));
    EXPECT_FALSE(QFile::exists(Files("journal-gamma.txt")));
    EXPECT_FALSE(QFile::exists(terminals[1].state + "/directories/wares.ux7"));  // a failed batch uploads nothing
    // Nothing went to the shared names.
    for (const char* shared : {"errors.txt", "journal.txt", "j_count.txt", "id_term.txt"})
        EXPECT_FALSE(QFile::exists(Files(shared))) << shared;

    // The summary on standard output; on standard error (no terminal) only the
    // failure lines, each under its terminal's name.
    const QStringList summary = out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(summary.size(), 6) << out.toStdString();
    EXPECT_TRUE(summary[0].startsWith("terminal")) << out.toStdString();
    EXPECT_TRUE(summary[1].startsWith("alpha") && summary[1].contains("  0  Нет ошибок")) << out.toStdString();
    EXPECT_TRUE(summary[2].startsWith("beta") && summary[2].contains("  3  Ошибка открытия порта")) << out.toStdString();
    EXPECT_TRUE(summary[3].startsWith("gamma") && summary[3].contains(" 55  Ошибка - терминал не готов"))
        << out.toStdString();
    EXPECT_EQ(summary[5], "2 of 4 terminal(s) succeeded; exit status 3 (the first failed terminal, beta)");
    const QStringList errors = err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(errors.size(), 2) << err.toStdString();
    EXPECT_TRUE(errors.filter(QRegularExpression("^beta: kxloader: 3 Ошибка открытия порта: ")).size() == 1)
        << err.toStdString();
    EXPECT_TRUE(errors.filter(QRegularExpression("^gamma: kxloader: 55 .*Идет инвентаризация")).size() == 1)
        << err.toStdString();

    // Once every terminal can, the same batch ends with 0, replacing each one's files.
    list = QString(list).replace(QRegularExpression("beta[^\n]*\n"), "");
    ASSERT_TRUE(WriteFileBytes(terminals[1].state + "/scenario.ini", QByteArray()));
    EXPECT_EQ(SyncAll({"/x", "/j"}, {"--jobs", "2"}), 0) << err.toStdString();
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(Files("errors-gamma.txt")), Cp1251("0;Нет ошибок;\r\n"));
    EXPECT_EQ(ReadFileBytes(Files("journal-gamma.txt")), Downloaded(terminals[1].journal));
    EXPECT_TRUE(out.endsWith("3 of 3 terminal(s) succeeded; exit status 0\n")) << out.toStdString();
}

TEST_F(Sync, OnAConsoleEachTerminalHasALineRedrawnInPlace) {
    AddTerminal("alpha", 20);
    list += "beta   " + dir.File("no-such-port") + "\n";
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    ASSERT_TRUE(WriteFileBytes(dir.File("terminals.list"), list.toUtf8()));
    QProcess sync;
    sync.setProcessEnvironment(Environment());
    sync.setStandardErrorFile(QString::fromLocal8Bit(::ptsname(master)));
    sync.start(program + "/kxsync", {dir.File("terminals.list"), "/j"});
    QByteArray shown;
    char buffer[4096];
    for (int waited = 0; waited < 60000 && !sync.waitForFinished(50); waited += 50)
        for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, got);
    for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, got);
    ::close(master);
    EXPECT_EQ(sync.exitCode(), 3);
    const QString text = QString::fromUtf8(shown);
    // Two lines a frame, the next frame drawn over them, the last one with the results.
    EXPECT_TRUE(text.contains("\x1b[2A")) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("alpha +\\S+ +done 0 Нет ошибок"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("beta +\\S+ +FAILED 3 Ошибка открытия порта"))) << text.toStdString();
    EXPECT_TRUE(text.contains("beta: kxloader: 3 Ошибка открытия порта")) << text.toStdString();
    EXPECT_EQ(ReadFileBytes(Files("journal-alpha.txt")), Downloaded(terminals[0].journal));
}

namespace {

// Waits (bounded) until `done` holds.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QThread::msleep(20);
    }
    return true;
}

}  // namespace

// The terminals run at once, at most --jobs of them: while the first one's
// download is held, the second one is served or waits its turn.
TEST_F(Sync, TerminalsRunAtOnceAndJobsBoundsHowMany) {
    AddTerminal("alpha", 50, "HoldJournalAfter=10");
    AddTerminal("beta", 30);
    ASSERT_TRUE(WriteFileBytes(dir.File("terminals.list"), list.toUtf8()));
    const QString held = terminals[0].state + "/commands.log";
    const auto alphaHeld = [&] { return ReadFileBytes(held).contains("J held after 10"); };
    const auto betaDone = [&] { return QFile::exists(Files("journal-beta.txt")); };
    const auto release = [&] { return WriteFileBytes(terminals[0].state + "/release", QByteArray()); };

    // One at a time: beta waits while alpha is held.
    {
        CKxloaderRun sync;
        ASSERT_TRUE(sync.Start(program + "/kxsync", {"--jobs", "1", dir.File("terminals.list"), "/j"}, Environment()));
        ASSERT_TRUE(WaitUntil(alphaHeld));
        EXPECT_FALSE(WaitUntil(betaDone, 1500));
        EXPECT_FALSE(QFile::exists(terminals[1].state + "/commands.log"));  // not even a session
        ASSERT_TRUE(release());
        EXPECT_EQ(sync.Finish(), 0) << sync.Err().toStdString();
        EXPECT_TRUE(betaDone());
    }
    QFile::remove(terminals[0].state + "/release");
    QFile::remove(Files("journal-beta.txt"));
    // By default both at once: beta is done while alpha is still held.
    CKxloaderRun sync;
    ASSERT_TRUE(sync.Start(program + "/kxsync", {dir.File("terminals.list"), "/j"}, Environment()));
    ASSERT_TRUE(WaitUntil([&] { return alphaHeld() && betaDone(); }));
    ASSERT_TRUE(release());
    EXPECT_EQ(sync.Finish(), 0) << sync.Err().toStdString();
    EXPECT_EQ(ReadFileBytes(Files("journal-alpha.txt")), Downloaded(terminals[0].journal));
}

// A scheduler stops the round: the signal goes on to the kxloader running,
// which ends its exchange cleanly (nothing committed, nothing cleared); no
// other terminal is started; kxsync waits for it and ends with 128 + signal.
TEST_F(Sync, AStopSignalGoesOnToTheRunningKxloadersAndStartsNoOther) {
    AddTerminal("alpha", 50, "HoldJournalAfter=10");
    AddTerminal("beta", 30);
    ASSERT_TRUE(WriteFileBytes(dir.File("terminals.list"), list.toUtf8()));
    CKxloaderRun sync;
    ASSERT_TRUE(sync.Start(program + "/kxsync", {"--jobs", "1", dir.File("terminals.list"), "/j", "/c"}, Environment()));
    ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(terminals[0].state + "/commands.log").contains("J held after 10"); }));
    // The terminal stays held: the kxloader's wait for the next line ends
    // with its time-out, and then it sends nothing more.
    ::kill(static_cast<pid_t>(sync.Pid()), SIGTERM);
    EXPECT_EQ(sync.Finish(), 128 + SIGTERM) << sync.Err().toStdString();
    EXPECT_TRUE(sync.Err().contains("kxsync: stopped by SIGTERM")) << sync.Err().toStdString();
    EXPECT_TRUE(sync.Out().contains("143")) << sync.Out().toStdString();
    EXPECT_FALSE(QFile::exists(Files("journal-alpha.txt")));
    EXPECT_EQ(ReadFileBytes(terminals[0].state + "/journal.txt"), terminals[0].journal);
    EXPECT_FALSE(QFile::exists(terminals[1].state + "/commands.log"));  // never started
    EXPECT_EQ(ReadFileBytes(terminals[1].state + "/journal.txt"), terminals[1].journal);
}

// kxsync's own refusals end with 64, which no kxloader code has; a terminal
// whose kxloader refuses its batch passes on kxloader's 100. -j and -h are
// options, not list files.
TEST_F(Sync, ItsOwnUsageErrorsAreToldApartFromAKxloaderRefusingItsBatch) {
    AddTerminal("alpha", 3);
    EXPECT_EQ(SyncAll({"/s"}), 100) << err.toStdString();  // kxloader: /s needs its words
    EXPECT_TRUE(out.contains("alpha")) << out.toStdString();

    const QString sync = program + "/kxsync";
    EXPECT_EQ(RunProgram(sync, {"-j", "2", dir.File("terminals.list"), "/x"}, Environment()), 0) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(Files("errors-alpha.txt")), Cp1251("0;Нет ошибок;\r\n"));
    EXPECT_EQ(RunProgram(sync, {"-j", "0", dir.File("terminals.list"), "/x"}, Environment()), 64);
    EXPECT_TRUE(err.contains("\"0\"")) << err.toStdString();
    EXPECT_EQ(RunProgram(sync, {"--bogus", dir.File("terminals.list"), "/x"}, Environment()), 64);
    EXPECT_TRUE(err.contains("bogus")) << err.toStdString();
    EXPECT_EQ(RunProgram(sync, {dir.File("no-such.list"), "/x"}, Environment()), 64);
    EXPECT_EQ(RunProgram(sync, {dir.File("terminals.list")}, Environment()), 64);  // no switches
    EXPECT_EQ(RunProgram(sync, {"-h"}, Environment()), 0);
    EXPECT_TRUE(out.startsWith("usage: kxsync")) << out.toStdString();
    // After "--" a word like an option is the list's name.
    EXPECT_EQ(RunProgram(sync, {"--", "-h", "/x"}, Environment()), 64);
    EXPECT_TRUE(err.contains("-h")) << err.toStdString();
}

// A kxloader that cannot be started is told as the terminal's 125, at once:
// its failure to start is an event, not a wait.
TEST_F(Sync, AKxloaderThatCannotBeStartedIsTheTerminals125) {
    AddTerminal("alpha", 3);
    ASSERT_TRUE(QFile::remove(program + "/kxloader"));
    EXPECT_EQ(SyncAll({"/x"}), 125);
    EXPECT_TRUE(err.contains("alpha: kxsync: cannot start")) << err.toStdString();
    EXPECT_TRUE(out.contains("0 of 1 terminal(s) succeeded; exit status 125")) << out.toStdString();
}
