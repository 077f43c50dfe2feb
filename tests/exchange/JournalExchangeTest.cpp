#include "exchange/ExchangeCodes.h"
#include "exchange/JournalExchange.h"
#include "platform/CodePage.h"
#include "tests/exchange/ExchangeFixture.h"

#include <QFile>
#include <QRegularExpression>

namespace {

constexpr QChar kEnd = QChar(0x0004);

class JournalExchangeTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        SetJournalFilePath(FilesFolder() + "journal.txt");
    }
    QString JournalPath() const { return CurrentDirectoryFiles().journalFile; }

    // A ready terminal with program 4.4.0 and the given journal lines.
    static void Script(CFakeParlink& f, const QStringList& lines, int announced = -1) {
        f.AnswerAfter("998", {"1;Готов"});
        f.AnswerAfter("--s", {"Orvane;4.4.0"});
        f.AnswerAfter("020", {QString::number(announced < 0 ? lines.size() : announced)});
        QStringList stream = lines;
        stream << QString(kEnd);
        f.AnswerAfter("021", stream);
        f.AnswerAfter("031", stream);
    }
    // The wire after the opening (OpenPort, WaitLink), with the stamp replaced by "<stamp>".
    QStringList Exchange() const {
        QStringList wire = fake.Wire().mid(2);
        for (QString& e : wire)
            if (QRegularExpression("^SendData\\(\\d{14}\\)$").match(e).hasMatch()) e = "SendData(<stamp>)";
        return wire;
    }

    JournalExchange journal;
};

TEST_F(JournalExchangeTest, DownloadWritesEveryLineInWindows1251WithCrLfAndWaitsBetweenSteps) {
    Script(fake, {"4600001;1;5;7;9;11;Молоко;20240101120000;", "4600002;2;5;7;9;11;;20240101120100;"});
    CRecordingProgress progress;
    journal.caption = "KXLoader";
    journal.progressWindow = &progress;
    ASSERT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), 0);
    EXPECT_EQ(Exchange(),
              QStringList({"SendCommand(998)", "Receive", "SendCommand(999)", "SendCommand(303)", "SendData(<stamp>)",
                           "SendCommand(020)", "Receive", "SendCommand(021)", "Receive", "Receive", "Receive",
                           "SendCommand(004)", "ClosePort"}));
    EXPECT_EQ(ReadFileBytes(JournalPath()), Cp1251("4600001;1;5;7;9;11;Молоко;20240101120000;\r\n"
                                                   "4600002;2;5;7;9;11;;20240101120100;\r\n"));
    EXPECT_EQ(progress.calls, QStringList({"1025:2", "1026", "1026"}));
    EXPECT_TRUE(prompt.Messages().isEmpty());
    EXPECT_TRUE(fake.Balanced());

    // 200 ms after "999", 200 ms after "303", 400 ms after the stamp.
    auto at = [&](const QString& entry) { return fake.logTimes[fake.log.indexOf(entry)]; };
    const qsizetype stamp = fake.log.indexOf(QRegularExpression("^SendData\\(\\d{14}\\)$"));
    EXPECT_EQ(at("SendCommand(303)") - at("SendCommand(999)"), 200);
    EXPECT_EQ(fake.logTimes[stamp] - at("SendCommand(303)"), 200);
    EXPECT_EQ(at("SendCommand(020)") - fake.logTimes[stamp], 400);
}

TEST_F(JournalExchangeTest, JournalIdOptionAsksWithRecordIds) {
    Script(fake, {"17;4600001;1"});
    ASSERT_EQ(journal.DownloadJournal("COM1", true, false, FilterSet(), true), 0);
    EXPECT_EQ(fake.Count("SendCommand(031)"), 1);
    EXPECT_EQ(fake.Count("SendCommand(021)"), 0);
}

TEST_F(JournalExchangeTest, OverwriteReplacesOtherwiseAppends) {
    ASSERT_TRUE(WriteFileBytes(JournalPath(), "old\r\n"));
    Script(fake, {"a;1;b"});
    ASSERT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), false), 0);
    EXPECT_EQ(ReadFileBytes(JournalPath()), "old\r\na;1;b\r\n");
    fake.Reset();
    Script(fake, {"c;2;d"});
    ASSERT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), 0);
    EXPECT_EQ(ReadFileBytes(JournalPath()), "c;2;d\r\n");
}

