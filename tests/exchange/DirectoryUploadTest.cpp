#include "exchange/DirectoryUpload.h"
#include "exchange/ExchangeCodes.h"
#include "tests/exchange/ExchangeFixture.h"

#include <QFile>
#include <QRegularExpression>

namespace {

class DirectoryUploadTest : public ExchangeTest {
protected:
    void WriteDirectory(int kind, const QByteArray& bytes) {
        ASSERT_TRUE(WriteFileBytes(DirectoryFile(kind), bytes));
    }
    void WriteInfo(const QByteArray& bytes) {
        ASSERT_TRUE(WriteFileBytes(CurrentDirectoryFiles().infoFile, bytes));
    }
    // The SendData texts between "SendCommand(<command>)" and the next EndData.
    QStringList Records(const QString& command) const {
        QStringList records;
        const qsizetype start = fake.log.indexOf("SendCommand(" + command + ")");
        if (start < 0) return records;
        for (qsizetype i = start + 1; i < fake.log.size() && fake.log[i] != QLatin1String("EndData"); ++i)
            if (fake.log[i].startsWith(QLatin1String("SendData(")))
                records << fake.log[i].mid(9).chopped(1);
        return records;
    }
    // Uploads `item` alone over COM1 with the fake fresh (its call `failing`
    // made to fail, when one is named) and the prompt emptied; the code.
    int UploadAlone(int item, const QString& failing = QString()) {
        fake.Reset();
        prompt.Clear();
        if (!failing.isEmpty()) fake.FailCall(failing);
        UploadSelection selection;
        selection.Select(item);
        return UploadDirectories(selection, "COM1");
    }
};

TEST_F(DirectoryUploadTest, WareDetailsOnlyExactWireLogProgressAndPauses) {
    WriteDirectory(WareDetails, "4600001;W1;1;\r\n4600002;W2;6;box\r\n");
    fake.AnswerAfter("003", {"", "", "SYNC"});
    CRecordingProgress progress;
    UploadSelection selection;
    selection.caption = "KXLoader";
    selection.progressWindow = &progress;
    selection.Select(WareDetails);

    ASSERT_EQ(UploadDirectories(selection, "COM2"), 0);

    const QStringList wire = fake.Wire();
    ASSERT_EQ(wire.size(), 15) << wire.join(" | ").toStdString();
    EXPECT_EQ(wire.mid(0, 3), QStringList({"OpenPort(COM2)", "WaitLink(3000)", "SendCommand(303)"}));
    EXPECT_TRUE(QRegularExpression("^SendData\\(\\d{14}\\)$").match(wire[3]).hasMatch()) << wire[3].toStdString();
    EXPECT_EQ(wire.mid(4), QStringList({"SendCommand(002)", "SendCommand(161)", "SendData(4600001;W1;1;)",
                                        "SendData(4600002;W2;6;box)", "EndData", "SendCommand(003)", "Receive",
                                        "Receive", "Receive", "SendCommand(004)", "ClosePort"}));
    EXPECT_TRUE(fake.Balanced());
    EXPECT_EQ(fake.creations, 1);
    EXPECT_FALSE(selection.IsSelected(WareDetails));
    EXPECT_TRUE(selection.DiagnosticText.isEmpty());
    EXPECT_TRUE(prompt.Messages().isEmpty());

    // Stage, one step per line read plus one per record, the end-of-file read,
    // then the synchronisation stage and the full bar at the end.
    EXPECT_EQ(progress.calls,
              QStringList({"1028", "1029:Справочник товаров(детали)", "1025:100", "1026", "1026", "1026", "1026",
                           "1026", "1027:1", "1028", "1029:Синхронизация", "1025:100", "1026", "1026", "1026",
                           "1025:1", "1026"}));
    // Three polls of 50 ms, then the closing pause of 500 ms before "004".
    EXPECT_EQ(clock.Elapsed(), 3 * 50 + 500);
    const qsizetype sync = fake.log.indexOf("SendCommand(004)");
    EXPECT_EQ(fake.logTimes[sync] - fake.logTimes[sync - 1], 500);
}

TEST_F(DirectoryUploadTest, RecordsAreCutIntoPiecesOf200WithEmptyLastPieceOnExactMultiples) {
    const QString r450 = QString(200, 'a') + QString(200, 'b') + QString(50, 'c');
    const QString r400 = QString(200, 'd') + QString(200, 'e');
    WriteDirectory(Operations, r450.toLatin1() + "\r\n" + r400.toLatin1() + "\r\n");
    fake.AnswerAfter("003", {"SYNC"});
    UploadSelection selection;
    selection.Select(Operations);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_EQ(Records("111"), QStringList({QString(200, 'a'), QString(200, 'b'), QString(50, 'c'),
                                           QString(200, 'd'), QString(200, 'e'), QString()}));

    // SendRecord on its own: one piece for a short text, and the first failed
    // piece ends it with 4.
    fake.Reset();
    CRecordingProgress progress;
    EXPECT_EQ(SendRecord("abc", kRecordChunkLength, fake, true, &progress), 0);
    EXPECT_EQ(fake.log, QStringList({"SendData(abc)"}));
    EXPECT_EQ(progress.calls, QStringList({"1026"}));
    fake.Reset();
    fake.FailCall("SendData*", 2);
    EXPECT_EQ(SendRecord(r450, kRecordChunkLength, fake, false, nullptr), 4);
    EXPECT_EQ(fake.log.size(), 2);
}

TEST_F(DirectoryUploadTest, BlankLinesSkippedLineEndsStrippedLastLineWithoutLineFeedSentAsIs) {
    WriteDirectory(Executors, "1;Ivanov;111\r\n\r\n\n2;Petrov;222\n\r\n3;Sidorov;333");
    fake.AnswerAfter("003", {"SYNC"});
    UploadSelection selection;
    selection.Select(Executors);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_EQ(Records("121"), QStringList({"1;Ivanov;111", "2;Petrov;222", "3;Sidorov;333"}));
    for (const QString& entry : fake.log) EXPECT_FALSE(entry.contains('\r') || entry.contains('\n'));
}

TEST_F(DirectoryUploadTest, FilesAreReadInTheirCodePage) {
    WriteDirectory(Addresses, Cp1251("5;Склад №1;2000005\r\n"));
    fake.AnswerAfter("003", {"SYNC"});
    UploadSelection selection;
    selection.Select(Addresses);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_EQ(Records("131"), QStringList({"5;Склад №1;2000005"}));

    // Another code page is a setting of the selection; the info file stays
    // Windows-1251 whatever it is.
    WriteDirectory(Addresses, QString("6;Склад;1\r\n").toUtf8());
    WriteFileBytes(CurrentDirectoryFiles().infoFile, Cp1251("Склад;Главный\r\n"));
    fake.Reset();
    fake.AnswerAfter("003", {"SYNC"});
    selection.codec = CodePage::CCodec("utf-8");
    selection.Select(Addresses);
    selection.Select(UploadInfo);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_EQ(Records("131"), QStringList({"6;Склад;1"}));
    EXPECT_EQ(Records("1F1"), QStringList({"Склад;Главный"}));

    // A new selection takes the program's directory code page.
    ASSERT_TRUE(SetDirectoryCodePage("cp866"));
    UploadSelection later;
    SetDirectoryCodePage(QString());
    EXPECT_EQ(later.codec.Encode(u"Склад"), CodePage::CCodec("cp866").Encode(u"Склад"));
    EXPECT_TRUE(UploadSelection().codec.IsWindows1251());
}

TEST_F(DirectoryUploadTest, Utf8FilesAreSentAsTheirTextWithTheWindows1251Setting) {
    // Made on Linux: UTF-8 with the byte-order mark, UTF-8 without it; beside
    // them a Windows-1251 file and a Windows-1251 info file as ever.
    WriteDirectory(Wares, "\xEF\xBB\xBF" + QString("Т1;Молоко «Луговое»;4601\r\nТ2;Чай;4602\r\n").toUtf8());
    WriteDirectory(Executors, QString("1;Иванов;111\r\n").toUtf8());
    WriteDirectory(Addresses, Cp1251("5;Склад №1;2000005\r\n"));
    WriteInfo(QString("Склад;Главный\n").toUtf8());
    fake.AnswerAfter("003", {"SYNC"});
    UploadSelection selection;
    ASSERT_TRUE(selection.codec.IsWindows1251());
    for (int item : {int(Wares), int(Executors), int(Addresses), UploadInfo}) selection.Select(item);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_EQ(Records("151"), QStringList({"Т1;Молоко «Луговое»;4601", "Т2;Чай;4602"}));
    EXPECT_EQ(Records("121"), QStringList({"1;Иванов;111"}));
    EXPECT_EQ(Records("131"), QStringList({"5;Склад №1;2000005"}));
    EXPECT_EQ(Records("1F1"), QStringList({"Склад;Главный"}));
}

TEST_F(DirectoryUploadTest, PhysicalLineLongerThan1023BytesGoesAsSeveralRecords) {
    const QByteArray line = QByteArray(1023, 'x') + QByteArray(477, 'y');
    WriteDirectory(Documents, line + "\r\n" + QByteArray(1023, 'z') + "\r\n");
    fake.AnswerAfter("003", {"SYNC"});
    UploadSelection selection;
    selection.Select(Documents);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    // Records are recognised by their pieces: 1023 = 5 x 200 + 23.
    const QStringList pieces = Records("141");
    EXPECT_EQ(pieces.join(QString()), QString::fromLatin1(line + QByteArray(1023, 'z')));
    QStringList expected;
    for (const char c : {'x', 'z'}) {
        for (int i = 0; i < 5; ++i) expected << QString(200, QLatin1Char(c));
        expected << QString(23, QLatin1Char(c));
        if (c == 'x') expected << QString(200, 'y') << QString(200, 'y') << QString(77, 'y');
    }
    EXPECT_EQ(pieces, expected);
}

TEST_F(DirectoryUploadTest, ALongUtf8LineIsCutBetweenCharacters) {
    // 1022 bytes, then a two-byte letter across the 1023-byte limit: the
    // letter goes whole with the second part instead of as two garbled halves.
    const QString line = QString(1022, QLatin1Char('a')) + QStringLiteral("Яблоко;4601");
    WriteDirectory(Wares, "\xEF\xBB\xBF" + line.toUtf8() + "\r\n");
    fake.AnswerAfter("003", {"SYNC"});
    UploadSelection selection;
    selection.Select(Wares);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_EQ(Records("151").join(QString()), line);
}

TEST_F(DirectoryUploadTest, MissingWaresFileSendsRollbackAndGives23) {
    WriteDirectory(Operations, "1;1;Приход;1;;\r\n");
    UploadSelection selection;
    selection.caption = "KXLoader";
    selection.Select(Operations);
    selection.Select(Wares);
    EXPECT_EQ(UploadDirectories(selection, "COM1"), 23);  // the wares file cannot be opened
    const QStringList wire = fake.Wire();
    EXPECT_EQ(wire.mid(wire.size() - 3), QStringList({"EndData", "SendCommand(ROL)", "ClosePort"}));
    EXPECT_EQ(prompt.Texts(), QStringList({"Внимание! Не могу открыть справочник товаров (шапка)!\n"}));
    EXPECT_EQ(prompt.Messages()[0].caption, "KXLoader");
    EXPECT_TRUE(fake.Balanced());
}

TEST_F(DirectoryUploadTest, RollbackAfterFailedOperationsCommandOnly) {
    WriteDirectory(Operations, "1;1;Приход;1;;\r\n");
    WriteDirectory(Executors, "1;Ivanov;1\r\n");
    UploadSelection selection;
    selection.showMessages = false;
    selection.Select(Operations);
    fake.FailCall("SendCommand(111)");
    EXPECT_EQ(UploadDirectories(selection, "COM1"), 4);
    EXPECT_EQ(fake.Wire().mid(5), QStringList({"SendCommand(111)", "SendCommand(ROL)", "ClosePort"}));

    fake.Reset();
    selection.Select(Executors);
    fake.FailCall("SendCommand(121)");
    EXPECT_EQ(UploadDirectories(selection, "COM1"), 4);
    EXPECT_EQ(fake.Wire().mid(5), QStringList({"SendCommand(121)", "ClosePort"}));
    EXPECT_TRUE(fake.Balanced());
}

TEST_F(DirectoryUploadTest, ReadErrorSendsRollbackAndGivesTheReadCode) {
    // Reading this "file" from its start always fails with an I/O error.
    QFile probe("/proc/self/mem");
    char byte;
    if (!probe.open(QIODevice::ReadOnly) || probe.read(&byte, 1) >= 0) GTEST_SKIP() << "no unreadable file here";
    probe.close();
    SetDirectoryFilePath(Operations, "/proc/self/mem");
    UploadSelection selection;
    selection.Select(Operations);
    EXPECT_EQ(UploadDirectories(selection, "COM1"), 30);  // the operations file cannot be read
    EXPECT_EQ(fake.Wire().mid(5), QStringList({"SendCommand(111)", "SendCommand(ROL)", "ClosePort"}));
    EXPECT_EQ(prompt.Texts(), QStringList({"Внимание! Не могу прочитать строку из файла справочника операций!\n"}));
}

TEST_F(DirectoryUploadTest, RejectionsAndMalformedSynchronisationAnswers) {
    WriteDirectory(Wares, "W1;Milk;4600001\r\n");
    struct Case {
        const char* answer;
        int code;
        const char* diagnostic;
        const char* warning;  // nullptr: none
    };
    const Case cases[] = {
        {"ERR;7;T", 207, "T", "T\nЗагрузка справочников отменена!"},
        {"ERR", 110, "", nullptr},
        {";;ERR;;", 110, "", nullptr},
        {"ERR;9", 209, "", "\nЗагрузка справочников отменена!"},
        {"ERR;;\r\n0;\nНет товара W1;tail", 200, "Нет товара W1", "Нет товара W1\nЗагрузка справочников отменена!"},
        {"ERR;x;bad", 200, "bad", "bad\nЗагрузка справочников отменена!"},
        {"ERR;-200;T", 110, "", nullptr},
        {"ERR;99999999999;T", INT_MAX, "T", "T\nЗагрузка справочников отменена!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        fake.Reset();
        prompt.Clear();
        fake.AnswerAfter("003", {"", QString::fromUtf8(c.answer)});
        UploadSelection selection;
        selection.caption = "KXLoader";
        selection.DiagnosticText = "left over";
        selection.Select(Wares);
        EXPECT_EQ(UploadDirectories(selection, "COM1"), c.code);
        EXPECT_EQ(selection.DiagnosticText, QString::fromUtf8(c.diagnostic));
        if (c.warning) {
            ASSERT_EQ(prompt.Messages().size(), 1);
            EXPECT_EQ(prompt.Messages()[0].text, QString::fromUtf8(c.warning));
            EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Warning);
            EXPECT_EQ(prompt.Messages()[0].caption, "KXLoader");
        } else {
            EXPECT_TRUE(prompt.Messages().isEmpty());
        }
        EXPECT_EQ(fake.Count("SendCommand(004)"), 0);
        EXPECT_EQ(fake.Wire().last(), "ClosePort");
        EXPECT_TRUE(fake.Balanced());
    }
}

TEST_F(DirectoryUploadTest, NoSynchronisationTimesOutWith5AfterAllPollsInSimulatedTime) {
    WriteDirectory(Operations, "1;1;Приход;1;;\r\n");
    UploadSelection selection;
    selection.Select(Operations);
    CRecordingProgress progress;
    selection.progressWindow = &progress;
    EXPECT_EQ(UploadDirectories(selection, "COM1"), ExchangeCode::kSyncTimeout);
    EXPECT_EQ(fake.Count("Receive"), 37 * 101 - 1);
    EXPECT_EQ(clock.Elapsed(), (37 * 101 - 1) * 50);
    EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка обмена! Ошибка синхронизации!"}));
    EXPECT_EQ(progress.calls.count("1025:100"), 1 + 37);
    EXPECT_EQ(fake.Wire().last(), "ClosePort");
    EXPECT_TRUE(fake.Balanced());
}

TEST_F(DirectoryUploadTest, SilentUploadSendsNoProgressAndSkipsTheClosingPause) {
    WriteDirectory(Operations, "1;1;Приход;1;;\r\n");
    fake.AnswerAfter("003", {"SYNC"});
    CRecordingProgress progress;
    UploadSelection selection;
    selection.showMessages = false;
    selection.progressWindow = &progress;
    selection.Select(Operations);
    EXPECT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_TRUE(progress.calls.isEmpty());
    EXPECT_EQ(clock.Elapsed(), 50);
}

// A receiver that selects a directory again while the upload runs, as another
// thread could.
class CReselectingProgress : public CRecordingProgress {
public:
    void SetStageText(const QString& text) override {
        CRecordingProgress::SetStageText(text);
        if (text == triggerStage && remaining-- > 0) selection->Select(reselect);
    }
    UploadSelection* selection = nullptr;
    QString triggerStage;
    int reselect = 0;
    int remaining = 0;
};

TEST_F(DirectoryUploadTest, LaterPassesTakeDirectoriesSelectedAgainUpToTwentyPasses) {
    WriteDirectory(Operations, "1;1;Приход;1;;\r\n");
    WriteInfo("key=value\r\n");
    fake.AnswerAfter("003", {"SYNC"});
    UploadSelection selection;
    CReselectingProgress progress;
    progress.selection = &selection;
    progress.triggerStage = "Справочник info";
    progress.reselect = Operations;
    progress.remaining = 1;
    selection.progressWindow = &progress;
    selection.Select(Operations);
    selection.Select(UploadInfo);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    QStringList commands;
    for (const QString& e : fake.log)
        if (e.startsWith("SendCommand(1")) commands << e;
    EXPECT_EQ(commands, QStringList({"SendCommand(111)", "SendCommand(1F1)", "SendCommand(111)"}));

    // A directory selected again every time it is sent goes at most 20 times.
    fake.Reset();
    fake.AnswerAfter("003", {"SYNC"});
    progress.triggerStage = "Справочник операций";
    progress.remaining = 1000;
    selection.Select(Operations);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_EQ(fake.Count("SendCommand(111)"), 20);
    EXPECT_TRUE(selection.IsSelected(Operations));  // set again after the last pass
}

TEST_F(DirectoryUploadTest, UploadOrderFollowsTheDirectoryTable) {
    const char* commands[] = {"111", "121", "131", "141", "151", "161", "171"};
    for (int kind = 0; kind < 7; ++kind) WriteDirectory(kind, QByteArray("r") + QByteArray::number(kind) + ";a;b\r\n");
    WriteInfo("i;n;f\r\n");
    fake.AnswerAfter("003", {"SYNC"});
    UploadSelection selection;
    for (int item = kUploadItemCount - 1; item >= 0; --item) selection.Select(item);
    EXPECT_EQ(selection.SelectedCount(), 8);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_EQ(selection.SelectedCount(), 0);
    QStringList sent;
    for (const QString& e : fake.log)
        if (e.startsWith("SendCommand(1")) sent << e.mid(12, 3);
    QStringList expected;
    for (const char* c : commands) expected << c;
    expected << "1F1";
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(Records("1F1"), QStringList({"i;n;f"}));
}

TEST_F(DirectoryUploadTest, EveryFailingStepGivesItsCodeAndMessage) {
    WriteDirectory(Operations, "1;1;Приход;1;;\r\n");
    WriteInfo("key=value\r\n");
    const auto cases =
        OpeningFailures("Ошибка! Не могу найти компоненту Parlink", "Ошибка! Не могу создать Parlink обьект!",
                        "Ошибка! Не могу открыть порт COM2!"
                        "\n\nПорт: COM2", "Ошибка! Терминал не отвечает! (порт COM2)") +
        TerminalClockFailures() +
        std::vector<FailureCase>{
            {"SendCommand(002)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
            {"SendCommand(111)", 1, 4, "Ошибка обмена! Ошибка отправлении команды 111!"},
            {"SendData*", 2, 4, "Ошибка обмена! Ошибка в отправлении справочника операций!"},
            {"EndData", 1, 4, "Ошибка обмена! Ошибка в отправлении справочника операций!"},
            {"SendCommand(1F1)", 1, 4, "Ошибка обмена! Ошибка отправлении команды 1F1!"},
            {"SendData*", 3, 4, "Ошибка обмена! Ошибка в отправлении таблицы информация!"},
            {"SendCommand(003)", 1, 4, "Ошибка обмена! Ошибка отправлении команды 003!"},
            {"Receive", 1, 4, "Ошибка обмена! Ошибка синхронизации!"},
            {"Receive", 2, 4, "Ошибка обмена! Ошибка синхронизации!"},
            // Stored is not yet ended: the end of the session must be confirmed too.
            {"SendCommand(004)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
            {"ClosePort", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
        };
    CheckFailures(
        cases, [](CFakeParlink& f) { f.AnswerAfter("003", {"", "SYNC"}); },
        [](bool show) {
            UploadSelection selection;
            selection.showMessages = show;
            selection.caption = "KXLoader";
            selection.Select(Operations);
            selection.Select(UploadInfo);
            return UploadDirectories(selection, "COM2");
        },
        "KXLoader");
}

TEST_F(DirectoryUploadTest, EveryDirectoryHasItsOwnFileCodesAndTexts) {
    // Both messages name the directory ("справочник операций"); only the
    // info table is named otherwise once its records are on their way.
    struct Row {
        int item;
        const char* command;
        int openCode;
        const char* name;
    };
    const Row rows[] = {
        {Operations, "111", 20, "операций"},
        {Executors, "121", 21, "сотрудников"},
        {Addresses, "131", 22, "адресов"},
        {Documents, "141", 25, "документов"},
        {Wares, "151", 23, "товаров (шапка)"},
        {WareDetails, "161", 24, "товаров (детали)"},
        {DocumentPlan, "171", 26, "документов (детали)"},
        {UploadInfo, "1F1", 59, "info"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        const QString name = QString::fromUtf8(row.name);
        const QString openText = QStringLiteral("Внимание! Не могу открыть справочник %1!\n").arg(name);
        const QString sendText = row.item == UploadInfo
            ? QStringLiteral("Ошибка обмена! Ошибка в отправлении таблицы информация!")
            : QStringLiteral("Ошибка обмена! Ошибка в отправлении справочника %1!").arg(name);
        const QString path = row.item == UploadInfo ? CurrentDirectoryFiles().infoFile : DirectoryFile(row.item);
        QFile::remove(path);
        EXPECT_EQ(UploadAlone(row.item), row.openCode);
        EXPECT_EQ(prompt.Texts(), QStringList({openText}));
        EXPECT_EQ(fake.Wire().mid(5), QStringList({"SendCommand(ROL)", "ClosePort"}));

        ASSERT_TRUE(WriteFileBytes(path, "a;b;c\r\n"));
        EXPECT_EQ(UploadAlone(row.item, "SendData(a;b;c)"), 4);
        EXPECT_EQ(prompt.Texts(), QStringList({sendText}));
        EXPECT_EQ(fake.Wire().value(5), QString("SendCommand(%1)").arg(row.command));
        EXPECT_TRUE(fake.Balanced());
    }
}

}  // namespace
