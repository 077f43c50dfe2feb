// Reading a directory file into a table, writing it back and importing CSV.

#include "directories/DirectoryCodePage.h"
#include "directories/DirectoryFiles.h"
#include "directories/DirectoryTable.h"
#include "directories/DirectoryTableModel.h"

#include "FakeOperationTypes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

const QString kDamaged = QStringLiteral("Ошибка!\nФайл поврежден или содержит неправильные данные!");

class DirectoryTableTest : public ::testing::Test {
protected:
    void TearDown() override { SetProjectPath(QString()); }

    // Writes `text` (UTF-8 here, Windows-1251 on disk) and loads it.
    bool Load(DirectoryTable& table, const QString& text, bool showError = true) {
        dir.Write("d.txt", Cp1251(text));
        return LoadDirectoryFile(table, dir.File("d.txt"), showError, QStringLiteral(";"));
    }
    QByteArray SaveBytes(DirectoryTable& table) {
        EXPECT_TRUE(SaveDirectoryFile(table, dir.File("out.txt")));
        return dir.Read("out.txt");
    }

    CTestDir dir;
    CFakeOperationTypes types;
    CRecordingPrompt prompt;
    CScopedPrompt scoped{prompt};
};

TEST_F(DirectoryTableTest, OperationsShowTheTypeNameAndWriteTheTypeId) {
    DirectoryTable table(Operations, &types);
    ASSERT_TRUE(Load(table, QStringLiteral("1;2;Отгрузка со склада;1;4600000000012;\r\n")));
    ASSERT_EQ(table.RowCount(), 1);
    EXPECT_EQ(table.Cell(0, 1), QStringLiteral("1"));
    EXPECT_EQ(table.Cell(0, 2), QStringLiteral("Отгрузка"));
    EXPECT_EQ(table.Cell(0, 3), QStringLiteral("Отгрузка со склада"));
    EXPECT_EQ(table.Cell(0, 6), QString());
    QString line;
    ASSERT_TRUE(BuildRowText(table, 0, &line));
    EXPECT_EQ(line, QStringLiteral("1;2;Отгрузка со склада;1;4600000000012"));
    EXPECT_EQ(SaveBytes(table), Cp1251(QStringLiteral("1;2;Отгрузка со склада;1;4600000000012\r\n")));
}

TEST_F(DirectoryTableTest, UnknownOperationTypeIsShownUndefinedAndWrittenEmpty) {
    DirectoryTable table(Operations, &types);
    ASSERT_TRUE(Load(table, QStringLiteral("7;99;Странная;1;123;1\r\n")));
    EXPECT_EQ(table.Cell(0, 2), QStringLiteral("!НЕ ОПРЕДЕЛЕНО!"));
    EXPECT_EQ(SaveBytes(table), Cp1251(QStringLiteral("7;;Странная;1;123;1\r\n")));
    EXPECT_EQ(table.highestId, 7);
}

TEST_F(DirectoryTableTest, EmptyLastFieldKeepsItsSeparatorExceptForTheModeColumns) {
    DirectoryTable executors(Executors, &types);
    ASSERT_TRUE(Load(executors, QStringLiteral("12;Иванов;\r\n")));
    EXPECT_EQ(SaveBytes(executors), Cp1251(QStringLiteral("12;Иванов;\r\n")));

    DirectoryTable documents(Documents, &types);
    ASSERT_TRUE(Load(documents, QStringLiteral("12;;;\r\n")));
    QString line;
    ASSERT_TRUE(BuildRowText(documents, 0, &line));
    EXPECT_EQ(line, QStringLiteral("12;;;"));

    DirectoryTable wares(Wares, &types);
    ASSERT_TRUE(Load(wares, QStringLiteral("A1;Хлеб;460;\r\nA2;Соль;461;1\r\n")));
    EXPECT_EQ(SaveBytes(wares), Cp1251(QStringLiteral("A1;Хлеб;460\r\nA2;Соль;461;1\r\n")));
}