TEST_F(JournalExchangeTest, NotReadyAnswerGives55WithTheTerminalsText) {
    fake.AnswerAfter("998", {"0;Идет инвентаризация"});
    journal.caption = "KXLoader";
    EXPECT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), ExchangeCode::kTerminalNotReady);
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].text, "Идет инвентаризация");
    EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Warning);
    EXPECT_EQ(prompt.Messages()[0].caption, "KXLoader");
    EXPECT_EQ(Exchange(), QStringList({"SendCommand(998)", "Receive", "ClosePort"}));
    EXPECT_FALSE(QFile::exists(JournalPath()));
    EXPECT_TRUE(fake.Balanced());

    // Silent: the same code and nothing shown; an answer without a text field
    // is an empty text, not a read past the answer.
    for (const QString& answer : {QString("0"), QString(), QString("2;x;y")}) {
        fake.Reset();
        prompt.Clear();
        fake.AnswerAfter("998", {answer});
        journal.showMessages = false;
        EXPECT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), 55);
        EXPECT_TRUE(prompt.Messages().isEmpty());
    }
    // "1" alone is ready.
    fake.Reset();
    Script(fake, {"x;y;z"});
    fake.AnswerAfter("998", {"1"});
    EXPECT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), 0);
}

TEST_F(JournalExchangeTest, EmptyJournalGives50AndLeavesTheFileAlone) {
    ASSERT_TRUE(WriteFileBytes(JournalPath(), "kept\r\n"));
    Script(fake, {}, 0);
    EXPECT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), ExchangeCode::kJournalEmpty);
    EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка! В терминале нет данных!"}));
    EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Warning);
    EXPECT_EQ(ReadFileBytes(JournalPath()), "kept\r\n");
    EXPECT_EQ(fake.Wire().last(), "ClosePort");
}

TEST_F(JournalExchangeTest, CountOnlyWritesTheNumberWithoutLineEnd) {
    SetJournalFilePath(FilesFolder() + "j_count.txt");
    Script(fake, {}, 57);
    journal.showMessages = false;
    ASSERT_EQ(journal.DownloadJournal("COM1", false, true, FilterSet(), false), 0);
    EXPECT_EQ(ReadFileBytes(JournalPath()), "57");
    EXPECT_EQ(Exchange().mid(Exchange().size() - 3), QStringList({"SendCommand(020)", "Receive", "ClosePort"}));
    fake.Reset();
    Script(fake, {}, 57);
    ASSERT_EQ(journal.DownloadJournal("COM1", false, true, FilterSet(), false), 0);
    EXPECT_EQ(ReadFileBytes(JournalPath()), "5757");
    fake.Reset();
    Script(fake, {}, 57);
    ASSERT_EQ(journal.DownloadJournal("COM1", false, true, FilterSet(), true), 0);
    EXPECT_EQ(ReadFileBytes(JournalPath()), "57");
}

TEST_F(JournalExchangeTest, GarbledCountOrLinesNeverPassAsAJournal) {
    // A count below zero is no count: the exchange fails with 4 and the
    // count file keeps what it had.
    SetJournalFilePath(FilesFolder() + "j_count.txt");
    ASSERT_TRUE(WriteFileBytes(JournalPath(), "57"));
    Script(fake, {}, 0);
    fake.AnswerAfter("020", {"-2"});
    journal.showMessages = false;
    EXPECT_EQ(journal.DownloadJournal("COM1", false, true, FilterSet(), true), ExchangeCode::kNoAnswer);
    EXPECT_EQ(ReadFileBytes(JournalPath()), "57");
    EXPECT_TRUE(fake.Balanced());

    // A line break inside a journal line does not make two lines of it.
    SetJournalFilePath(FilesFolder() + "journal.txt");
    fake.Reset();
    Script(fake, {"4600001;1;5;7;9;11;Молоко\r\n2,5%;20240101120000;", "4600002;2;5;7;9;11;\n;;"});
    ASSERT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), 0);
    EXPECT_EQ(ReadFileBytes(JournalPath()), Cp1251("4600001;1;5;7;9;11;Молоко 2,5%;20240101120000;\r\n"
                                                   "4600002;2;5;7;9;11; ;;\r\n"));
}

