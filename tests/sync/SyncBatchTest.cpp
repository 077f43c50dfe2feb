// What kxsync makes of a terminal list and of one batch for one terminal.

#include "app/CommandLine.h"
#include "app/CommandLineGrammar.h"
#include "app/KXConfigApp.h"
#include "directories/DirectoryFiles.h"
#include "directories/DirectoryKind.h"
#include "tests/app/LoaderTestRig.h"
#include "tests/exchange/FakeParlink.h"
#include "tools/kxsync/PerTerminalBatch.h"
#include "tools/kxsync/SyncRun.h"
#include "tools/kxsync/TerminalList.h"

#include "tests/support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QString ListError(const QByteArray& text) {
    QList<SyncTerminal> terminals;
    QString error;
    EXPECT_FALSE(ParseTerminalList(text, "t.list", &terminals, &error)) << text.toStdString();
    return error;
}

struct CProjectWithoutJournalIds : ICommandLineConfiguration {
    bool LoadConfigFileFMT() override { return true; }
    bool IsUploadJournalIdOn() override { return false; }
};

// kxloader's own batch (the code the program runs) against a scripted
// terminal that answers every exchange, in a folder of its own.
class CLoaderBatch : public CLoaderTestRig<CProjectWithoutJournalIds> {
public:
    CLoaderBatch() {
        EXPECT_TRUE(PrepareFolder());
        EXPECT_TRUE(dir.Write("files/up.txt", "x;1;2\r\n"));
    }
    ~CLoaderBatch() { SetProjectPath(QString()); }

    // Runs `batch` from an empty files folder (but for the uploaded up.txt):
    // its result code, and the files it left there.
    int Run(const QStringList& batch, QStringList* written) {
        QDir files(dir.File("files"));
        for (const QString& name : files.entryList(QDir::Files))
            if (name != "up.txt") files.remove(name);
        fake.Reset();
        fake.AnswerAsReadyTerminal();
        fake.AnswerAfter("020", {"1"});
        fake.AnswerAfter("021", {"46;1;3;1;1;1;W;2026;", QString(QChar(4))});
        fake.AnswerAfter("1F2", {"a;1", QString(QChar(4))});
        app.InitInstance(QStringList{"kxloader"} + batch);
        const int code = app.ExitInstance();
        *written = files.entryList(QDir::Files, QDir::Name);
        written->removeAll("up.txt");
        return code;
    }
};

}  // namespace

// Not a copy of kxloader's rules checked against itself: kxloader's own batch
// runs the original and the rewritten batch, and every file the original
// wrote (named or defaulted) is written under the terminal's name instead,
// with the same result, and nothing under a shared name.
TEST(SyncBatch, KxloaderItselfWritesEveryFileOfTheRewrittenBatchUnderTheTerminalsName) {
    CLoaderBatch loader;
    const QList<QStringList> batches{
        {"/x", "/i", "/j", "/n", "/c"},
        {"/x", "r.txt", "/i", "id.txt", "/j", "j.txt", "/n", "c.txt"},
        {"/j", "filter:", "o=3", "/x"},
        {"/n", "c.txt", "filter:", "o=3", "/i"},
        {"/q", "i.txt", "/i", "/x", "rep.txt"},
        {"/q", "i.txt", "-r", "/j"},
        {"/q", "", "/x"},
        {"/q", "up.txt", "-s", "/x", "/j"},
        {"/o", "up.txt", "/x", "/n"},
        {"/x", "--", "my-report.txt"},
        {"/j", "--", "filter:"},
        {"/x", "/n", "filter:", "o=3"},  // 100 with the report written
        {"/x", "/s", "o=3", "/f", "b=1", "/j"},
    };
    for (const QStringList& batch : batches) {
        SCOPED_TRACE(batch.join(' ').toStdString());
        QStringList shared, own;
        const int sharedCode = loader.Run(batch, &shared);
        const QStringList rewritten = PerTerminalArguments(batch, "g1");
        const int ownCode = loader.Run(rewritten, &own);
        EXPECT_EQ(ownCode, sharedCode) << rewritten.join(' ').toStdString();
        EXPECT_FALSE(shared.isEmpty());  // every batch here writes something
        QStringList expected;
        for (const QString& name : shared) expected << PerTerminalFileName(name, "g1");
        expected.sort();
        EXPECT_EQ(own, expected) << rewritten.join(' ').toStdString();
    }
    // /q with an empty name writes the project's info file; the terminal's
    // run writes its own beside it.
    QStringList written;
    loader.Run(PerTerminalArguments({"/q", ""}, "g1"), &written);
    EXPECT_EQ(written, QStringList({"info-g1.txt"}));
}