TEST_F(DirectoryTableTest, ATwoFieldLineFailsTheWholeLoad) {
    DirectoryTable table(Executors, &types);
    EXPECT_FALSE(Load(table, QStringLiteral("1;Иванов;111\r\n2;Петров\r\n3;Сидоров;333\r\n")));
    EXPECT_EQ(table.RowCount(), 0);
    EXPECT_EQ(prompt.Texts(), QStringList{kDamaged});
    EXPECT_EQ(prompt.Messages()[0].caption, QStringLiteral("KXLoader"));
    EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Warning);

    prompt.Clear();
    EXPECT_FALSE(Load(table, QStringLiteral("1;a;b\r\n\r\n"), false));  // an empty line
    EXPECT_TRUE(prompt.Texts().isEmpty());
    EXPECT_EQ(table.RowCount(), 0);
}

TEST_F(DirectoryTableTest, EightFieldsAddNumberedColumnsAndAreSavedWhole) {
    DirectoryTable table(Addresses, &types);
    ASSERT_TRUE(Load(table, QStringLiteral("5;Склад;222;a;;c;d;e\r\n")));
    ASSERT_EQ(table.ColumnCount(), 9);
    for (int c = 4; c <= 8; ++c) {
        EXPECT_EQ(table.Columns()[c].title, QStringLiteral("Поле #%1").arg(c));
        EXPECT_EQ(table.Columns()[c].Width(1000), 100);
        EXPECT_EQ(table.Columns()[c].align, ColumnAlign::Left);
    }
    EXPECT_EQ(table.widestRow, 8);
    EXPECT_EQ(table.Cell(0, 8), QStringLiteral("e"));
    EXPECT_EQ(SaveBytes(table), Cp1251(QStringLiteral("5;Склад;222;a;;c;d;e\r\n")));
}

TEST_F(DirectoryTableTest, FailedLoadTakesItsAddedColumnsAway) {
    DirectoryTable table(Addresses, &types);
    EXPECT_FALSE(Load(table, QStringLiteral("5;Склад;222;a;b\r\n6;x\r\n"), false));
    EXPECT_EQ(table.ColumnCount(), 4);
}

TEST_F(DirectoryTableTest, HighestIdIsTheLargestLeadingNumberAndNeverLowered) {
    DirectoryTable table(Documents, &types);
    ASSERT_TRUE(Load(table, QStringLiteral("10;a;b;c\r\n3;d;e;f\r\n")));
    EXPECT_EQ(table.highestId, 10);
    ASSERT_TRUE(Load(table, QStringLiteral(" +12abc;a;b;c\r\nxyz;d;e;f\r\n-4;g;h;i\r\n")));
    EXPECT_EQ(table.highestId, 12);
    ASSERT_TRUE(Load(table, QStringLiteral("99999999999;a;b;c\r\n")));
    EXPECT_EQ(table.highestId, INT_MAX);

    DirectoryTable wares(Wares, &types);  // wares are not numbered
    ASSERT_TRUE(Load(wares, QStringLiteral("500;a;b\r\n")));
    EXPECT_EQ(wares.highestId, 0);
}

TEST_F(DirectoryTableTest, FieldsAreTrimmedOfSpacesButOperationIdsAreNot) {
    DirectoryTable table(Executors, &types);
    ASSERT_TRUE(Load(table, QStringLiteral(" 1 ; Иванов \t; 55 \r\n")));
    EXPECT_EQ(table.Cell(0, 1), QStringLiteral("1"));
    EXPECT_EQ(table.Cell(0, 2), QStringLiteral("Иванов \t"));
    EXPECT_EQ(table.Cell(0, 3), QStringLiteral("55"));

    DirectoryTable ops(Operations, &types);
    ASSERT_TRUE(Load(ops, QStringLiteral(" 4 ;1; Имя ;1;2\r\n")));
    EXPECT_EQ(ops.Cell(0, 1), QStringLiteral(" 4 "));
    EXPECT_EQ(ops.Cell(0, 3), QStringLiteral("Имя"));
    EXPECT_EQ(ops.highestId, 4);
}

TEST_F(DirectoryTableTest, ALongPhysicalLineIsReadAsTwo) {
    DirectoryTable table(Wares, &types);
    const QString first = QStringLiteral("A;Б;") + QString(1019, QChar(u'Ж'));  // 1023 bytes
    ASSERT_TRUE(Load(table, first + QStringLiteral("Ж;x;y;z\r\n")));
    ASSERT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.Cell(0, 3).size(), 1019);
    EXPECT_EQ(table.Cell(1, 1), QStringLiteral("Ж"));
    EXPECT_EQ(table.Cell(1, 4), QStringLiteral("z"));
    EXPECT_FALSE(Load(table, first + QStringLiteral("ЖЖ;x\r\n"), false));
    EXPECT_EQ(table.RowCount(), 0);
}

