// The command-line batch against the scripted fake component: which switches
// reach the terminal, in what order, and which result code the run leaves.

#include "app/CommandLine.h"
#include "exchange/TerminalRecords.h"
#include "app/KXConfigApp.h"
#include "directories/DirectoryFiles.h"
#include "tests/app/LoaderTestRig.h"
#include "tests/exchange/FakeParlink.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>

#include <gtest/gtest.h>

namespace {

class CFakeConfiguration : public ICommandLineConfiguration {
public:
    bool LoadConfigFileFMT() override {
        ++loads;
        return loadSucceeds;
    }
    bool IsUploadJournalIdOn() override { return journalIdOn; }
    bool loadSucceeds = true;
    bool journalIdOn = false;
    int loads = 0;
};

TEST(ParseFilterWords, LettersFieldsAndTheirEnd) {
    const QStringList args{"kxloader", "/f", "o=3", "e=07", "a=x", "d=12z", "w=Молоко 1л", "b=46", "/x"};
    int index = 1;
    FilterSet f;
    FilterWordsGiven given;
    ASSERT_TRUE(ParseFilterWords(index, args, f, &given));
    EXPECT_EQ(index, 7);  // stops on the last word before the switch
    EXPECT_TRUE(f.anySet);
    EXPECT_EQ(f.operationId, 3);
    EXPECT_EQ(f.executorId, 7);
    EXPECT_EQ(f.addressId, 0);  // no digits
    EXPECT_EQ(f.documentId, 12);
    EXPECT_EQ(f.ware, "Молоко 1л");
    EXPECT_EQ(f.barcode, "46");
    EXPECT_TRUE(given.operation && given.executor && given.address && given.document);
}

TEST(ParseFilterWords, FailuresOnBadWordsAndOnNothing) {
    FilterSet f;
    int index = 1;
    EXPECT_FALSE(ParseFilterWords(index, {"k", "/s", "o", "=", "3"}, f));  // "=" is no field
    index = 1;
    EXPECT_FALSE(ParseFilterWords(index, {"k", "/s"}, f));  // nothing after the switch
    index = 1;
    EXPECT_FALSE(ParseFilterWords(index, {"k", "/s", "x=1"}, f));
    index = 1;
    EXPECT_FALSE(ParseFilterWords(index, {"k", "/s", ""}, f));
    index = 1;
    FilterSet g;
    FilterWordsGiven given;
    ASSERT_TRUE(ParseFilterWords(index, {"k", "/s", "O=5", "e=7"}, g, &given) == false);
    // Letters are case-sensitive: "O" fails before anything is set.
}

TEST(ParseFileNames, OneOrTwoNames) {
    QString a, b;
    int index = 1;
    EXPECT_EQ(ParseFileNames(index, {"k", "/d", "docs.txt", "/x"}, &a, &b), 1);
    EXPECT_EQ(a, "docs.txt");
    EXPECT_EQ(index, 2);
    index = 1;
    EXPECT_EQ(ParseFileNames(index, {"k", "/w", "w.txt", "d.txt", "/o"}, &a, &b), 2);
    EXPECT_EQ(b, "d.txt");
    EXPECT_EQ(index, 3);
    index = 1;
    EXPECT_EQ(ParseFileNames(index, {"k", "/w", "/looks-like-switch"}, &a, &b), 1);  // taken whatever it is
    index = 1;
    EXPECT_EQ(ParseFileNames(index, {"k", "/w"}, &a, &b), 0);
}

TEST(CommandLineWords, AbsolutePathsAreNamesAndDoubleDashEndsTheSwitches) {
    for (const char* word : {"/x", "/?", "/J", "/zz"}) EXPECT_TRUE(LooksLikeSwitch(word)) << word;
    for (const char* word : {"/home/u/wares.ux7", "//server/x", "/tmp/", "wares.ux7"}) EXPECT_FALSE(LooksLikeSwitch(word)) << word;
    QString first, second;
    int index = 1;
    EXPECT_EQ(ParseFileNames(index, {"k", "/w", "/home/u/wares.ux7", "/home/u/waresl2.ux8", "/x"}, &first, &second), 2);
    EXPECT_EQ(second, "/home/u/waresl2.ux8");

    QStringList args{"k", "/j", "--", "/x", "--"};
    EXPECT_EQ(TakeEndOfSwitches(args), 2);
    EXPECT_EQ(args, QStringList({"k", "/j", "/x", "--"}));
    index = 1;
    EXPECT_EQ(ParseFileNames(index, {"k", "/d", "a", "/x"}, &first, &second, 3), 2);  // "/x" after "--"
    EXPECT_EQ(second, "/x");
    QStringList none{"k", "/j"};
    EXPECT_EQ(TakeEndOfSwitches(none), kNoSwitchesEnd);
}

// The help lists every switch in its place with the words it has always had,
// and every switch is known (a known switch after a file name ends
// that file's list).
TEST(CommandLineWords, HelpAndKnownSwitches) {
    // The directories' switches stand after /c and before /q, in this order
    // and with these words; the rest of the help did not move.
    const QStringList lines = CommandLineHelpText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 18);  // 17 lines, each with its line end
    EXPECT_EQ(lines[3], "/c - очистка журнала");
    EXPECT_EQ(lines.mid(4, 5),
              QStringList({"/o filename - загрузка справочника операций",
                           "/e filename - загрузка справочника исполнителей",
                           "/a filename - загрузка справочника адресов",
                           "/d filename [filename] - загрузка справочника накладных (шапка) [вместе с деталями]",
                           "/w filename filename - загрузка справочников товаров (шапка) и товаров (детали)"}));
    EXPECT_TRUE(lines[9].startsWith("/q filename -r -s - -r - выгрузка из терминала таблицы info."));
    EXPECT_EQ(lines[15], "/x [filename] - файл отчета о работе программы (код ошибки, диагностика)");
    // The form that keeps the code out of the process list comes first.
    EXPECT_TRUE(lines[16].startsWith("/pair - - "));
    EXPECT_EQ(lines[17], "");
    for (const char* word : {"/h", "/?", "/j", "/n", "/i", "/c", "/o", "/e", "/a", "/d", "/w", "/q", "/s", "/f", "/x", "/pair"})
        EXPECT_TRUE(IsKnownSwitch(word)) << word;
    for (const char* word : {"/O", "/u", "/m", "/", "o"}) EXPECT_FALSE(IsKnownSwitch(word)) << word;
}

