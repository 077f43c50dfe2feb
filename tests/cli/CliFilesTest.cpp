// The files a command-line run leaves on the PC, as warehouse scripts meet
// them: two runs at once on one journal, kills in the middle of an append, a
// full disk, names in Windows-1251 bytes, a report that cannot be written,
// working copies of killed runs, absolute paths. Every kill happens at a
// point the test holds the program at: a kill point of the program
// (KX_TEST_PAUSE_AT) or the emulator holding a journal (HoldJournalAfter).

#include "platform/CodePage.h"
#include "tests/cli/CliFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {


// The files a run leaves beside a target while it writes it.
QStringList StagingFiles(const QString& folder) {
    return QDir(folder).entryList({".*.kxtmp", "*.lock"}, QDir::Files | QDir::Hidden);
}

class CliFiles : public Cli {
protected:
    // A second terminal with a state folder of its own.
    void StartSecondTerminal(const QByteArray& journal) {
        stateB = dir.File("stateB");
        ASSERT_TRUE(QDir().mkpath(stateB));
        ASSERT_TRUE(WriteFileBytes(stateB + "/journal.txt", journal));
        ASSERT_TRUE(terminalB.Start(stateB)) << terminalB.Diagnostics().toStdString();
    }
    // A settings file of its own for one terminal (KXLOADER_INI).
    QString Settings(const QString& name, const QString& port, int overwrite, const QString& extra = {}) {
        const QString path = dir.File(name);
        EXPECT_TRUE(WriteFileBytes(path, QStringLiteral("[kxloader.exe]\nport=%1\nconfig=%2\nOverwriteJournal=%3\n%4")
                                             .arg(port, project)
                                             .arg(overwrite)
                                             .arg(extra)
                                             .toUtf8()));
        return path;
    }
    QProcessEnvironment EnvironmentWith(const QString& settings, const QString& pauseAt = {}) const {
        QProcessEnvironment env = Environment();
        if (!settings.isEmpty()) env.insert("KXLOADER_INI", settings);
        if (!pauseAt.isEmpty()) env.insert("KX_TEST_PAUSE_AT", pauseAt);
        return env;
    }
    QString Kxloader() const { return program + "/kxloader"; }

    QString stateB;
    CTerminalProcess terminalB;
};