TEST_F(DirectoryTableTest, ALineCutAfter1023BytesIsSavedAsALineThatLoadsAgain) {
    // An address written on one line of 1052 bytes: its first 1023 bytes (an
    // ID, a name, a long comment) and the rest (four fields) are read as two
    // rows, and the table gets a fourth column.
    const QString cut = QStringLiteral("5;Склад;") + QString(1015, QChar(u'Ж'));  // 1023 bytes
    const QString rest = QStringLiteral("Ж;Полка 7;4600000000012;от 2019");
    const QString shortRow = QStringLiteral("7;Офис;");
    DirectoryTable table(Addresses, &types);
    ASSERT_TRUE(Load(table, cut + rest + QStringLiteral("\r\n") + shortRow + QStringLiteral("\r\n")));
    ASSERT_EQ(table.RowCount(), 3);
    ASSERT_EQ(table.DataColumnCount(), 4);
    const QList<QStringList> rows = {table.RowCells(0), table.RowCells(1), table.RowCells(2)};
    // Saved, the first row is a line of the longest length, without the empty
    // fourth field that would make it too long; the short row keeps its empty
    // fields. Each loads again as the same row.
    const QByteArray saved = SaveBytes(table);
    EXPECT_EQ(saved, Cp1251(cut + QStringLiteral("\r\n") + rest + QStringLiteral("\r\n") + shortRow +
                            QStringLiteral(";\r\n")));
    DirectoryTable reloaded(Addresses, &types);
    ASSERT_TRUE(LoadDirectoryFile(reloaded, dir.File("out.txt"), true));
    ASSERT_EQ(reloaded.RowCount(), 3);
    for (int r = 0; r < 3; ++r) EXPECT_EQ(reloaded.RowCells(r), rows[r]) << r;
    EXPECT_EQ(reloaded.DataColumnCount(), 4);
    EXPECT_EQ(SaveBytes(reloaded), saved);

    // In a UTF-8 file with its mark, a row of the longest length stays one row
    // wherever it stands, the first line (behind the mark) included.
    const QByteArray longest = QStringLiteral("6;Склад;").toUtf8() + QByteArray(1010, 'x');
    ASSERT_EQ(longest.size(), 1023);
    dir.Write("u.ux5", QByteArray("\xEF\xBB\xBF") + "1;a;b\r\n" + longest + "\r\n");
    DirectoryTable utf8(Addresses, &types);
    ASSERT_TRUE(LoadDirectoryFile(utf8, dir.File("u.ux5"), true));
    ASSERT_EQ(utf8.RowCount(), 2);
    ASSERT_TRUE(utf8.RemoveRow(0));
    EXPECT_EQ(SaveBytes(utf8), QByteArray("\xEF\xBB\xBF") + longest + "\r\n");
    ASSERT_TRUE(LoadDirectoryFile(utf8, dir.File("out.txt"), true));
    ASSERT_EQ(utf8.RowCount(), 1);
    EXPECT_EQ(utf8.Cell(0, 3), QString(1010, QChar(u'x')));
    EXPECT_TRUE(prompt.Texts().isEmpty());
}

TEST_F(DirectoryTableTest, LoadingNeedsTheConfigurationAndAKnownKind) {
    DirectoryTable noNames(Executors, nullptr);
    EXPECT_FALSE(Load(noNames, QStringLiteral("1;a;b\r\n"), false));
    DirectoryTable bad(8, &types);
    EXPECT_FALSE(Load(bad, QStringLiteral("1;a;b\r\n"), false));
    DirectoryTable journal(JournalView, &types, true);
    ASSERT_TRUE(Load(journal, QStringLiteral("7;4600;1;1;2;3;4;Т1;01.01.2024 10:00;\r\n")));
    EXPECT_EQ(journal.Cell(0, 2), QStringLiteral("4600"));
    EXPECT_FALSE(SaveDirectoryFile(journal, dir.File("j.txt")));
    EXPECT_FALSE(QFile::exists(dir.File("j.txt")));
}