class CommandLine : public ::testing::Test, protected CLoaderTestRig<CFakeConfiguration> {
protected:
    void SetUp() override {
        ASSERT_TRUE(PrepareFolder());
        ResetFake();
    }
    void ResetFake() {
        fake.Reset();
        fake.AnswerAsReadyTerminal();
    }
    void TearDown() override { SetProjectPath(QString()); }

    int Run(QStringList args) {
        args.prepend("kxloader");
        app.InitInstance(args);
        return app.ExitInstance();
    }
    QString Files(const QString& name) const { return dir.File("files/" + name); }
    bool WireHas(const QString& entry) const { return fake.Wire().contains(entry); }
};

TEST_F(CommandLine, ConfigurationThatCannotBeOpenedEndsWith150BeforeAnySwitch) {
    configuration.loadSucceeds = false;
    EXPECT_EQ(Run({"/x", "/h"}), 150);
    EXPECT_TRUE(app.ReportFilePath.isEmpty());
    EXPECT_TRUE(prompt.Messages().isEmpty());
    EXPECT_TRUE(fake.log.isEmpty());
}

TEST_F(CommandLine, EmptyConfigCreatesNoFolderAnywhere) {
    ASSERT_TRUE(dir.Write("kxloader.ini", "[kxloader.exe]\nconfig=\n"));
    configuration.loadSucceeds = false;  // the model opens nothing without a path
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir(dir.Path()).mkpath("cwd"));
    ASSERT_TRUE(QDir::setCurrent(dir.File("cwd")));
    EXPECT_EQ(Run({"/h"}), 150);
    QDir::setCurrent(cwd);
    EXPECT_TRUE(QDir(dir.File("cwd")).isEmpty());
    EXPECT_TRUE(prompt.Messages().isEmpty());  // not even the help
}