TEST_F(JournalExchangeTest, ShortJournalGives12AndKeepsTheLinesReceived) {
    QStringList lines;
    for (int i = 1; i <= 9; ++i) lines << QString("46000%1;1;1").arg(i);
    Script(fake, lines, 10);
    journal.caption = "KXLoader";
    EXPECT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), ExchangeCode::kJournalShort);
    const QByteArray file = ReadFileBytes(JournalPath());
    EXPECT_EQ(file.count("\r\n"), 9);
    EXPECT_TRUE(file.endsWith("460009;1;1\r\n"));
    EXPECT_EQ(prompt.Texts(), QStringList({"Внимание! Ошибка обмена - выгружено штрихкодов меньше заявленного!"}));
    EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Error);
    EXPECT_EQ(Exchange().mid(Exchange().size() - 2), QStringList({"SendCommand(004)", "ClosePort"}));

    // Silent: still 12.
    fake.Reset();
    Script(fake, lines, 10);
    journal.showMessages = false;
    prompt.Clear();
    EXPECT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), 12);
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(JournalExchangeTest, CutDownloadLeavesTheJournalAsItWasAndKeepsTheLinesReceivedBesideIt) {
    const QByteArray complete = "1;4600001;1\r\n2;4600002;1\r\n";
    QStringList lines;
    QByteArray all;
    for (int i = 3; i <= 7; ++i) {
        lines << QString("%1;460000%1;1").arg(i);
        all += QString("%1;460000%1;1\r\n").arg(i).toLatin1();
    }
    const QString partial = JournalPath() + ".partial";
    {
        // The message names the file that keeps the lines received.
        ASSERT_TRUE(WriteFileBytes(JournalPath(), complete));
        Script(fake, lines);
        fake.FailCall("Receive", 2 + 4);
        EXPECT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), ExchangeCode::kNoAnswer);
        EXPECT_EQ(prompt.Texts(), QStringList{"Ошибка обмена! Команда построчное получение журнала\n\n"
                                              "Полученные строки журнала (3) сохранены в файле:\n" +
                                              QDir::toNativeSeparators(partial) + "\nФайл журнала не изменен."});
        QFile::remove(partial);
    }
    journal.showMessages = false;
    for (const bool overwrite : {true, false}) {
        SCOPED_TRACE(overwrite ? "OverwriteJournal=1" : "OverwriteJournal=0");
        ASSERT_TRUE(WriteFileBytes(JournalPath(), complete));
        fake.Reset();
        Script(fake, lines);
        fake.FailCall("Receive", 2 + 4);  // the "998" and "020" answers, then the fourth line
        EXPECT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), overwrite), ExchangeCode::kNoAnswer);
        EXPECT_EQ(ReadFileBytes(JournalPath()), complete);
        EXPECT_EQ(ReadFileBytes(partial), all.left(all.indexOf("6;")));
        EXPECT_TRUE(journal.failureDetail.contains("3 of 5")) << journal.failureDetail.toStdString();
        EXPECT_TRUE(journal.failureDetail.contains(partial)) << journal.failureDetail.toStdString();

        // The retry takes the whole journal once: no scan twice, nothing left beside.
        fake.Reset();
        Script(fake, lines);
        ASSERT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), overwrite), 0);
        EXPECT_EQ(ReadFileBytes(JournalPath()), overwrite ? all : complete + all);
        EXPECT_FALSE(QFile::exists(partial));
        EXPECT_TRUE(journal.failureDetail.isEmpty());
    }
}

TEST_F(JournalExchangeTest, LongLinesAreWrittenWholeNeverCut) {
    const QString longLine = "4600001;" + QString(3000, QChar(0x0416));  // 'Ж', one byte each in 1251
    Script(fake, {longLine, "short;1;2"});
    ASSERT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), 0);
    EXPECT_EQ(ReadFileBytes(JournalPath()), Cp1251(longLine) + "\r\nshort;1;2\r\n");
}

TEST_F(JournalExchangeTest, ALineBreakInsideALineBecomesASpaceAndEveryLineIsWrittenInThePage) {
    // CR LF, a lone CR and a lone LF; the page's unassigned 0x98; a text
    // the page cannot hold, written as the codec writes it.
    const QString outside = QStringLiteral("漢字;2");
    Script(fake, {"a\r\nb\rc\nd;1", outside, QString(QChar(0x98)) + "яЁ;3", "\r\n"});
    ASSERT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), 0);
    EXPECT_EQ(ReadFileBytes(JournalPath()),
              "a b c d;1\r\n" + CodePage::CCodec().Encode(outside) + "\r\n\x98\xFF\xA8;3\r\n \r\n");
}