TEST_F(DirectoryTableTest, BuildRowTextFailsOutsideTheRowsAndWithoutDataColumns) {
    DirectoryTable table(Executors, &types);
    table.AppendRow({QStringLiteral("1"), QStringLiteral("a"), QString()});
    QString line;
    EXPECT_TRUE(BuildRowText(table, 0, &line));
    EXPECT_FALSE(BuildRowText(table, 1, &line));
    EXPECT_FALSE(BuildRowText(table, -1, &line));
    table.SetColumns({DirectoryColumn{}});
    EXPECT_FALSE(BuildRowText(table, 0, &line));
    DirectoryTable ops(Operations, &types);
    ops.AppendRow({QStringLiteral("1"), QStringLiteral("Приемка"), QStringLiteral("x")});
    ops.SetColumns(ops.Columns().mid(0, 3));  // only two data columns
    EXPECT_FALSE(BuildRowText(ops, 0, &line));
}

TEST_F(DirectoryTableTest, EmptyTableIsSavedAsAnEmptyFileAndTheFolderIsMade) {
    DirectoryTable table(Executors, &types);
    table.modified = true;
    const QString path = dir.File("files/sub/x_authors.ux4");
    ASSERT_TRUE(SaveDirectoryFile(table, path));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_FALSE(table.modified);
    EXPECT_FALSE(SaveDirectoryFile(table, QString()));
    EXPECT_FALSE(SaveDirectoryFile(table, dir.Path()));  // a folder
}

TEST_F(DirectoryTableTest, TextTheCodePageCannotHoldIsKeptUntilTheSave) {
    DirectoryTable table(Executors, &types);
    table.AppendRow({QStringLiteral("1"), QStringLiteral("Чай 茶"), QString()});
    EXPECT_EQ(table.Cell(0, 2), QStringLiteral("Чай 茶"));
    EXPECT_EQ(SaveBytes(table), Cp1251(QStringLiteral("1;Чай ?;\r\n")));
}

TEST_F(DirectoryTableTest, ConfiguredCodePageIsUsedForReadingAndWriting) {
    ASSERT_TRUE(SetDirectoryCodePage(QStringLiteral("cp866")));
    const QByteArray bytes = DirectoryCodec().Encode(QStringLiteral("1;Склад;Ё\r\n"));
    dir.Write("866.txt", bytes);
    DirectoryTable table(Addresses, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, dir.File("866.txt"), true));
    EXPECT_EQ(table.Cell(0, 2), QStringLiteral("Склад"));
    EXPECT_EQ(SaveBytes(table), bytes);
    EXPECT_FALSE(SetDirectoryCodePage(QStringLiteral("utf-16")));  // not ASCII-compatible
    EXPECT_TRUE(DirectoryCodec().IsWindows1251());
    EXPECT_FALSE(SetDirectoryCodePage(QStringLiteral("no-such-code-page")));
    EXPECT_TRUE(SetDirectoryCodePage(QString()));
    EXPECT_TRUE(DirectoryCodec().IsWindows1251());
}

// ---------------------------------------------------------------------------
// Byte-exact round trips

struct RoundTrip {
    int kind;
    const char* text;
};