TEST_F(CommandLine, ARunThatEndsWith150LeavesTheDiskAsItWas) {
    // A remembered project on a drive that is gone, and one beside which no
    // files folder exists yet: neither run may make a folder.
    QDir(dir.Path()).rmdir("files");
    QDir(dir.Path()).mkpath("projects");
    configuration.loadSucceeds = false;
    const auto listing = [&] {
        QStringList entries;
        QDirIterator it(dir.Path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) entries << it.next();
        entries.sort();
        return entries;
    };
    for (const QString& project : {dir.File("usb/kx/shop.kxc"), dir.File("projects/shop.kxc")}) {
        ASSERT_TRUE(dir.Write("kxloader.ini", ("[kxloader.exe]\nconfig=" + project + "\n").toUtf8()));
        const QStringList before = listing();
        EXPECT_EQ(Run({"/x", "/j"}), 150);
        EXPECT_EQ(listing(), before) << project.toStdString();
    }
    EXPECT_EQ(configuration.loads, 2);
}

TEST_F(CommandLine, ReportOnlyWhenXComesBeforeTheFailure) {
    fake.FailCall("OpenPort(COM4)");
    EXPECT_EQ(Run({"/x", "/j"}), 3);
    EXPECT_EQ(ReadFileBytes(Files("errors.txt")), Cp1251("3;Ошибка открытия порта;\r\n"));

    QFile::remove(Files("errors.txt"));
    ResetFake();
    fake.FailCall("OpenPort(COM4)");
    EXPECT_EQ(Run({"/j", "/x"}), 3);
    EXPECT_FALSE(QFile::exists(Files("errors.txt")));
}

TEST_F(CommandLine, XAloneWritesNoErrorsAndTheFilesFolderIsMade) {
    EXPECT_EQ(Run({"/x"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("errors.txt")), Cp1251("0;Нет ошибок;\r\n"));
    EXPECT_TRUE(fake.log.isEmpty());
}

TEST_F(CommandLine, UploadsHappenOnlyAtTheEndOfASuccessfulBatch) {
    ASSERT_TRUE(WriteFileBytes(Files("ops.txt"), Cp1251("1;1;Приемка;1;\r\n")));
    fake.FailCall("OpenPort(COM4)");
    EXPECT_EQ(Run({"/o", "ops.txt", "/j"}), 3);
    EXPECT_FALSE(WireHas("SendCommand(111)"));

    ResetFake();
    prompt.Clear();
    EXPECT_EQ(Run({"/o", "ops.txt", "/h"}), 0);
    EXPECT_TRUE(fake.log.isEmpty());
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].caption, "Справка по параметрам командной строки");
    EXPECT_TRUE(prompt.Messages()[0].text.startsWith("/j filename - выгрузка журнала"));
    EXPECT_EQ(prompt.Messages()[0].text.count('\n'), 17);
    EXPECT_TRUE(prompt.Messages()[0].text.endsWith("/pair code - код в командной строке, его видят другие пользователи)\n"));

    ResetFake();
    EXPECT_EQ(Run({"/o", "ops.txt"}), 0);
    EXPECT_TRUE(WireHas("SendCommand(111)"));
    EXPECT_TRUE(WireHas("SendData(1;1;Приемка;1;)")) << fake.Wire().join("\n").toStdString();
    EXPECT_TRUE(fake.Balanced());
}

TEST_F(CommandLine, FiltersResetOrSet) {
    EXPECT_EQ(Run({"/f"}), 0);
    EXPECT_TRUE(WireHas("SendCommand(40R)"));
    EXPECT_FALSE(WireHas("SendCommand(401)"));

    ResetFake();
    EXPECT_EQ(Run({"/f", "o=3", "b=123"}), 0);
    const QStringList wire = fake.Wire();
    const int at401 = static_cast<int>(wire.indexOf("SendCommand(401)"));
    ASSERT_GE(at401, 0);
    EXPECT_EQ(wire.value(at401 + 1), "SendData(3)");
    const int at409 = static_cast<int>(wire.indexOf("SendCommand(409)"));
    ASSERT_GE(at409, 0);
    EXPECT_EQ(wire.value(at409 + 1), "SendData(123)");
    EXPECT_FALSE(WireHas("SendCommand(403)"));
}