TEST_F(JournalExchangeTest, UnwritableJournalFileGives10) {
    SetJournalFilePath(FilesFolder() + "no/such/folder/journal.txt");
    Script(fake, {"a;b;c"});
    journal.caption = "KXLoader";
    EXPECT_EQ(journal.DownloadJournal("COM1", false, false, FilterSet(), true), ExchangeCode::kJournalFileNotCreated);
    EXPECT_EQ(prompt.Texts(), QStringList({"Не могу открыть файл на запись журнала!"}));
    EXPECT_EQ(fake.Count("SendCommand(021)"), 0);
    EXPECT_TRUE(fake.Balanced());
}

TEST_F(JournalExchangeTest, FilteredDownloadSetsFiltersBefore020AndResetsThemAfter) {
    Script(fake, {"a;1;b"});
    FilterSet filters;
    filters.anySet = true;
    filters.operationId = 3;
    ASSERT_EQ(journal.DownloadJournal("COM1", false, false, filters, true), 0);
    EXPECT_EQ(Exchange(),
              QStringList({"SendCommand(998)", "Receive", "SendCommand(999)", "SendCommand(303)", "SendData(<stamp>)",
                           "SendCommand(--s)", "Receive", "SendCommand(401)", "SendData(3)", "WaitLink(15000)",
                           "SendCommand(020)", "Receive", "SendCommand(021)", "Receive", "Receive",
                           "SendCommand(40R)", "WaitLink(15000)", "SendCommand(004)", "ClosePort"}));
    EXPECT_TRUE(journal.firmwareChecked);

    // Count only with filters resets them too; the version is not asked again.
    fake.Reset();
    Script(fake, {}, 4);
    ASSERT_EQ(journal.DownloadJournal("COM1", false, true, filters, true), 0);
    EXPECT_EQ(fake.Count("SendCommand(--s)"), 0);
    EXPECT_EQ(Exchange().mid(Exchange().size() - 3), QStringList({"SendCommand(40R)", "WaitLink(15000)", "ClosePort"}));
}

TEST_F(JournalExchangeTest, AllFiltersInTableOrderWithTheirValues) {
    fake.AnswerAfter("--s", {"Orvane;4.3.5"});
    FilterSet filters{true, 1, -2, 3, 4, "Молоко", "4600001"};
    ASSERT_EQ(journal.ApplyFilters("COM1", filters), 0);
    EXPECT_EQ(Exchange(), QStringList({"SendCommand(--s)", "Receive", "SendCommand(401)", "SendData(1)",
                                       "SendCommand(403)", "SendData(-2)", "SendCommand(405)", "SendData(3)",
                                       "SendCommand(407)", "SendData(4)", "SendCommand(408)", "SendData(Молоко)",
                                       "SendCommand(409)", "SendData(4600001)", "WaitLink(15000)", "ClosePort"}));

    // Zero IDs and empty texts are not taken; no filter given at all resets.
    fake.Reset();
    FilterSet some{true, 0, 7, 0, 0, "", "b"};
    ASSERT_EQ(journal.ApplyFilters("COM1", some), 0);
    EXPECT_EQ(Exchange(), QStringList({"SendCommand(403)", "SendData(7)", "SendCommand(409)", "SendData(b)",
                                       "WaitLink(15000)", "ClosePort"}));
    fake.Reset();
    ASSERT_EQ(journal.ApplyFilters("COM1", FilterSet()), 0);
    EXPECT_EQ(Exchange(), QStringList({"SendCommand(40R)", "WaitLink(15000)", "ClosePort"}));
    // Sent is not set: filters the terminal did not confirm are a failure.
    fake.Reset();
    fake.FailCall("WaitLink(15000)");
    EXPECT_EQ(journal.ApplyFilters("COM1", some), ExchangeCode::kNoAnswer);
}