TEST_F(DirectoryTableTest, WellFormedFilesOfEveryKindRoundTripByteForByte) {
    const QString longName(1017, QChar(u'Я'));  // "1;" + name + ";12" = 1022 bytes
    const RoundTrip cases[] = {
        {Operations, "1;1;Приемка;1;2000000000015\r\n2;3;Инвентаризация;1;;1\r\n"
                     "3;2;;-1;2000000000039;0\r\n"},
        {Executors, "1;Иванов Иван Иванович;2100000000012\r\n2;Стажер;\r\n3;;\r\n"},
        {Addresses, "1;Зона А, стеллаж 1;2200000000011\r\n2;Экспедиция;\r\n"},
        {Documents, "1;Приходная №101;Поставщик ООО \"Ромашка\";23\r\n2;Опись;;\r\n3;;;\r\n"},
        {Wares, "Т00001;Молоко 3,2% 1 л;4601234567893\r\nТ00002;Яблоки, кг;4601;1\r\n"},
        {WareDetails, "4610000000019;Т00001;12;Коробка 12 шт\r\n4610000000026;Т00002;6;\r\n"},
        {DocumentPlan, "1;Т00001;10;1;Проверить срок\r\n1;Т00002;5;2;\r\n"},
    };
    for (const RoundTrip& c : cases) {
        const QByteArray bytes = Cp1251(QString::fromUtf8(c.text));
        dir.Write("in.txt", bytes);
        DirectoryTable table(c.kind, &types);
        ASSERT_TRUE(LoadDirectoryFile(table, dir.File("in.txt"), true)) << c.kind;
        EXPECT_EQ(SaveBytes(table), bytes) << c.kind;
    }
    const QByteArray longest = Cp1251(QStringLiteral("1;") + longName + QStringLiteral(";12\r\n"));
    ASSERT_EQ(longest.size(), 1024);  // 1022 bytes and the line end
    dir.Write("long.txt", longest + longest);
    DirectoryTable table(Addresses, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, dir.File("long.txt"), true));
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_EQ(SaveBytes(table), longest + longest);
}

TEST_F(DirectoryTableTest, EveryByteOfTheCodePageSurvivesARoundTrip) {
    QByteArray name;
    for (int b = 0x20; b <= 0xFF; ++b)
        if (b != ';') name.append(char(b));
    const QByteArray bytes = "1;x" + name + "x;2\r\n";
    dir.Write("in.txt", bytes);
    DirectoryTable table(Executors, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, dir.File("in.txt"), true));
    EXPECT_EQ(SaveBytes(table), bytes);
}

TEST_F(DirectoryTableTest, DemoProjectFilesRoundTrip) {
    const QString folder = QStringLiteral(KX_SOURCE_DIR "/data/demo/files/");
    const char* names[] = {"demo_opers.ux3", "demo_authors.ux4", "demo_address.ux5",
                           "demo_ndocs.ux6", "demo_wares.ux7", "demo_waresl2.ux8",
                           "demo_ndocsplan.ux9"};
    for (int kind = 0; kind < kDirectoryKindCount; ++kind) {
        const QByteArray bytes = ReadFileBytes(folder + QString::fromLatin1(names[kind]));
        ASSERT_FALSE(bytes.isEmpty()) << names[kind];
        DirectoryTable table(kind, &types);
        ASSERT_TRUE(LoadDirectoryFile(table, folder + QString::fromLatin1(names[kind]), true));
        EXPECT_GT(table.RowCount(), 0);
        EXPECT_GE(table.widestRow, 3);
        EXPECT_EQ(SaveBytes(table), bytes) << names[kind];
    }
}

TEST_F(DirectoryTableTest, WithUtf8CellsNotEditedKeepTheirFileBytes) {
    // Windows-1251 bytes are not UTF-8: shown as replacement characters, but
    // written back as they were unless their own cell is edited.
    ASSERT_TRUE(SetDirectoryCodePage(QStringLiteral("utf-8")));
    const QByteArray legacy = Cp1251(QStringLiteral("Приемка"));
    const QByteArray ops = "1;2;" + legacy + ";1;46001\r\n";
    dir.Write("ops.txt", ops);
    DirectoryTable operations(Operations, &types);
    ASSERT_TRUE(LoadDirectoryFile(operations, dir.File("ops.txt"), true));
    EXPECT_EQ(operations.Cell(0, 2), QStringLiteral("Отгрузка"));
    EXPECT_EQ(SaveBytes(operations), ops);

    const QByteArray executors = "1;" + legacy + ";" + Cp1251(QStringLiteral("Склад")) + "\r\n";
    dir.Write("ex.txt", executors);
    DirectoryTable table(Executors, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, dir.File("ex.txt"), true));
    EXPECT_TRUE(table.Cell(0, 2).contains(QChar::ReplacementCharacter));
    table.SetCell(0, 3, QStringLiteral("Цех"));
    EXPECT_EQ(SaveBytes(table), "1;" + legacy + ";" + QStringLiteral("Цех").toUtf8() + "\r\n");
    SetDirectoryCodePage(QString());
}

