#include "exchange/DirectoryUpload.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/InfoTable.h"
#include "tests/exchange/ExchangeFixture.h"

#include <QFile>
#include <QRegularExpression>

namespace {

constexpr QChar kEnd = QChar(0x0004);

class InfoTableTest : public ExchangeTest {
protected:
    QString InfoPath() const { return CurrentDirectoryFiles().infoFile; }
};

TEST_F(InfoTableTest, DownloadWritesRecordsInWindows1251WithCrLfAndNoClosingCommand) {
    ASSERT_TRUE(WriteFileBytes(InfoPath(), "previous content\r\n"));
    fake.AnswerAfter("1F2", {"Склад;Главный", "", "key;value\r\nsecond\rthird", QString(kEnd)});
    UploadSelection selection;  // the command line's: messages on, no caption
    ASSERT_EQ(DownloadInfoTable(selection, "COM1"), 0);
    const QStringList wire = fake.Wire();
    ASSERT_EQ(wire.size(), 10) << wire.join(" | ").toStdString();
    EXPECT_EQ(wire.mid(0, 3), QStringList({"OpenPort(COM1)", "WaitLink(3000)", "SendCommand(303)"}));
    EXPECT_TRUE(QRegularExpression("^SendData\\(\\d{14}\\)$").match(wire[3]).hasMatch());
    EXPECT_EQ(wire.mid(4), QStringList({"SendCommand(1F2)", "Receive", "Receive", "Receive", "Receive", "ClosePort"}));
    // An empty record is kept as an empty line: the file holds exactly what
    // came, one record a line (line breaks inside one become spaces, so an
    // upload of the file sends it back as one record).
    EXPECT_EQ(ReadFileBytes(InfoPath()), Cp1251("Склад;Главный\r\n\r\nkey;value second third\r\n"));
    EXPECT_TRUE(prompt.Messages().isEmpty());
    EXPECT_TRUE(fake.Balanced());
    EXPECT_EQ(clock.Elapsed(), 0);
}

TEST_F(InfoTableTest, EmptyTableGivesAnEmptyFile) {
    ASSERT_TRUE(WriteFileBytes(InfoPath(), "previous content\r\n"));
    fake.AnswerAfter("1F2", {QString(kEnd)});
    UploadSelection selection;
    ASSERT_EQ(DownloadInfoTable(selection, "COM1"), 0);
    EXPECT_TRUE(QFile::exists(InfoPath()));
    EXPECT_EQ(QFile(InfoPath()).size(), 0);
}

TEST_F(InfoTableTest, AnotherNameInTheFilesFolderLeavesInfoTxtAlone) {
    ASSERT_TRUE(WriteFileBytes(InfoPath(), "kept\r\n"));
    const QString original = InfoPath();
    SetInfoFilePath(FilesFolder() + "table2.txt");
    fake.AnswerAfter("1F2", {"a;b", QString(kEnd)});
    UploadSelection selection;
    ASSERT_EQ(DownloadInfoTable(selection, "COM1"), 0);
    EXPECT_EQ(ReadFileBytes(FilesFolder() + "table2.txt"), "a;b\r\n");
    EXPECT_EQ(ReadFileBytes(original), "kept\r\n");
}

TEST_F(InfoTableTest, LongRecordsAreWrittenWhole) {
    const QString record = QString(2500, QChar(0x0436));  // 'ж'
    fake.AnswerAfter("1F2", {record, QString(kEnd)});
    UploadSelection selection;
    ASSERT_EQ(DownloadInfoTable(selection, "COM1"), 0);
    EXPECT_EQ(ReadFileBytes(InfoPath()), Cp1251(record) + "\r\n");
}

TEST_F(InfoTableTest, DownloadedTableUploadsBackLineByLine) {
    fake.AnswerAfter("1F2", {"Склад;Главный", "", "key;value", QString(kEnd)});
    UploadSelection selection;
    ASSERT_EQ(DownloadInfoTable(selection, "COM1"), 0);

    fake.Reset();
    fake.AnswerAfter("003", {"SYNC"});
    selection.Select(UploadInfo);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    QStringList records;
    for (const QString& e : fake.log)
        if (e.startsWith("SendData(") && !QRegularExpression("^SendData\\(\\d{14}\\)$").match(e).hasMatch())
            records << e.mid(9).chopped(1);
    EXPECT_EQ(records, QStringList({"Склад;Главный", "key;value"}));
    EXPECT_EQ(fake.Count("SendCommand(1F1)"), 1);
}

TEST_F(InfoTableTest, OnlyTheWholeEndMarkerEndsTheTableAndARecordItWouldEndIsNeverUploaded) {
    // A record may begin with the marker's character; the table ends only at
    // an answer that is the marker and nothing else.
    const QString startsWithMarker = QString(kEnd) + "Смена;2";
    fake.AnswerAfter("1F2", {"Склад;1", startsWithMarker, "x;3", QString(kEnd) + QString(kEnd), QString(kEnd)});
    UploadSelection selection;
    selection.showMessages = false;
    ASSERT_EQ(DownloadInfoTable(selection, "COM1"), 0);
    EXPECT_EQ(ReadFileBytes(InfoPath()), Cp1251("Склад;1\r\n\x04Смена;2\r\nx;3\r\n\x04\x04\r\n"));
    EXPECT_EQ(fake.Count("Receive"), 5);

    // Uploaded again, every record makes the way back.
    fake.Reset();
    fake.AnswerAfter("003", {"SYNC"});
    selection.Select(UploadInfo);
    ASSERT_EQ(UploadDirectories(selection, "COM1"), 0);
    EXPECT_EQ(fake.Count("SendData(" + startsWithMarker + ")"), 1);

    // A record that is the marker alone, or holds a character the terminal's
    // code page cannot keep, would not come back as it went: its upload is
    // refused before it is sent, and the load is rolled back.
    struct Case {
        QByteArray file;
        const char* why;
    };
    for (const Case& c : {Case{"a;1\r\n\x04\r\nb;2\r\n", "record 2 of the file"},
                          Case{"a;1\r\n\xe6\xbc\xa2\xe5\xad\x97;2\r\n", "U+6F22"}}) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(WriteFileBytes(InfoPath(), c.file));
        fake.Reset();
        prompt.Clear();
        fake.AnswerAfter("003", {"SYNC"});
        UploadSelection upload;
        upload.caption = "KXLoader";
        upload.Select(UploadInfo);
        EXPECT_EQ(UploadDirectories(upload, "COM1"), ExchangeCode::kReadInfo);
        EXPECT_EQ(prompt.Texts(), QStringList({"Внимание! Не могу прочитать строку из файла справочника info!\n"}));
        EXPECT_TRUE(upload.failureDetail.contains(c.why)) << upload.failureDetail.toStdString();
        EXPECT_EQ(fake.Count("SendData(a;1)"), 1);
        EXPECT_EQ(fake.Wire().mid(fake.Wire().size() - 2), QStringList({"SendCommand(ROL)", "ClosePort"}));
        EXPECT_EQ(fake.Count("SendCommand(003)"), 0);
        EXPECT_TRUE(fake.Balanced());
    }
}