// A new directory kind with a switch is read by the grammar from the
// directory kinds' table: every such switch is known to the batch.
TEST(SyncBatch, EveryDirectorySwitchComesFromTheDirectoryKinds) {
    int kinds = 0;
    for (const DirectoryKindInfo& info : kDirectoryKinds) {
        if (!info.commandLineSwitch) continue;
        ++kinds;
        const BatchSwitch* found = FindBatchSwitch(QString::fromLatin1(info.commandLineSwitch));
        ASSERT_NE(found, nullptr) << info.commandLineSwitch;
        EXPECT_TRUE(found->shape == SwitchShape::InputFile || found->shape == SwitchShape::InputFiles);
        EXPECT_TRUE(IsKnownSwitch(found->name));
    }
    EXPECT_EQ(kinds, 5);  // /o /e /a /d /w
    EXPECT_EQ(FindBatchSwitch("/d")->shape, SwitchShape::InputFiles);
    EXPECT_EQ(FindBatchSwitch("/o")->shape, SwitchShape::InputFile);
}

TEST(SyncTerminalList, NamesAndPortsPerLineWithCommentsAndEveryBadLineNamed) {
    QList<SyncTerminal> terminals;
    QString error;
    ASSERT_TRUE(ParseTerminalList("# goods-in\n\ngate1 /dev/ttyUSB0\n  gate_2\ttcp:[::1]:5070  \r\n"
                                  "   # off for repair: gate3 COM3\nG.4-x local:term4\n",
                                  "t.list", &terminals, &error))
        << error.toStdString();
    ASSERT_EQ(terminals.size(), 3);
    EXPECT_EQ(terminals[0].name, "gate1");
    EXPECT_EQ(terminals[0].port, "/dev/ttyUSB0");
    EXPECT_EQ(terminals[0].line, 3);
    EXPECT_EQ(terminals[1].name, "gate_2");
    EXPECT_EQ(terminals[1].port, "tcp:[::1]:5070");
    EXPECT_EQ(terminals[2].name, "G.4-x");
    EXPECT_EQ(terminals[2].line, 6);

    // Names that would leave the files folder, hide a file or read as an option.
    for (const char* name : {"../up", "a/b", ".hidden", "-j", "with space", "\xD0\xB0\xD0\xB1"}) {
        EXPECT_FALSE(IsUsableTerminalName(QString::fromUtf8(name))) << name;
    }
    EXPECT_FALSE(IsUsableTerminalName(QString(65, 'a')));
    EXPECT_TRUE(IsUsableTerminalName(QString(64, 'a')));
    EXPECT_TRUE(ListError("ok COM1\n../x COM2\n").startsWith("t.list:2: the terminal name \"../x\" cannot be used"));
    EXPECT_EQ(ListError("a COM1\nb\n"), "t.list:2: expected a terminal name and a port, found 1 word(s): b");
    EXPECT_EQ(ListError("a COM1 extra\n"), "t.list:1: expected a terminal name and a port, found 3 word(s): a COM1 extra");
    EXPECT_TRUE(ListError("Gate COM1\ngate COM2\n").startsWith("t.list:2: the terminal name \"gate\" is in the list twice"));
    EXPECT_EQ(ListError("a COM1\nb COM1\n"), "t.list:2: the port COM1 is in the list twice");
    EXPECT_EQ(ListError("# nothing\n\n"), "t.list: no terminal in the list");
    EXPECT_EQ(ListError("a \xFF\xFE\n"), "t.list: not UTF-8 text");
}