TEST_F(CliFiles, TwoRunsAtOnceOnOneJournalNeverMixItAndTheLoserSaysWhoKeptIt) {
    const QByteArray journalA = TerminalJournal(400, 1);
    const QByteArray journalB = TerminalJournal(400, 2);
    ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", journalA));
    StartTerminal();
    StartSecondTerminal(journalB);
    const QByteArray old = Downloaded(TerminalJournal(30, 3));
    ASSERT_TRUE(WriteFileBytes(Files("journal.txt"), old));

    // Both runs are in the middle of their downloads at the same time, then
    // both go on: each journal lands whole, one after the other.
    for (const QString& folder : {state, stateB})
        ASSERT_TRUE(WriteFileBytes(folder + "/scenario.ini", "[scenario]\nHoldJournalAfter=5\n"));
    const QString iniA = Settings("a.ini", terminal.Port(), 0);
    const QString iniB = Settings("b.ini", terminalB.Port(), 0);
    CKxloaderRun a, b;
    ASSERT_TRUE(a.Start(Kxloader(), {"/j"}, EnvironmentWith(iniA)));
    ASSERT_TRUE(b.Start(Kxloader(), {"/j"}, EnvironmentWith(iniB)));
    ASSERT_TRUE(WaitForLog(state + "/commands.log", "J held after 5"));
    ASSERT_TRUE(WaitForLog(stateB + "/commands.log", "J held after 5"));
    ASSERT_TRUE(WriteFileBytes(state + "/release", ""));
    ASSERT_TRUE(WriteFileBytes(stateB + "/release", ""));
    EXPECT_EQ(a.Finish(), 0) << a.Err().toStdString();
    EXPECT_EQ(b.Finish(), 0) << b.Err().toStdString();
    const QByteArray both = ReadFileBytes(Files("journal.txt"));
    const QByteArray downloadedA = Downloaded(journalA), downloadedB = Downloaded(journalB);
    EXPECT_TRUE(both == old + downloadedA + downloadedB || both == old + downloadedB + downloadedA)
        << both.size() << " bytes, expected " << (old.size() + downloadedA.size() + downloadedB.size());
    EXPECT_EQ(StagingFiles(Files("")), QStringList());

    // Run A holds the journal at the moment it replaces it; run B, told not
    // to wait, gives the file's error and names A; the journal stays as it
    // was and B's lines are kept where B says.
    for (const QString& folder : {state, stateB}) QFile::remove(folder + "/scenario.ini");
    const QByteArray before = ReadFileBytes(Files("journal.txt"));
    Settings("a.ini", terminal.Port(), 1);
    Settings("b.ini", terminalB.Port(), 1, "BusyFileWait=0\n");
    CKxloaderRun holder;
    ASSERT_TRUE(holder.Start(Kxloader(), {"/j"}, EnvironmentWith(iniA, "commit:locked")));
    ASSERT_TRUE(holder.WaitStopped());
    EXPECT_EQ(RunProgram(Kxloader(), {"/x", "b-errors.txt", "/j"}, EnvironmentWith(iniB)), 10);
    EXPECT_EQ(ReadFileBytes(Files("b-errors.txt")), Cp1251("10;Ошибка создания файла журнала;\r\n"));
    EXPECT_TRUE(err.startsWith("kxloader: 10 Ошибка создания файла журнала: cannot write the file " +
                               Files("journal.txt") + ": it is being written by kxloader process " +
                               QString::number(holder.Pid()) + ": settings " + iniA))
        << err.toStdString();
    EXPECT_TRUE(err.contains("; " + Files("journal.txt") + " left as it was, the 400 line(s) received are in " +
                             Files("journal.txt.partial")))
        << err.toStdString();
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")), before);
    EXPECT_EQ(ReadFileBytes(Files("journal.txt.partial")), downloadedB);
    holder.Continue();
    EXPECT_EQ(holder.Finish(), 0) << holder.Err().toStdString();
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")), downloadedA);
    EXPECT_FALSE(QFile::exists(Files("journal.txt.partial")));
    EXPECT_EQ(StagingFiles(Files("")), QStringList());
}

TEST_F(CliFiles, AKillWhileAJournalIsAppendedLeavesTheOldJournalAndTheRetryAddsItOnce) {
    const QByteArray journal = TerminalJournal(3000, 4);
    ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", journal));
    StartTerminal();
    WriteSettings(terminal.Port(), project, 0);
    const QByteArray old = Downloaded(TerminalJournal(2000, 5));
    const QByteArray downloaded = Downloaded(journal);

    // Halfway through the copy of the new lines, and with old and new lines
    // whole but not yet in place.
    for (const char* point : {"append:half", "append:built"}) {
        SCOPED_TRACE(point);
        ASSERT_TRUE(WriteFileBytes(Files("journal.txt"), old));
        // A journal file set back by hand: what the program kept of it goes too.
        ASSERT_TRUE(QDir(program + "/state").removeRecursively());
        CKxloaderRun run;
        ASSERT_TRUE(run.Start(Kxloader(), {"/j"}, EnvironmentWith(QString(), point)));
        ASSERT_TRUE(run.WaitStopped());
        run.Kill();
        EXPECT_EQ(ReadFileBytes(Files("journal.txt")), old);
        EXPECT_EQ(Run({"/j"}), 0) << err.toStdString();
        EXPECT_EQ(ReadFileBytes(Files("journal.txt")), old + downloaded);
        EXPECT_EQ(StagingFiles(Files("")), QStringList());
    }

    // In the middle of the download itself.
    ASSERT_TRUE(WriteFileBytes(Files("journal.txt"), old));
    ASSERT_TRUE(QDir(program + "/state").removeRecursively());
    Scenario("HoldJournalAfter=100\n");
    CKxloaderRun run;
    ASSERT_TRUE(run.Start(Kxloader(), {"/j"}, Environment()));
    ASSERT_TRUE(WaitForLog(state + "/commands.log", "J held after 100"));
    run.Kill();
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")), old);
    ASSERT_TRUE(QFile::remove(state + "/scenario.ini"));
    EXPECT_EQ(Run({"/j"}), 0) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")), old + downloaded);
    EXPECT_EQ(StagingFiles(Files("")), QStringList());
}