TEST_F(InfoTableTest, EveryFailingStepGivesItsCodeAndMessage) {
    const auto cases = OpeningFailuresOnCom1() + TerminalClockFailures() +
        std::vector<FailureCase>{
            {"SendCommand(1F2)", 1, 4, "Ошибка обмена! Ошибка в отправлении команды 1F2!"},
            {"Receive", 1, 4, "Ошибка обмена!"},
            {"Receive", 3, 4, "Ошибка обмена!"},
        };
    CheckFailures(
        cases, [](CFakeParlink& f) { f.AnswerAfter("1F2", {"r1", "r2", QString(kEnd)}); },
        [](bool show) {
            UploadSelection selection;
            selection.showMessages = show;
            return DownloadInfoTable(selection, "COM1");
        },
        QString());

    // A failure part-way leaves the good info file as it was and keeps what
    // was received beside it; the next complete table replaces it.
    ASSERT_TRUE(WriteFileBytes(InfoPath(), "good;1\r\ngood;2\r\ngood;3\r\n"));
    fake.Reset();
    fake.AnswerAfter("1F2", {"r1", "r2", QString(kEnd)});
    fake.FailCall("Receive", 3);
    UploadSelection selection;
    selection.showMessages = false;
    EXPECT_EQ(DownloadInfoTable(selection, "COM1"), 4);
    EXPECT_EQ(ReadFileBytes(InfoPath()), "good;1\r\ngood;2\r\ngood;3\r\n");
    EXPECT_EQ(ReadFileBytes(InfoPath() + ".partial"), "r1\r\nr2\r\n");
    EXPECT_TRUE(selection.failureDetail.contains(InfoPath() + ".partial")) << selection.failureDetail.toStdString();

    fake.Reset();
    fake.AnswerAfter("1F2", {"r1", "r2", "r3", QString(kEnd)});
    EXPECT_EQ(DownloadInfoTable(selection, "COM1"), 0);
    EXPECT_EQ(ReadFileBytes(InfoPath()), "r1\r\nr2\r\nr3\r\n");
    EXPECT_FALSE(QFile::exists(InfoPath() + ".partial"));
}

TEST_F(InfoTableTest, InfoFileThatCannotBeCreatedGives69BeforeAsking) {
    SetInfoFilePath(FilesFolder() + "missing/folder/info.txt");
    UploadSelection selection;
    EXPECT_EQ(DownloadInfoTable(selection, "COM1"), ExchangeCode::kInfoFileNotCreated);
    EXPECT_EQ(prompt.Texts(), QStringList({"Не удается открыть файл таблицы информации на запись!"}));
    EXPECT_EQ(prompt.Messages()[0].caption, "");
    EXPECT_EQ(fake.Count("SendCommand(1F2)"), 0);
    EXPECT_TRUE(fake.Balanced());
}

}  // namespace