TEST_F(DirectoryTableTest, Utf8FilesAreReadAsUtf8AndWrittenBackInTheirEncoding) {
    ASSERT_TRUE(DirectoryCodec().IsWindows1251());
    const QString text = QStringLiteral("Т1;Молоко «Луговое»;4601\r\nТ2;Чай;4602;1\r\n");
    const QByteArray withBom = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    for (const QByteArray& bytes : {withBom, text.toUtf8()}) {
        dir.Write("w.ux7", bytes);
        DirectoryTable table(Wares, &types);
        ASSERT_TRUE(LoadDirectoryFile(table, dir.File("w.ux7"), true));
        EXPECT_EQ(table.Cell(0, 1), QStringLiteral("Т1"));  // no mark in the first field
        EXPECT_EQ(table.Cell(0, 2), QStringLiteral("Молоко «Луговое»"));
        EXPECT_EQ(SaveBytes(table), bytes);
        // An edit is written in the file's encoding, the mark kept.
        table.SetCell(1, 2, QStringLiteral("Чай зеленый"));
        EXPECT_EQ(SaveBytes(table), QByteArray(bytes).replace("Чай", "Чай зеленый"));
    }
    // Through the editor's model as well.
    dir.Write("w.ux7", withBom);
    CDirectoryTableModel model(&types);
    ASSERT_TRUE(model.OpenFile(Wares, dir.File("w.ux7")));
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("Т1"));
    EXPECT_EQ(model.data(model.index(1, 2)).toString(), QStringLiteral("Чай"));

    // Windows-1251 text stays Windows-1251, byte for byte, edits included.
    dir.Write("w.ux7", Cp1251(text));
    DirectoryTable legacy(Wares, &types);
    ASSERT_TRUE(LoadDirectoryFile(legacy, dir.File("w.ux7"), true));
    legacy.SetCell(1, 2, QStringLiteral("Чай зеленый"));
    EXPECT_EQ(SaveBytes(legacy), Cp1251(text).replace(Cp1251(QStringLiteral("Чай")),
                                                       Cp1251(QStringLiteral("Чай зеленый"))));
    // The ambiguity: a short Windows-1251 text that is valid UTF-8 ("Рё" is the
    // UTF-8 of "и") is read as UTF-8, and still written back unchanged.
    const QByteArray ambiguous = Cp1251(QStringLiteral("1;Рё;2\r\n"));
    dir.Write("a.txt", ambiguous);
    DirectoryTable table(Executors, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, dir.File("a.txt"), true));
    EXPECT_EQ(table.Cell(0, 2), QStringLiteral("и"));
    EXPECT_EQ(SaveBytes(table), ambiguous);
}

TEST_F(DirectoryTableTest, Utf8CheckTakesWellFormedTextOnlyInAnyPieces) {
    struct Case {
        QByteArray bytes;
        bool utf8;
    };
    const Case cases[] = {
        {QStringLiteral("Ёж №5 € 😀 ж").toUtf8(), true},
        {"plain ASCII", false},                 // no multi-byte sequence: not taken as UTF-8
        {"\xC0\x80", false},                     // overlong
        {"\xE0\x80\xAF", false},                 // overlong
        {"\xED\xA0\x80", false},                 // a surrogate
        {"\xF4\x90\x80\x80", false},             // above U+10FFFF
        {"\xD0\x96\xD0", false},                 // cut at the end
        {Cp1251(QStringLiteral("Жук")), false},  // two Windows-1251 letters in a row
    };
    for (const Case& c : cases) {
        // Whole, and cut into pieces at every position.
        CUtf8Check whole;
        whole.Feed(c.bytes);
        EXPECT_EQ(whole.IsMultiByteUtf8(), c.utf8) << c.bytes.toHex().constData();
        for (qsizetype cut = 1; cut < c.bytes.size(); ++cut) {
            CUtf8Check pieces;
            pieces.Feed(QByteArrayView(c.bytes).first(cut));
            pieces.Feed(QByteArrayView(c.bytes).sliced(cut));
            EXPECT_EQ(pieces.IsMultiByteUtf8(), c.utf8) << c.bytes.toHex().constData() << " " << cut;
        }
    }
}

// ---------------------------------------------------------------------------
// CSV import