// A small disk of its own: a tmpfs mounted in a user and mount namespace of
// the run's own (root in CI does not need one, but gets one all the same).
bool CanMountSmallDisk(const QString& where) {
    QProcess probe;
    probe.start("unshare", {"-rm", "sh", "-c", "mount -t tmpfs -o size=64k tmpfs \"$0\" && command -v setpriv", where});
    return probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

TEST_F(CliFiles, AFullDiskNeverCostsTheOldJournalAndSaysSo) {
    const QString disk = dir.File("disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    if (!CanMountSmallDisk(disk)) GTEST_SKIP() << "no user namespace for a small tmpfs here (unshare -rm)";
    const QByteArray journal = TerminalJournal(600, 6);
    ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", journal));
    StartTerminal();
    const QByteArray old = Downloaded(TerminalJournal(100, 7));
    ASSERT_TRUE(WriteFileBytes(dir.File("old-journal.txt"), old));
    const QString results = dir.File("after");

    // The journal on a tmpfs with 12 KiB left; the new one needs more. The
    // run has no capabilities, so a folder without write permission takes no
    // new files from it (root's too).
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=256k tmpfs \"$DISK\" || exit 90\n"
        "mkdir \"$DISK/files\" && cp \"$OLD\" \"$DISK/files/journal.txt\" && chmod 666 \"$DISK/files/journal.txt\"\n"
        "avail=$(df --output=avail -B1 \"$DISK\" | tail -1)\n"
        "head -c $((avail - 12288)) /dev/zero > \"$DISK/filler\"\n"
        "[ \"$FOLDER_WRITABLE\" = 1 ] || chmod 555 \"$DISK/files\"\n"
        "setpriv --bounding-set=-all -- \"$KX\" /j \"$DISK/files/journal.txt\"\n"
        "rc=$?\n"
        "rm -rf \"$RESULTS\" && mkdir \"$RESULTS\" && cp -a \"$DISK/files/.\" \"$RESULTS/\" && chmod 755 \"$RESULTS\"\n"
        "exit $rc\n");
    struct Case {
        const char* name;
        bool folderWritable;
        int overwrite;
    };
    for (const Case& c : {Case{"beside the journal", true, 1}, Case{"in place, replaced", false, 1},
                          Case{"in place, appended", false, 0}}) {
        SCOPED_TRACE(c.name);
        WriteSettings(terminal.Port(), project, c.overwrite);
        QProcessEnvironment env = Environment();
        env.insert("DISK", disk);
        env.insert("OLD", dir.File("old-journal.txt"));
        env.insert("KX", Kxloader());
        env.insert("RESULTS", results);
        env.insert("FOLDER_WRITABLE", c.folderWritable ? "1" : "0");
        env.insert("TMPDIR", dir.File("tmp"));
        ASSERT_TRUE(QDir().mkpath(dir.File("tmp")));
        const int code = RunProgram("unshare", {"-rm", "sh", "-c", script}, env);
        ASSERT_NE(code, 90) << err.toStdString();
        EXPECT_EQ(code, 12) << err.toStdString();
        EXPECT_EQ(ReadFileBytes(results + "/journal.txt"), old);
        EXPECT_TRUE(err.contains("cannot write the file " + disk + "/files/journal.txt: No space left on device; " +
                                 disk + "/files/journal.txt left as it was"))
            << err.toStdString();
        EXPECT_FALSE(err.contains("Unknown error")) << err.toStdString();
        EXPECT_EQ(StagingFiles(results), QStringList());
        EXPECT_EQ(QDir(dir.File("tmp/kxconfig-0")).entryList({"kx_*"}, QDir::Files), QStringList());
    }
}

TEST_F(CliFiles, NamesInWindows1251BytesAreKeptAsGiven) {
    UseTerminal();
    QProcessEnvironment env = Environment();
    env.insert("KX", Kxloader());
    // "журнал.txt" and "опер.txt" in Windows-1251, as a warehouse script writes them.
    const QByteArray journalName("\xE6\xF3\xF0\xED\xE0\xEB.txt");
    const QByteArray operationsName("\xEE\xEF\xE5\xF0.txt");
    const QByteArray files = QFile::encodeName(Files(""));
    // Qt cannot reach these names, so the test folder could not remove them.
    struct CRemoveByBytes {
        QList<QByteArray> paths;
        ~CRemoveByBytes() {
            for (const QByteArray& path : paths) ::unlink(path.constData());
        }
    } cleanUp{{files + journalName, files + operationsName}};
    EXPECT_EQ(RunProgram("sh", {"-c", "exec \"$KX\" /x /j \"$(printf '\\346\\363\\360\\355\\340\\353.txt')\""}, env), 0)
        << err.toStdString();
    EXPECT_EQ(::access((files + journalName).constData(), F_OK), 0);
    EXPECT_EQ(QDir(Files("")).entryList().filter(QChar(0xFFFD)), QStringList());

    // Another name is another file: one that is not there is not uploaded
    // from the journal written just before.
    EXPECT_EQ(RunProgram("sh", {"-c", "exec \"$KX\" /x /o \"$(printf '\\356\\357\\345\\360.txt')\""}, env), 20);
    EXPECT_TRUE(err.contains("cannot open the file " + Files("") + "\\xEE\\xEF\\xE5\\xF0.txt: No such file or directory"))
        << err.toStdString();
    EXPECT_TRUE(Received().isEmpty());
    EXPECT_EQ(Report(), Cp1251("20;Ошибка открытия файла;\r\n"));

    const QByteArray operations = ReadFileBytes(Files("demo_opers.ux3"));
    const int named = ::open((files + operationsName).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(named, 0);
    ASSERT_EQ(::write(named, operations.constData(), operations.size()), operations.size());
    ::close(named);
    EXPECT_EQ(RunProgram("sh", {"-c", "exec \"$KX\" /x /o \"$(printf '\\356\\357\\345\\360.txt')\""}, env), 0)
        << err.toStdString();
    EXPECT_EQ(ReadFileBytes(state + "/directories/opers.ux3"), operations);
}

// The report is written last and replaces its file whole: a run whose report
// is also its journal is refused at once, whichever comes first. Before, the
// journal after the report waited a minute on this run's own report lock,
// and a report after the journal would have removed the downloaded lines.
TEST_F(CliFiles, NoOtherSwitchOfARunUsesItsReportFile) {
    UseTerminal();
    EXPECT_EQ(Run({"/x", "j.txt", "/j", "j.txt"}), 100);
    EXPECT_TRUE(err.contains("is this run's report (/x)")) << err.toStdString();
    EXPECT_TRUE(ReadFileBytes(Files("j.txt")).startsWith("100;")) << ReadFileBytes(Files("j.txt")).constData();
    EXPECT_FALSE(Commands().contains("C 021"));

    EXPECT_EQ(Run({"/j", "k.txt", "/x", "k.txt"}), 100);
    EXPECT_TRUE(err.contains("the report would replace it")) << err.toStdString();
    const QByteArray lines = ReadFileBytes(Files("k.txt"));
    EXPECT_TRUE(lines.contains(Cp1251("4603393792901;12;1;1;1;1;Т00001;08.12.2026 09:14:03;"))) << lines.constData();
    EXPECT_FALSE(lines.startsWith("100;"));
}

TEST_F(CliFiles, AReportThatCannotBeWrittenIsToldAndNeverLooksLikeSuccess) {
    WriteSettings(dir.File("no-such-device"), project);
    const QByteArray success = Cp1251("0;Нет ошибок;\r\n");
    // Without capabilities a read-only file or folder is one for root too.
    const auto runWithoutRights = [&](const QStringList& args) {
        return geteuid() == 0 ? RunProgram("setpriv", QStringList{"--bounding-set=-all", "--", program + "/kxloader"} + args,
                                           Environment())
                              : Run(args);
    };

    // An old success report that is read-only: the run's own replaces it.
    ASSERT_TRUE(WriteFileBytes(Files("errors.txt"), success));
    ASSERT_TRUE(QFile::setPermissions(Files("errors.txt"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    EXPECT_EQ(runWithoutRights({"/x", "/j"}), 3);
    EXPECT_EQ(Report(), Cp1251("3;Ошибка открытия порта;\r\n"));

    // A folder that takes nothing and a report that cannot be written: the
    // run says so, and a run that went well does not end with 0.
    ASSERT_TRUE(WriteFileBytes(Files("errors.txt"), success));
    ASSERT_TRUE(QFile::setPermissions(Files("errors.txt"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QFile::Permissions folder = QFile::permissions(Files(""));
    ASSERT_TRUE(QFile::setPermissions(Files(""), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                     QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    EXPECT_EQ(runWithoutRights({"/x", "/j"}), 3);
    EXPECT_TRUE(err.contains("kxloader: cannot write the report file " + Files("errors.txt") +
                             ": Permission denied; the old report " + Files("errors.txt") +
                             " could not be removed either (Permission denied): it is not this run's (the run ended "
                             "with 3 Ошибка открытия порта)"))
        << err.toStdString();
    EXPECT_EQ(runWithoutRights({"/x"}), 11);
    EXPECT_TRUE(err.contains("kxloader: 11 Ошибка создания файла: cannot write the report file " +
                             Files("errors.txt") + ": Permission denied"))
        << err.toStdString();
    ASSERT_TRUE(QFile::setPermissions(Files(""), folder));

    // A report in a folder that is not there.
    EXPECT_EQ(Run({"/x", "no/such/errors.txt"}), 11);
    EXPECT_TRUE(err.startsWith("kxloader: 11 Ошибка создания файла: cannot write the report file " +
                               Files("no/such/errors.txt") + ": No such file or directory (the run itself ended "
                                                             "with 0 Нет ошибок)"))
        << err.toStdString();
}

TEST_F(CliFiles, KilledRunsLeaveNoWorkingCopiesAndALiveOnesStays) {
    // The runs' own folder in TMPDIR.
    const QString temporary = dir.File(QStringLiteral("tmp/kxconfig-%1").arg(geteuid()));
    ASSERT_TRUE(QDir().mkpath(dir.File("tmp")));
    const auto copies = [&] { return QDir(temporary).entryList({"kx_*.tmp"}, QDir::Files); };
    QProcessEnvironment env = Environment();
    env.insert("TMPDIR", dir.File("tmp"));
    UseTerminal();
    Scenario("HoldJournalAfter=1\n");

    // Runs killed in the middle of a download: each leaves its copy, and the
    // next start takes it away, so they never pile up.
    QStringList previous;
    for (int i = 1; i <= 3; ++i) {
        CKxloaderRun killed;
        ASSERT_TRUE(killed.Start(Kxloader(), {"/j"}, env));
        ASSERT_TRUE(WaitForLog(state + "/commands.log", "J held after 1", i));
        killed.Kill();
        const QStringList now = copies();
        ASSERT_EQ(now.size(), 1);
        EXPECT_NE(now, previous);
        previous = now;
    }

    // One that still runs keeps its copy while the next start clears the rest.
    CKxloaderRun live;
    ASSERT_TRUE(live.Start(Kxloader(), {"/j"}, env));
    ASSERT_TRUE(WaitForLog(state + "/commands.log", "J held after 1", 4));
    const QStringList withLive = copies();
    ASSERT_EQ(withLive.size(), 1);
    EXPECT_NE(withLive, previous);
    EXPECT_EQ(RunProgram(Kxloader(), {"/x"}, env), 0) << err.toStdString();
    EXPECT_EQ(copies(), withLive);
    ASSERT_TRUE(WriteFileBytes(state + "/release", ""));
    EXPECT_EQ(live.Finish(), 0) << live.Err().toStdString();
    EXPECT_EQ(QDir(temporary).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(CliFiles, AbsolutePathsAreFileNamesAndDoubleDashEndsTheSwitches) {
    UseTerminal();
    const QString elsewhere = dir.File("elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QFile::copy(Files("demo_wares.ux7"), elsewhere + "/wares.ux7"));
    ASSERT_TRUE(QFile::copy(Files("demo_waresl2.ux8"), elsewhere + "/waresl2.ux8"));
    EXPECT_EQ(Run({"/x", "/w", elsewhere + "/wares.ux7", elsewhere + "/waresl2.ux8"}), 0) << err.toStdString();
    EXPECT_EQ(Received(), QStringList({"wares.ux7", "waresl2.ux8"}));
    EXPECT_EQ(ReadFileBytes(state + "/directories/waresl2.ux8"), ReadFileBytes(elsewhere + "/waresl2.ux8"));

    EXPECT_EQ(Run({"/j", elsewhere + "/journal.txt", "/x", elsewhere + "/errors.txt"}), 0) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(elsewhere + "/journal.txt").count('\n'), 4);
    EXPECT_EQ(ReadFileBytes(elsewhere + "/errors.txt"), Cp1251("0;Нет ошибок;\r\n"));

    // After "--" a word is a name whatever it looks like.
    EXPECT_EQ(Run({"/j", "filter:"}), 100);
    EXPECT_EQ(Run({"/j", "--", "filter:"}), 0) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(Files("filter:")).count('\n'), 4);
    EXPECT_EQ(Run({"/x", "/n", "--", "--help"}), 0) << err.toStdString();
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(ReadFileBytes(Files("--help")), "4");
    EXPECT_EQ(Run({"/c", "--", "/x"}), 105);
    EXPECT_TRUE(err.contains("\"/x\" is no switch")) << err.toStdString();
    // Still unknown: a word with no second "/".
    EXPECT_EQ(Run({"/J"}), 105);
}

TEST_F(CliFiles, APartialThatIsAFolderIsNamedForWhatItIs) {
    UseTerminal();
    ASSERT_TRUE(QDir().mkpath(Files("journal.txt.partial")));
    EXPECT_EQ(Run({"/j"}), 0) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")).count('\n'), 4);
    EXPECT_TRUE(QFileInfo(Files("journal.txt.partial")).isDir());

    // A download cut off keeps its lines under a name of their own and says which.
    const QByteArray before = ReadFileBytes(Files("journal.txt"));
    Scenario("HoldJournalAfter=2\n");
    CKxloaderRun run;
    ASSERT_TRUE(run.Start(Kxloader(), {"/j"}, Environment()));
    ASSERT_TRUE(WaitForLog(state + "/commands.log", "J held after 2"));
    terminal.Kill();
    EXPECT_EQ(run.Finish(), 4);
    const QStringList kept = QDir(Files("")).entryList({"journal.txt.partial-*"}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(run.Err().contains(Files("journal.txt") + " left as it was, the 2 line(s) received are in " +
                                   Files(kept[0])))
        << run.Err().toStdString();
    EXPECT_EQ(ReadFileBytes(Files(kept[0])).count('\n'), 2);
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")), before);
}

}  // namespace