TEST(SyncBatch, EveryWrittenFileGetsTheTerminalsNameAndEveryUploadedFileIsShared) {
    EXPECT_EQ(PerTerminalFileName("journal.txt", "g1"), "journal-g1.txt");
    EXPECT_EQ(PerTerminalFileName("/srv/out.d/j", "g1"), "/srv/out.d/j-g1");
    EXPECT_EQ(PerTerminalFileName("a.b.txt", "g1"), "a.b-g1.txt");
    EXPECT_EQ(PerTerminalFileName(".hidden", "g1"), ".hidden-g1");

    const auto of = [](const QStringList& batch) { return PerTerminalArguments(batch, "g1"); };
    // Defaults are written out, so no run falls back to the shared name.
    EXPECT_EQ(of({"/x", "/i", "/j", "/n", "/c"}),
              QStringList({"/x", "errors-g1.txt", "/i", "id_term-g1.txt", "/j", "journal-g1.txt", "/n",
                           "j_count-g1.txt", "/c"}));
    EXPECT_EQ(of({"/x", "r.txt", "/i", "id.txt", "/j", "/abs/j.txt", "/n", "c.txt"}),
              QStringList({"/x", "r-g1.txt", "/i", "id-g1.txt", "/j", "/abs/j-g1.txt", "/n", "c-g1.txt"}));
    // "filter:" after /j starts the filters; after /n it is the file name.
    EXPECT_EQ(of({"/j", "filter:", "o=3", "/n", "filter:", "o=3"}),
              QStringList({"/j", "journal-g1.txt", "filter:", "o=3", "/n", "filter:-g1", "o=3"}));
    EXPECT_EQ(of({"/j", "t.txt", "filter:", "e=2"}), QStringList({"/j", "t-g1.txt", "filter:", "e=2"}));
    // Uploads, filters and current values pass as they are.
    // (/e takes the next word as its name whatever it looks like, so "/x" there is a file.)
    const QStringList uploads{"/o", "op.txt", "/w", "w.ux7", "w.ux8", "/d", "d.txt", "/e", "/x", "/q", "info.txt",
                              "-s", "/s", "o=3", "/f", "b=1", "/d", "d.txt", "/j"};
    EXPECT_EQ(of(uploads), QStringList({"/o", "op.txt", "/w", "w.ux7", "w.ux8", "/d", "d.txt", "/e", "/x", "/q",
                                        "info.txt", "-s", "/s", "o=3", "/f", "b=1", "/d", "d.txt", "/j",
                                        "journal-g1.txt"}));
    // /q downloads unless -s; an empty name means the project's info.txt.
    EXPECT_EQ(of({"/q", "i.txt", "/q", "i.txt", "-r", "/q", ""}),
              QStringList({"/q", "i-g1.txt", "/q", "i-g1.txt", "-r", "/q", "info-g1.txt"}));
    // A switch in /q's name place stays a switch (kxloader refuses the /q);
    // after "--" it is a name.
    EXPECT_EQ(of({"/q", "/x"}), QStringList({"/q", "/x", "errors-g1.txt"}));
    EXPECT_EQ(of({"/q", "/i"}), QStringList({"/q", "/i", "id_term-g1.txt"}));
    EXPECT_EQ(of({"/q", "--", "/x"}), QStringList({"/q", "--", "/x-g1"}));
    // After "--" every word is a name, whatever it looks like, and "--" stays where it was.
    EXPECT_EQ(of({"/x", "/j", "--", "/x"}), QStringList({"/x", "errors-g1.txt", "/j", "--", "/x-g1"}));
    EXPECT_EQ(of({"/j", "--", "filter:"}), QStringList({"/j", "--", "filter:-g1"}));
    EXPECT_EQ(of({"/j", "--"}), QStringList({"/j", "journal-g1.txt"}));
    // Words that end where their switch still wanted more are copied as they are.
    EXPECT_EQ(of({"/s"}), QStringList({"/s"}));
    EXPECT_EQ(of({"/j", "filter:"}), QStringList({"/j", "journal-g1.txt", "filter:"}));
    EXPECT_EQ(of({"/x", "/f", "o=1", "/s", "o"}), QStringList({"/x", "errors-g1.txt", "/f", "o=1", "/s", "o"}));
    // A path (a second '/') is a name, not a switch.
    EXPECT_EQ(of({"/j", "/srv/j.txt"}), QStringList({"/j", "/srv/j-g1.txt"}));
}

TEST(SyncBatch, TheExitStatusIsThatOfTheFirstFailedTerminalInListOrder) {
    const auto outcome = [](const char* name, int status) {
        SyncOutcome o;
        o.terminal.name = name;
        o.terminal.port = "COM1";
        o.status = status;
        return o;
    };
    EXPECT_EQ(SyncExitStatus({outcome("a", 0), outcome("b", 0)}), 0);
    EXPECT_EQ(SyncExitStatus({outcome("a", 0), outcome("b", 55), outcome("c", 3)}), 55);
    EXPECT_EQ(SyncExitStatus({outcome("a", kSyncNotRun), outcome("b", 3)}), kSyncNotRun);
    const QString summary = SyncSummary({outcome("a", 0), outcome("bb", 199)});
    EXPECT_TRUE(summary.contains(QRegularExpression("\nbb +COM1 +199  код больше 255: точный код в файле отчета +0:00\n")))
        << summary.toStdString();
    EXPECT_TRUE(summary.endsWith("1 of 2 terminal(s) succeeded; exit status 199 (the first failed terminal, bb)\n"))
        << summary.toStdString();
}