TEST_F(JournalExchangeTest, ProgramVersionGateIsAskedOncePerObject) {
    struct Case {
        const char* version;
        int code;
    };
    const Case cases[] = {{"4.3.4", 57}, {"4.3.5", 0}, {"4.4.0", 0}, {"5.0", 0},   {"4.2.9", 57},
                          {"3.9.9", 57}, {"4.3", 57},  {"", 57},      {"4.3.10", 0}, {"4.3.5.1", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        JournalExchange exchange;
        exchange.caption = "KXLoader";
        fake.Reset();
        prompt.Clear();
        fake.AnswerAfter("--s", {QString("Orvane;") + c.version});
        EXPECT_EQ(exchange.ApplyFilters("COM1", FilterSet()), c.code);
        EXPECT_EQ(exchange.firmwareChecked, c.code == 0);
        EXPECT_TRUE(prompt.Messages().isEmpty());
        EXPECT_TRUE(fake.Balanced());
        EXPECT_EQ(fake.Count("SendCommand(40R)"), c.code == 0 ? 1 : 0);

        // A filtered download on an old terminal stops before "020".
        fake.Reset();
        Script(fake, {"a;b;c"});
        fake.AnswerAfter("--s", {QString("Orvane;") + c.version});
        FilterSet filters;
        filters.anySet = true;
        filters.barcode = "46";
        EXPECT_EQ(exchange.DownloadJournal("COM1", false, false, filters, true), c.code);
        EXPECT_EQ(fake.Count("SendCommand(020)"), c.code == 0 ? 1 : 0);
        EXPECT_EQ(fake.Count("SendCommand(--s)"), c.code == 0 ? 0 : 1);  // asked once per object when it passed
    }
    // An unfiltered download never asks.
    JournalExchange plain;
    fake.Reset();
    Script(fake, {"a"});
    EXPECT_EQ(plain.DownloadJournal("COM1", false, false, FilterSet(), true), 0);
    EXPECT_EQ(fake.Count("SendCommand(--s)"), 0);
    EXPECT_FALSE(plain.firmwareChecked);
    EXPECT_TRUE(FirmwareSupportsFilters("4.3.5"));
    EXPECT_FALSE(FirmwareSupportsFilters("4.3.4"));
}

TEST_F(JournalExchangeTest, ClearJournalAndCurrentValues) {
    ASSERT_EQ(journal.ClearJournal("USB"), 0);
    EXPECT_EQ(fake.Wire(), QStringList({"OpenPort(\\\\.\\WCEUSBSH001)", "WaitLink(3000)", "SendCommand(001)", "ClosePort"}));

    fake.Reset();
    CurrentValues operationOnly;
    operationOnly.operation = 12;
    ASSERT_EQ(journal.SetCurrentValues("COM1", operationOnly), 0);
    EXPECT_EQ(Exchange(), QStringList({"SendCommand(881)", "SendData(12)", "WaitLink(1000)", "ClosePort"}));

    fake.Reset();
    CurrentValues all{5, 6, 7, 0};
    ASSERT_EQ(journal.SetCurrentValues("COM1", all), 0);
    EXPECT_EQ(Exchange(), QStringList({"SendCommand(881)", "SendData(5)", "WaitLink(1000)", "SendCommand(883)",
                                       "SendData(6)", "WaitLink(1000)", "SendCommand(885)", "SendData(7)",
                                       "WaitLink(1000)", "SendCommand(887)", "SendData(0)", "WaitLink(1000)",
                                       "ClosePort"}));
}

TEST_F(JournalExchangeTest, DownloadFailureTable) {
    const auto cases = OpeningFailuresOnCom1() +
        std::vector<FailureCase>{
            {"SendCommand(998)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
            {"Receive", 1, 4, "Ошибка обмена! Команда 998"},
            {"SendCommand(999)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
            {"SendCommand(303)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 303!"},
            {"SendData*", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 303(2)!"},
            // A link lost at the version question is a lost link, not an
            // old program.
            {"SendCommand(--s)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
            {"Receive", 2, 4, "Ошибка обмена!"},
            {"SendCommand(401)", 1, 4, "Ошибка обмена! Команда фильтр по операции"},
            {"SendData(3)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 401!"},
            {"SendCommand(408)", 1, 4, "Ошибка обмена! Команда фильтр по товару"},
            {"SendData(W1)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 408!"},
            // Filters the terminal did not confirm, a reset it did not
            // confirm, an end it did not confirm: all the link error.
            {"WaitLink(15000)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 408!"},
            {"SendCommand(020)", 1, 4, "Ошибка обмена! Ошибка отправлении команды 020!"},
            {"Receive", 3, 4, "Ошибка обмена! Команда запроса кол-ва строк в журнале"},
            {"SendCommand(021)", 1, 4, "Ошибка обмена! Ошибка в отправлении команды 021!"},
            {"Receive", 4, 4, "Ошибка обмена! Команда построчное получение журнала"},
            // A line had come: the message goes on to name the file it is kept in.
            {"Receive", 5, 4, "Ошибка обмена! Команда построчное получение журнала", PromptIcon::Error, true},
            {"SendCommand(40R)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 40R!"},
            {"WaitLink(15000)", 2, 4, "Ошибка обмена! Терминал не отвечает на команду 40R!"},
            {"SendCommand(004)", 1, 4, "Ошибка обмена! Терминал не отвечает!", PromptIcon::Error, true},
            {"ClosePort", 1, 4, "Ошибка обмена! Терминал не отвечает!", PromptIcon::Error, true},
        };
    CheckFailures(
        cases, [](CFakeParlink& f) { Script(f, {"a;1;b"}); },
        [this](bool show) {
            JournalExchange exchange;
            exchange.showMessages = show;
            exchange.caption = "KXLoader";
            FilterSet filters;
            filters.anySet = true;
            filters.operationId = 3;
            filters.ware = "W1";
            return exchange.DownloadJournal("COM1", false, false, filters, true);
        },
        "KXLoader");
}

TEST_F(JournalExchangeTest, FiltersFailureTable) {
    const auto cases = OpeningFailuresOnCom1() +
        std::vector<FailureCase>{
            {"SendCommand(--s)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
            {"Receive", 1, 4, "Ошибка обмена!"},
            {"SendCommand(403)", 1, 4, "Ошибка обмена! Команда фильтр по исполнителю"},
            {"SendData(43)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 403!"},
            {"SendCommand(405)", 1, 4, "Ошибка обмена! Команда фильтр по адресу"},
            {"SendData(45)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 405!"},
            {"SendCommand(407)", 1, 4, "Ошибка обмена! Команда фильтр по документу"},
            {"SendData(47)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 407!"},
            {"SendCommand(409)", 1, 4, "Ошибка обмена! Команда фильтр по ш/к"},
            {"SendData(b49)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 409!"},
            {"WaitLink(15000)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 409!"},
            {"ClosePort", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
        };
    CheckFailures(
        cases, [](CFakeParlink& f) { f.AnswerAfter("--s", {"Orvane;4.4.0"}); },
        [](bool show) {
            JournalExchange exchange;
            exchange.showMessages = show;
            exchange.caption = "Журнал";
            return exchange.ApplyFilters("COM1", FilterSet{true, 0, 43, 45, 47, "", "b49"});
        },
        "Журнал");

    // The reset has its own text, also when it is sent but not confirmed.
    CheckFailures(
        {{"SendCommand(40R)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 40R!"},
         {"WaitLink(15000)", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 40R!"},
         {"ClosePort", 1, 4, "Ошибка обмена! Терминал не отвечает!"}},
        [](CFakeParlink& f) { f.AnswerAfter("--s", {"Orvane;4.4.0"}); },
        [](bool show) {
            JournalExchange exchange;
            exchange.showMessages = show;
            exchange.caption = "Журнал";
            return exchange.ApplyFilters("COM1", FilterSet());
        },
        "Журнал");
}

TEST_F(JournalExchangeTest, ClearAndCurrentValuesFailureTables) {
    const auto opening = OpeningFailuresOnCom1();
    CheckFailures(
        // A clear counts only when the terminal confirmed it carried it out.
        opening + std::vector<FailureCase>{{"SendCommand(001)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
                                           {"ClosePort", 1, 4, "Ошибка обмена! Терминал не отвечает!"}},
        [](CFakeParlink&) {},
        [](bool show) {
            JournalExchange exchange;
            exchange.showMessages = show;
            return exchange.ClearJournal("COM1");
        },
        QString());

    const char* noAnswer = "Ошибка обмена! Терминал не отвечает!";
    std::vector<FailureCase> values = opening + std::vector<FailureCase>{{"SendCommand(881)", 1, 4, noAnswer},
                                                                         {"SendCommand(883)", 1, 4, noAnswer},
                                                                         {"SendCommand(885)", 1, 4, noAnswer},
                                                                         {"SendCommand(887)", 1, 4, noAnswer}};
    values.push_back({"SendData(2)", 1, 4, noAnswer});
    for (int i = 1; i <= 4; ++i) values.push_back({"WaitLink(1000)", i, 4, "Ошибка обмена! Терминал не отвечает!"});
    values.push_back({"ClosePort", 1, 4, noAnswer});
    CheckFailures(
        values, [](CFakeParlink&) {},
        [](bool show) {
            JournalExchange exchange;
            exchange.showMessages = show;
            exchange.caption = "KXLoader";
            return exchange.SetCurrentValues("COM1", CurrentValues{1, 2, 3, 4});
        },
        "KXLoader");
}

}  // namespace