class CsvImportTest : public DirectoryTableTest {
protected:
    void SetUp() override {
        SetProjectPath(dir.File("shop.kxc"));
        QDir().mkpath(dir.File("files"));
        DirectoryPath(Executors, &ownPath);
        own = Cp1251(QStringLiteral("1;Иванов;111\r\n2;Петров;222\r\n"));
        WriteFileBytes(ownPath, own);
    }
    QString ownPath;
    QByteArray own;
};

TEST_F(CsvImportTest, SemicolonFileImportsAtOnce) {
    DirectoryTable table(Executors, &types);
    dir.Write("in.csv", Cp1251(QStringLiteral("7;Сидоров;777\r\n")));
    ASSERT_TRUE(ImportCsv(table, dir.File("in.csv")));
    EXPECT_TRUE(table.modified);
    EXPECT_EQ(table.RowCount(), 1);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Импорт произведен успешно!")});
    EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Information);
    EXPECT_EQ(ReadFileBytes(ownPath), own);
}

TEST_F(CsvImportTest, CommaFileImportsAfterYesAndReachesTheFileOnlyOnSave) {
    DirectoryTable table(Executors, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, ownPath, true));
    dir.Write("in.csv", Cp1251(QStringLiteral("7,Сидоров,777\r\n8,Кузнецова,\r\n")));
    prompt.QueueAnswer(AnswerYes);
    ASSERT_TRUE(ImportCsv(table, dir.File("in.csv")));
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0].text,
              QStringLiteral("Не удалось импортировать файл используя станратный формат!\r\n"
                             "Попытаться импортировать с использованием разделителя 'запятая'?"));
    EXPECT_EQ(messages[0].caption, QStringLiteral("Внимание"));
    EXPECT_EQ(messages[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(messages[0].icon, PromptIcon::Warning);
    EXPECT_EQ(messages[1].text, QStringLiteral("Импорт произведен успешно!"));
    EXPECT_TRUE(table.modified);
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.Cell(1, 2), QStringLiteral("Кузнецова"));
    EXPECT_EQ(ReadFileBytes(ownPath), own);  // untouched until saved
    ASSERT_TRUE(SaveDirectoryFile(table, ownPath));
    EXPECT_EQ(ReadFileBytes(ownPath), Cp1251(QStringLiteral("7;Сидоров;777\r\n8;Кузнецова;\r\n")));
}

TEST_F(CsvImportTest, FailedImportKeepsTheUnsavedRowsAndTheModifiedFlag) {
    for (bool modifiedBefore : {false, true}) {
        prompt.Clear();
        DirectoryTable table(Executors, &types);
        ASSERT_TRUE(LoadDirectoryFile(table, ownPath, true));
        table.AppendRow({QStringLiteral("3"), QStringLiteral("несохраненный"), QString()});
        table.modified = modifiedBefore;
        dir.Write("in.csv", Cp1251(QStringLiteral("50;Номер;1\r\n60,ломаный\r\n")));
        prompt.QueueAnswer(AnswerYes);
        EXPECT_FALSE(ImportCsv(table, dir.File("in.csv")));
        EXPECT_EQ(table.modified, modifiedBefore);
        EXPECT_EQ(table.RowCount(), 3);  // the table as it was, the unsaved row too
        EXPECT_EQ(table.Cell(2, 2), QStringLiteral("несохраненный"));
        EXPECT_EQ(table.highestId, 50);  // IDs of the rejected file still count
        EXPECT_EQ(prompt.Texts().last(),
                  QStringLiteral("Ошибка! Файл повреджен или содержит неправильные данные!\n"
                                 "Импорт не произведен!\n"));
        EXPECT_EQ(ReadFileBytes(ownPath), own);
    }
}

