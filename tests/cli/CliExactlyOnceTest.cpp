// Every scan exactly once, as warehouse scripts run kxloader: a run that
// waits for another run's file while scans keep coming, a clear that is
// never confirmed (the program or the terminal killed while the terminal
// clears), a filtered run killed halfway and the next run under other
// settings and another spelling of the port, two programs on one terminal,
// and stop signals. Every kill happens where the test holds the program or
// the terminal: a command the emulator hangs at (HoldAtCommand), a journal it
// holds (HoldJournalAfter), a lock the test keeps. At the end of each case
// every scan the terminal ever held is in the journal file once, or still on
// the terminal, never both.

#include "platform/CodePage.h"
#include "filesafety/FileLock.h"
#include "tests/cli/CliFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {


QList<QByteArray> Lines(const QByteArray& bytes) {
    QList<QByteArray> lines;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        if (!line.isEmpty()) lines << line;
    }
    return lines;
}

// The scans of a downloaded journal (record numbers taken off).
QList<QByteArray> ScansOf(const QByteArray& downloaded) {
    QList<QByteArray> scans;
    for (const QByteArray& line : Lines(downloaded)) scans << line.mid(line.indexOf(';') + 1);
    return scans;
}

class CliOnce : public Cli {
protected:
    void SetUp() override {
        Cli::SetUp();
        journal = TerminalJournal(500, 30);
        ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", journal));
    }
    QProcessEnvironment EnvironmentWith(const QString& settings) const {
        QProcessEnvironment env = Environment();
        if (!settings.isEmpty()) env.insert("KXLOADER_INI", settings);
        return env;
    }
    QString Settings(const QString& name, const QString& port, const QString& extra = {}) {
        const QString path = dir.File(name);
        EXPECT_TRUE(WriteFileBytes(path, QStringLiteral("[kxloader.exe]\nport=%1\nconfig=%2\nOverwriteJournal=0\n%3")
                                             .arg(port, project, extra)
                                             .toUtf8()));
        return path;
    }
    // A scan made on the terminal now, as its scanner would.
    void Scan(QByteArray line) {
        while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
        QProcess scanner;
        scanner.start(ProgramBinFolder() + "/kxterminal",
                      {"--state", state, "--scan", CodePage::FromWindows1251(line)});
        ASSERT_TRUE(scanner.waitForFinished(30000));
        ASSERT_EQ(scanner.exitCode(), 0) << scanner.readAllStandardError().toStdString();
        made << line;
    }
    // Every scan made is in the journal file once or still on the terminal,
    // and never both.
    void ExpectEachScanOnce() {
        QList<QByteArray> everywhere = ScansOf(ReadFileBytes(Files("journal.txt")));
        everywhere += Lines(ReadFileBytes(state + "/journal.txt"));
        QList<QByteArray> expected = Lines(journal) + made;
        std::sort(everywhere.begin(), everywhere.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(everywhere.size(), expected.size());
        EXPECT_TRUE(everywhere == expected) << "lost or doubled scans";
    }
    // A round of a case from the start: the terminal holds the whole journal
    // again and is stopped, and the computer holds none of it.
    void NewRound() {
        ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", journal));
        QFile::remove(Files("journal.txt"));
        made.clear();
        if (terminal.Running()) terminal.Stop();
    }
    // After a whole round with a clear: nothing left on the terminal.
    void ExpectTheTerminalEmptyAndEachScanOnce() {
        EXPECT_TRUE(ReadFileBytes(state + "/journal.txt").isEmpty());
        ExpectEachScanOnce();
    }
    // Runs kxloader with `args` until the terminal hangs at its scenario's
    // command, then kills it.
    void KillAtHold(const QStringList& args, const QString& settings = {}) {
        CKxloaderRun run;
        ASSERT_TRUE(run.Start(program + "/kxloader", args, EnvironmentWith(settings)));
        ASSERT_TRUE(WaitForLog(state + "/commands.log", "S hold")) << Commands().join('\n').toStdString();
        run.Kill();
    }

    QByteArray journal;
    QList<QByteArray> made;
};

TEST_F(CliOnce, AScanMadeWhileTheRunWaitsForTheFileIsNeitherErasedNorLost) {
    UseTerminal();
    WriteSettings(terminal.Port(), project, 0);
    // Another run holds the journal file: this one downloads, then waits.
    CFileLock other;
    ASSERT_EQ(other.LockFile(Files("journal.txt.lock"), 0), CFileLock::Outcome::Locked);
    CKxloaderRun run;
    ASSERT_TRUE(run.Start(program + "/kxloader", {"/x", "/j", "/c"}, Environment()));
    ASSERT_TRUE(WaitForLog(state + "/commands.log", "C 031"));
    Scan(TerminalJournal(1, 31));
    other.Unlock();
    EXPECT_EQ(run.Finish(), 0) << run.Err().toStdString();
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")), Downloaded(journal));
    // The clear took what the file holds, and nothing made since.
    EXPECT_EQ(Lines(ReadFileBytes(state + "/journal.txt")), made);
    ExpectEachScanOnce();
    // One session: download, commit, clear.
    EXPECT_EQ(ReadFileBytes(state + "/commands.log").count("S begin"), 1);

    // The next round brings that scan, once.
    EXPECT_EQ(Run({"/x", "/j", "/c"}), 0) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")), Downloaded(journal) + Downloaded(made.front() + "\r\n"));
    ExpectTheTerminalEmptyAndEachScanOnce();
}

TEST_F(CliOnce, AClearNeverConfirmedDoesNotDoubleTheRetry) {
    // Killed while the terminal carries out the clear: the program, or the
    // terminal itself (restarted on the same state, at another port).
    for (const bool killTerminal : {false, true}) {
        SCOPED_TRACE(killTerminal ? "terminal killed" : "kxloader killed");
        ASSERT_NO_FATAL_FAILURE(NewRound());
        UseTerminal();
        WriteSettings(terminal.Port(), project, 0);
        Scenario("HoldAtCommand=00S\n");
        CKxloaderRun run;
        ASSERT_TRUE(run.Start(program + "/kxloader", {"/x", "/j", "/c"}, Environment()));
        ASSERT_TRUE(WaitForLog(state + "/commands.log", "S hold", killTerminal ? 2 : 1));
        if (killTerminal) {
            terminal.Kill();
            EXPECT_EQ(run.Finish(), 4) << run.Err().toStdString();
            UseTerminal();
            WriteSettings(terminal.Port(), project, 0);
        } else {
            run.Kill();
        }
        EXPECT_EQ(ReadFileBytes(Files("journal.txt")), Downloaded(journal));
        QFile::remove(state + "/scenario.ini");
        // A scan made meanwhile is the retry's, and the retry adds nothing twice.
        Scan(TerminalJournal(1, 32 + killTerminal));
        EXPECT_EQ(Run({"/x", "/j", "/c"}), 0) << err.toStdString();
        ExpectTheTerminalEmptyAndEachScanOnce();
    }
}

TEST_F(CliOnce, AKilledFilteredRunLeavesNoFilterForAnyLaterRunWhateverItsSettingsAndPortName) {
    // A terminal that drops a download's filters itself, and one that keeps
    // them (the reset then owed to it by its identity, not by the port).
    for (const bool keepsFilters : {false, true}) {
        SCOPED_TRACE(keepsFilters ? "terminal keeps filters" : "session filters");
        ASSERT_NO_FATAL_FAILURE(NewRound());
        ASSERT_TRUE(terminal.Start(state, keepsFilters ? QStringList{"--pty", "--capabilities", "none"}
                                                       : QStringList{"--pty"}));
        // A round's own settings file names the device; the user's names COM9.
        const QString round = Settings("gate1.ini", terminal.Port());
        ASSERT_TRUE(WriteFileBytes(program + "/parlink.ini", ("[ports]\nCOM9=" + terminal.Port() + "\n").toUtf8()));
        WriteSettings("COM9", project, 0);
        Scenario("HoldAtCommand=020\n");
        KillAtHold({"/x", "/j", "filter:", "o=3"}, round);
        QFile::remove(state + "/scenario.ini");
        EXPECT_EQ(Run({"/x", "/j", "/c"}), 0) << err.toStdString();
        EXPECT_EQ(ReadFileBytes(Files("journal.txt")), Downloaded(journal));
        ExpectTheTerminalEmptyAndEachScanOnce();
        QFile::remove(program + "/parlink.ini");
    }
}

TEST_F(CliOnce, AFilteredDownloadLeavesTheScansItLeftOutForTheNextDownloadAndNoClearErasesThem) {
    UseTerminal();
    WriteSettings(terminal.Port(), project, 0);
    // The scans of operation 3 alone, then a clear: only those go.
    EXPECT_EQ(Run({"/x", "/j", "filter:", "o=3"}), 0) << err.toStdString();
    QList<QByteArray> operation3, others;
    for (const QByteArray& line : Lines(journal)) (line.split(';').value(2) == "3" ? operation3 : others) << line;
    ASSERT_FALSE(operation3.isEmpty());
    ASSERT_FALSE(others.isEmpty());
    EXPECT_EQ(ScansOf(ReadFileBytes(Files("journal.txt"))), operation3);
    EXPECT_EQ(Run({"/x", "/c"}), 0) << err.toStdString();
    EXPECT_EQ(Lines(ReadFileBytes(state + "/journal.txt")), others);
    ExpectEachScanOnce();

    // A scan made since, then the plain round: every other scan, once.
    Scan(TerminalJournal(1, 40));
    EXPECT_EQ(Run({"/x", "/j", "/c"}), 0) << err.toStdString();
    EXPECT_EQ(ScansOf(ReadFileBytes(Files("journal.txt"))), operation3 + others + made);
    ExpectTheTerminalEmptyAndEachScanOnce();
    // Nothing new: the journal is empty, and nothing comes twice.
    EXPECT_EQ(Run({"/x", "/j", "/c"}), 50) << err.toStdString();
    ExpectEachScanOnce();
}

TEST_F(CliOnce, ASecondProgramWaitsForTheTerminalAndNeverComesInBetween) {
    UseTerminal();
    const QString mine = Settings("mine.ini", terminal.Port());
    const QString theirs = Settings("theirs.ini", terminal.Port(), "BusyFileWait=60\n");
    Scenario("HoldJournalAfter=50\n");
    CKxloaderRun first, second;
    ASSERT_TRUE(first.Start(program + "/kxloader", {"/x", "/j", "/c"}, EnvironmentWith(mine)));
    ASSERT_TRUE(WaitForLog(state + "/commands.log", "J held after 50"));
    ASSERT_TRUE(second.Start(program + "/kxloader", {"/x", "theirs.txt", "/j", "/c"}, EnvironmentWith(theirs)));
    // The second one is told "busy" and keeps asking (seen in the first
    // program's absence of any other session), then the first goes on.
    QThread::msleep(1500);
    EXPECT_EQ(ReadFileBytes(state + "/commands.log").count("S begin"), 1);
    ASSERT_TRUE(WriteFileBytes(state + "/release", ""));
    EXPECT_EQ(first.Finish(), 0) << first.Err().toStdString();
    QFile::remove(state + "/scenario.ini");
    EXPECT_EQ(second.Finish(), 50) << second.Err().toStdString();  // the first one cleared everything
    const QByteArray log = ReadFileBytes(state + "/commands.log");
    // The second session began only after the first one's goodbye.
    EXPECT_LT(log.indexOf("S bye"), log.lastIndexOf("S begin"));
    EXPECT_EQ(log.count("S begin"), 2);
    ExpectEachScanOnce();

    // Told not to wait for long, the second ends with its own code.
    ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", journal));
    QFile::remove(Files("journal.txt"));
    Settings("theirs.ini", terminal.Port(), "BusyFileWait=1\n");
    Scenario("HoldJournalAfter=50\n");
    QFile::remove(state + "/release");
    CKxloaderRun holder;
    ASSERT_TRUE(holder.Start(program + "/kxloader", {"/x", "/j", "/c"}, EnvironmentWith(mine)));
    ASSERT_TRUE(WaitForLog(state + "/commands.log", "J held after 50", 2));
    EXPECT_EQ(RunProgram(program + "/kxloader", {"/x", "other.txt", "/j"}, EnvironmentWith(theirs)), 6);
    EXPECT_EQ(ReadFileBytes(Files("other.txt")), Cp1251("6;Ошибка - терминал занят другой программой;\r\n"));
    EXPECT_TRUE(err.contains("is in a session with another program")) << err.toStdString();
    ASSERT_TRUE(WriteFileBytes(state + "/release", ""));
    EXPECT_EQ(holder.Finish(), 0) << holder.Err().toStdString();
    ExpectEachScanOnce();
}

// Two runs naming one report file: the second, while the first runs, leaves
// the report alone, so the first one's caller reads the first one's result.
TEST_F(CliOnce, ARunNeverTakesAReportFileAnotherRunStillUses) {
    UseTerminal();
    Scenario("HoldJournalAfter=50\n");
    CKxloaderRun first;
    ASSERT_TRUE(first.Start(program + "/kxloader", {"/x", "/j", "/c"}, Environment()));
    ASSERT_TRUE(WaitForLog(state + "/commands.log", "J held after 50"));
    EXPECT_EQ(Run({"/x", "/i"}), 11);
    EXPECT_TRUE(err.contains("belongs to kxloader process " + QString::number(first.Pid()))) << err.toStdString();
    EXPECT_FALSE(QFile::exists(Files("errors.txt")));
    // The first one fails (the terminal switched off): its report says so.
    terminal.Kill();
    EXPECT_EQ(first.Finish(), 4) << first.Err().toStdString();
    EXPECT_EQ(Report(), Cp1251("4;Ошибка обмена - терминал не отвечает;\r\n"));
    EXPECT_FALSE(QFile::exists(Files("errors.txt.lock")));
}

TEST_F(CliOnce, AStopSignalEndsTheSessionSendsNothingMoreAndSaysSo) {
    int round = 0;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        ++round;
        ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", journal));
        QFile::remove(state + "/release");
        if (terminal.Running()) terminal.Stop();
        UseTerminal();
        WriteSettings(terminal.Port(), project, 0);
        Scenario("HoldJournalAfter=100\n");
        MarkCommands();
        CKxloaderRun run;
        ASSERT_TRUE(run.Start(program + "/kxloader", {"/x", "/j", "/c"}, Environment()));
        ASSERT_TRUE(WaitForLog(state + "/commands.log", "J held after 100", round));
        ::kill(static_cast<pid_t>(run.Pid()), signal);
        ASSERT_TRUE(WriteFileBytes(state + "/release", ""));
        EXPECT_EQ(run.Finish(), 128 + signal);
        EXPECT_TRUE(run.Err().contains("stopped by")) << run.Err().toStdString();
        EXPECT_EQ(run.Err().count('\n'), 1) << run.Err().toStdString();
        // Nothing counts as done: no file, no clear, the session closed.
        EXPECT_FALSE(QFile::exists(Files("journal.txt")));
        EXPECT_FALSE(QFile::exists(Files("errors.txt")));
        const QStringList commands = Commands();
        EXPECT_FALSE(commands.contains("C 00S") || commands.contains("C 001"));
        EXPECT_TRUE(WaitForLog(state + "/commands.log", "S bye", round, 10000));
        EXPECT_EQ(ReadFileBytes(state + "/journal.txt"), journal);
        EXPECT_TRUE(QDir(Files("")).entryList({".*.kxtmp"}, QDir::Files | QDir::Hidden).isEmpty());
    }
}

}  // namespace