TEST_F(CommandLine, JournalAndCountFileNamesAndFilters) {
    fake.AnswerAfter("020", {"2"});
    fake.AnswerAfter("021", {"46;1;3;1;1;1;W;2026;", "47;1;3;1;1;1;W;2026;", QString(QChar(4))});
    EXPECT_EQ(Run({"/j", "filter:", "o=3"}), 0);
    EXPECT_TRUE(QFile::exists(Files("journal.txt")));
    EXPECT_TRUE(WireHas("SendCommand(401)"));

    ResetFake();
    fake.AnswerAfter("020", {"2"});
    fake.AnswerAfter("021", {"46;1;3;2;1;1;W;2026;", "47;1;3;2;1;1;W;2026;", QString(QChar(4))});
    EXPECT_EQ(Run({"/j", "mine.txt", "filter:", "e=2"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("mine.txt")), "46;1;3;2;1;1;W;2026;\r\n47;1;3;2;1;1;W;2026;\r\n");
    EXPECT_TRUE(WireHas("SendCommand(403)"));

    ResetFake();
    EXPECT_EQ(Run({"/n", "filter:", "o=3"}), 100);
    EXPECT_TRUE(fake.log.isEmpty());

    ResetFake();
    fake.AnswerAfter("020", {"57"});
    EXPECT_EQ(Run({"/n", "c.txt", "filter:", "o=3"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("c.txt")), "57");

    ResetFake();
    EXPECT_EQ(Run({"/j", "a.txt", "stray"}), 100);
    EXPECT_EQ(Run({"/j", "filter:"}), 100);  // the parser meets an empty word
}

TEST_F(CommandLine, FailedFilteredDownloadNeverLeavesItsFiltersForThePlainOne) {
    // The reset owed to the terminal (its DeviceID "123"), kept in the
    // user's state folder whatever the port or the settings file.
    const auto owed = [this] { return CTerminalRecords(dir.File("state/terminals")).ResetOwed("123"); };
    const auto journal = [this] {
        fake.AnswerAfter("020", {"3"});
        fake.AnswerAfter("021", {"1;a", "2;b", "3;c", QString(QChar(4))});
    };
    // The link drops a line mid-journal but still answers: the same run resets.
    journal();
    fake.FailCall("Receive", 3 + 2);  // "998", "--s" and "020" answered, then the second line
    EXPECT_EQ(Run({"/j", "filter:", "o=3"}), 4);
    QStringList wire = fake.Wire();
    EXPECT_EQ(wire.mid(wire.indexOf("SendCommand(401)"), 2), QStringList({"SendCommand(401)", "SendData(3)"}));
    EXPECT_EQ(wire.mid(wire.size() - 3), QStringList({"SendCommand(40R)", "WaitLink(15000)", "ClosePort"}));
    EXPECT_FALSE(owed());

    // The link is gone for good: the reset is remembered for the terminal
    // and sent before the next plain download, which then sees the whole journal.
    ResetFake();
    journal();
    fake.FailCall("Receive", 3 + 2);
    fake.FailCall("SendCommand(40R)");
    EXPECT_EQ(Run({"/j", "filter:", "o=3"}), 4);
    EXPECT_TRUE(owed());
    ResetFake();
    journal();
    EXPECT_EQ(Run({"/j"}), 0);
    wire = fake.Wire();
    EXPECT_EQ(wire.mid(2, 5), QStringList({"SendCommand(--h)", "Receive", "SendCommand(40R)", "WaitLink(15000)", "SendCommand(998)"}));
    EXPECT_FALSE(owed());
    ResetFake();
    EXPECT_EQ(Run({"/c"}), 0);
    EXPECT_FALSE(WireHas("SendCommand(40R)"));  // sent once, then forgotten

    // /f sets filters on purpose: they stay until asked otherwise.
    ResetFake();
    EXPECT_EQ(Run({"/f", "e=2"}), 0);
    ResetFake();
    journal();
    EXPECT_EQ(Run({"/j"}), 0);
    EXPECT_FALSE(WireHas("SendCommand(40R)"));
}

TEST_F(CommandLine, FilteredDownloadNotesItsResetBeforeTheFiltersAndDropsItOnlyOnceConfirmed) {
    // What a kill -9 at a call leaves on disk is what was there when the
    // call was made: for every call, the note as it stood then.
    // The reset owed to the terminal (its DeviceID "123"), kept in the
    // user's state folder whatever the port or the settings file.
    const auto owed = [this] { return CTerminalRecords(dir.File("state/terminals")).ResetOwed("123"); };
    const auto note = [this] { ASSERT_TRUE(CTerminalRecords(dir.File("state/terminals")).NoteResetOwed("123")); };
    const auto journal = [this] {
        fake.AnswerAfter("020", {"2"});
        fake.AnswerAfter("021", {"1;a", "2;b", QString(QChar(4))});
    };
    QStringList noted;
    bool owedAt020 = false;
    const auto watch = [&] {
        fake.onCall = [&](const QString& entry) {
            if (owed()) noted << entry;
            if (entry == "SendCommand(020)") owedAt020 = owed();
        };
    };
    journal();
    watch();
    EXPECT_EQ(Run({"/j", "filter:", "o=3"}), 0);
    const QStringList wire = fake.Wire();
    const qsizetype from = wire.indexOf("SendCommand(401)");
    const qsizetype reset = wire.indexOf("SendCommand(40R)");
    ASSERT_GE(from, 0);
    ASSERT_GT(reset, from);
    ASSERT_EQ(wire.value(reset + 1), "WaitLink(15000)");
    // From the first filter to the confirmation of their reset, and no longer.
    EXPECT_EQ(noted, wire.mid(from, reset + 2 - from));
    EXPECT_FALSE(owed());
    EXPECT_TRUE(owedAt020);

    // Killed between "401" and "40R": the note is what it was then. The next
    // plain download resets the filters before anything else.
    note();
    ResetFake();
    journal();
    EXPECT_EQ(Run({"/j"}), 0);
    EXPECT_EQ(fake.Wire().mid(2, 5), QStringList({"SendCommand(--h)", "Receive", "SendCommand(40R)", "WaitLink(15000)", "SendCommand(998)"}));
    EXPECT_FALSE(owed());

    // A reset that was only queued is not done: the note stays for the next run.
    note();
    ResetFake();
    fake.FailCall("WaitLink(15000)");
    EXPECT_EQ(Run({"/c"}), 4);
    EXPECT_FALSE(WireHas("SendCommand(001)"));
    EXPECT_TRUE(owed());
}

TEST_F(CommandLine, JournalAloneUsesTheDefaultNameAndTheIdOption) {
    configuration.journalIdOn = true;
    fake.AnswerAfter("020", {"1"});
    fake.AnswerAfter("031", {"1;46;1;3;1;1;1;W;2026;", QString(QChar(4))});
    EXPECT_EQ(Run({"/j"}), 0);
    EXPECT_TRUE(WireHas("SendCommand(031)"));
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")), "1;46;1;3;1;1;1;W;2026;\r\n");
}

TEST_F(CommandLine, CurrentValuesSendOnlyTheGivenWords) {
    EXPECT_EQ(Run({"/s", "o", "=", "3"}), 100);
    EXPECT_TRUE(fake.log.isEmpty());
    EXPECT_EQ(Run({"/s"}), 100);

    EXPECT_EQ(Run({"/s", "o=3", "e=7"}), 0);
    const QStringList wire = fake.Wire();
    EXPECT_TRUE(wire.contains("SendCommand(881)"));
    EXPECT_TRUE(wire.contains("SendCommand(883)"));
    EXPECT_FALSE(wire.contains("SendCommand(885)"));
    EXPECT_FALSE(wire.contains("SendCommand(887)"));
    EXPECT_TRUE(wire.contains("SendData(7)"));
}

TEST_F(CommandLine, InfoTableDownloadOrUploadAtTheEnd) {
    fake.AnswerAfter("1F2", {"a;1", QString(QChar(4))});
    EXPECT_EQ(Run({"/q", "inf.txt"}), 0);
    EXPECT_TRUE(WireHas("SendCommand(1F2)"));
    EXPECT_EQ(ReadFileBytes(Files("inf.txt")), "a;1\r\n");

    ResetFake();
    fake.AnswerAfter("1F2", {"b;2", QString(QChar(4))});
    EXPECT_EQ(Run({"/q", "inf2.txt", "/x"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("inf2.txt")), "b;2\r\n");
    EXPECT_TRUE(QFile::exists(Files("errors.txt")));

    ResetFake();
    ASSERT_TRUE(WriteFileBytes(Files("up.txt"), "x;1;2\r\n"));
    ASSERT_TRUE(WriteFileBytes(Files("e.txt"), Cp1251("1;Иванов;\r\n")));
    EXPECT_EQ(Run({"/q", "up.txt", "-s", "/e", "e.txt"}), 0);
    EXPECT_FALSE(WireHas("SendCommand(1F2)"));
    EXPECT_TRUE(WireHas("SendCommand(1F1)"));
    EXPECT_TRUE(WireHas("SendCommand(121)"));

    ResetFake();
    EXPECT_EQ(Run({"/q"}), 100);
    EXPECT_EQ(Run({"/q", "f.txt", "-z"}), 100);
    // A switch where the name belongs is the next switch, never a file
    // named like it at the root (a terminal that would answer is there).
    fake.AnswerAfter("1F2", {"c;3", QString(QChar(4))});
    for (const char* word : {"/x", "/i", "/j"}) {
        EXPECT_EQ(Run({"/q", word}), 100) << word;
        EXPECT_TRUE(prompt.Texts().join('\n').contains("/q needs a file name")) << word;
        EXPECT_FALSE(QFileInfo::exists(word)) << word;
        prompt.Clear();
    }
    EXPECT_TRUE(fake.log.isEmpty());
}

TEST_F(CommandLine, SyntaxAndUnknownSwitches) {
    EXPECT_EQ(Run({"/J"}), 105);
    EXPECT_EQ(Run({"stray"}), 105);
    EXPECT_EQ(Run({"/o"}), 100);  // never read past the argument list
    EXPECT_EQ(Run({"/d"}), 100);
    EXPECT_TRUE(fake.log.isEmpty());
}

TEST_F(CommandLine, ANameNoFileCanHaveIsRefusedWith100NeverReplaced) {
    const QString impossible = QStringLiteral("журнал") + QChar(0xD800) + QStringLiteral(".txt");
    fake.AnswerAfter("020", {"1"});
    fake.AnswerAfter("021", {"46;1;3;1;1;1;W;2026;", QString(QChar(4))});
    for (const QStringList& args : {QStringList{"/j", impossible}, QStringList{"/x", impossible},
                                    QStringList{"/o", impossible}, QStringList{"/w", "w.txt", impossible}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        EXPECT_EQ(Run(args), 100);
    }
    EXPECT_FALSE(WireHas("SendCommand(021)"));
    EXPECT_FALSE(WireHas("SendCommand(111)"));
    EXPECT_EQ(QDir(dir.File("files")).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(CommandLine, TerminalInformationFile) {
    EXPECT_EQ(Run({"/i"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("id_term.txt")),
              Cp1251("Программа: Orvane\r\nВерсия программы: 4.4.0\r\n\r\nТерминал: T1\r\nDeviceID: 123\r\n\r\n"
                     "Версия parlink.dll: 2.1\r\nВерсия протокола parlink: 7"));
    EXPECT_EQ(Run({"/i", "no/such/folder/x.txt"}), 11);
}

TEST_F(CommandLine, RejectionLeavesItsNumberAndTextInTheReport) {
    ASSERT_TRUE(WriteFileBytes(Files("ops.txt"), Cp1251("1;1;Приемка;1;\r\n")));
    fake.AnswerAfter("003", {"ERR;3;Нет товара"});
    EXPECT_EQ(Run({"/x", "/o", "ops.txt"}), 203);
    EXPECT_EQ(ReadFileBytes(Files("errors.txt")), Cp1251("203;Неизвестный код ошибки;Нет товара\r\n"));
}

}  // namespace