TEST_F(CsvImportTest, ImportedRowsTakeTheDirectoryFilesEncoding) {
    // A UTF-8 CSV (with its mark) into a Windows-1251 directory...
    DirectoryTable table(Executors, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, ownPath, true));
    dir.Write("in.csv", "\xEF\xBB\xBF" + QStringLiteral("7;Сидоров;777\r\n").toUtf8());
    ASSERT_TRUE(ImportCsv(table, dir.File("in.csv")));
    EXPECT_EQ(table.Cell(0, 1), QStringLiteral("7"));
    EXPECT_EQ(table.Cell(0, 2), QStringLiteral("Сидоров"));
    ASSERT_TRUE(SaveDirectoryFile(table, ownPath));
    EXPECT_EQ(ReadFileBytes(ownPath), Cp1251(QStringLiteral("7;Сидоров;777\r\n")));

    // ...and a Windows-1251 CSV into a UTF-8 directory, which stays UTF-8.
    const QByteArray utf8 = QStringLiteral("1;Иванов;111\r\n").toUtf8();
    WriteFileBytes(ownPath, utf8);
    ASSERT_TRUE(LoadDirectoryFile(table, ownPath, true));
    dir.Write("in.csv", Cp1251(QStringLiteral("8;Кузнецова;888\r\n")));
    ASSERT_TRUE(ImportCsv(table, dir.File("in.csv")));
    ASSERT_TRUE(SaveDirectoryFile(table, ownPath));
    EXPECT_EQ(ReadFileBytes(ownPath), QStringLiteral("8;Кузнецова;888\r\n").toUtf8());
}

TEST_F(CsvImportTest, AWindows1251LineThatGrowsTooLongInAUtf8DirectoryHasItsLongestTextShortened) {
    // A UTF-8 directory, and a Windows-1251 CSV whose supplier's name holds
    // runs of bullets ("•", one byte there, three in UTF-8): the imported line
    // would take 1220 bytes in the directory's file. The cut falls right after
    // a blank, which is left out too (a field is read without it).
    WriteFileBytes(ownPath, QStringLiteral("1;Иванов;111\r\n").toUtf8());
    DirectoryTable table(Executors, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, ownPath, true));
    const QString name = QStringLiteral("Поставщик ") + QString(332, QChar(u'•')) + QStringLiteral(" ОАО Север ") +
                         QString(60, QChar(u'•'));
    dir.Write("in.csv", Cp1251(QStringLiteral("7,") + name + QStringLiteral(",777\r\n8,Кузнецова,888\r\n")));
    prompt.QueueAnswer(AnswerYes);
    ASSERT_TRUE(ImportCsv(table, dir.File("in.csv")));
    EXPECT_EQ(prompt.Texts().mid(1),
              (QStringList{QStringLiteral("Импорт произведен успешно!"),
                           QStringLiteral("Строка справочника не может быть длиннее 1023 байт: в слишком "
                                          "длинных строках сокращены самые длинные тексты (строк: 1).")}));
    // The name lost the bullets that did not fit; the ID and barcode stay.
    const QString kept = QStringLiteral("Поставщик ") + QString(332, QChar(u'•'));
    EXPECT_EQ(table.RowCells(0), (QStringList{QStringLiteral("7"), kept, QStringLiteral("777")}));
    EXPECT_EQ(RowLineBytes(table, 0), 1021);

    // Saved and loaded again: the same rows under the same columns.
    ASSERT_TRUE(SaveDirectoryFile(table, ownPath));
    DirectoryTable reloaded(Executors, &types);
    ASSERT_TRUE(LoadDirectoryFile(reloaded, ownPath, true));
    EXPECT_EQ(reloaded.RowCount(), 2);
    EXPECT_EQ(reloaded.DataColumnCount(), 3);
    EXPECT_EQ(reloaded.RowCells(0), table.RowCells(0));
    EXPECT_EQ(reloaded.RowCells(1), (QStringList{QStringLiteral("8"), QStringLiteral("Кузнецова"),
                                                 QStringLiteral("888")}));
}

TEST_F(CsvImportTest, AnsweringNoLeavesTheFileAsItWas) {
    DirectoryTable table(Executors, &types);
    dir.Write("in.csv", Cp1251(QStringLiteral("7,Сидоров,777\r\n")));
    prompt.QueueAnswer(AnswerNo);
    EXPECT_FALSE(ImportCsv(table, dir.File("in.csv")));
    EXPECT_EQ(prompt.Texts().size(), 2);
    EXPECT_EQ(table.RowCount(), 0);  // as it was before the import
    EXPECT_FALSE(table.modified);

    DirectoryTable journal(JournalView, &types);
    EXPECT_FALSE(ImportCsv(journal, dir.File("in.csv")));  // never imported
}

}  // namespace
