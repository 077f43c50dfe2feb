// The editor's rules carried by the directory table model.

#include "directories/DirectoryFiles.h"
#include "directories/DirectoryTableModel.h"

#include "FakeOperationTypes.h"
#include "tests/support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QDir>

#include <gtest/gtest.h>

namespace {

using Editor = CDirectoryTableModel::CellEditor;
using EditorType = CDirectoryTableModel::EditorType;

class DirectoryTableModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProjectPath(dir.File("shop.kxc"));
        QDir().mkpath(dir.File("files"));
    }
    void TearDown() override { SetProjectPath(QString()); }

    QString PathOf(int kind) const {
        if (kind == JournalView) return CurrentDirectoryFiles().journalFile;
        QString path;
        DirectoryPath(kind, &path);
        return path;
    }
    void WriteDirectory(int kind, const QString& text) { WriteFileBytes(PathOf(kind), Cp1251(text)); }

    CTestDir dir;
    CFakeOperationTypes types;
    CRecordingPrompt prompt;
    CScopedPrompt scoped{prompt};
    CDirectoryTableModel model{&types};
};

TEST_F(DirectoryTableModelTest, OpeningShowsTheFileWithCaptionColumnsAndCounts) {
    EXPECT_EQ(model.RowCountValue(), -1);
    EXPECT_EQ(model.DataColumnCountValue(), -1);
    WriteDirectory(Operations, QStringLiteral("1;1;Приемка товара;1;200\r\n2;2;Отгрузка;1;201;1\r\n"));
    ASSERT_TRUE(model.Open(Operations));
    EXPECT_EQ(model.Caption(), QStringLiteral("Справочник операций"));
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 7);
    EXPECT_EQ(model.RowCountValue(), 2);
    EXPECT_EQ(model.DataColumnCountValue(), 6);  // the widest line
    EXPECT_EQ(model.HighestId(), 2);
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QString());
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Тип операции"));
    EXPECT_EQ(model.data(model.index(1, 2)).toString(), QStringLiteral("Отгрузка"));
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QString());
    EXPECT_EQ(model.ColumnAlignment(1), Qt::AlignRight);
    EXPECT_EQ(model.ColumnAlignment(2), Qt::AlignLeft);
    EXPECT_TRUE(model.data(model.index(0, 1), Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
    EXPECT_TRUE(model.headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignLeft);
    EXPECT_EQ(model.ColumnWidth(0, 1000), 0);
    EXPECT_EQ(model.ColumnWidth(3, 1000), 178);  // 1000 / 5.6
    EXPECT_EQ(model.ColumnWidth(6, 1000), 120);
    EXPECT_TRUE(model.CanAddRow());
    EXPECT_TRUE(model.CanDeleteRow());
    EXPECT_TRUE(model.CanClear());
    EXPECT_TRUE(model.CanImport());
    EXPECT_TRUE(model.CanSave());
    EXPECT_TRUE(prompt.Texts().isEmpty());
}

TEST_F(DirectoryTableModelTest, DamagedFileOpensEmptyWithTheMessageAndSavesEmpty) {
    WriteDirectory(Addresses, QStringLiteral("1;Зона;1\r\n2;Склад\r\n"));
    EXPECT_FALSE(model.Open(Addresses));
    EXPECT_EQ(prompt.Texts(),
              QStringList{QStringLiteral("Ошибка!\nФайл поврежден или содержит неправильные данные!")});
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.CanDeleteRow());
    EXPECT_FALSE(model.CanClear());
    prompt.QueueAnswer(AnswerYes);  // replace the damaged file
    EXPECT_TRUE(model.Save());
    EXPECT_EQ(ReadFileBytes(PathOf(Addresses)), QByteArray());
    EXPECT_EQ(ReadFileBytes(PathOf(Addresses) + ".bak"), Cp1251(QStringLiteral("1;Зона;1\r\n2;Склад\r\n")));
    EXPECT_EQ(model.DataColumnCountValue(), 3);
}

TEST_F(DirectoryTableModelTest, AddedRowsAreNumberedFromTheHighestId) {
    WriteDirectory(Executors, QStringLiteral("41;Иванов;1\r\n7;Петров;2\r\n"));
    ASSERT_TRUE(model.Open(Executors));
    EXPECT_EQ(model.AddRow(), 2);
    EXPECT_EQ(model.data(model.index(2, 1)).toString(), QStringLiteral("42"));
    EXPECT_EQ(model.SelectedRow(), 2);
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(model.RowCountValue(), 3);

    // Typing 100 into another row's ID makes the next row 101.
    Editor e = model.BeginEdit(1, 1);
    ASSERT_EQ(e.type, EditorType::Edit);
    EXPECT_EQ(e.alignment, Qt::AlignRight);
    model.CommitCell(QStringLiteral("100"), true, false);
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), QStringLiteral("100"));
    model.AddRow();
    EXPECT_EQ(model.data(model.index(3, 1)).toString(), QStringLiteral("101"));
    // A smaller number typed does not lower it; a name column does not count.
    model.BeginEdit(0, 1);
    model.CommitCell(QStringLiteral("5"), true, false);
    model.BeginEdit(0, 2);
    model.CommitCell(QStringLiteral("900"), true, false);
    EXPECT_EQ(model.HighestId(), 101);
}

TEST_F(DirectoryTableModelTest, NewRowsOfEachKind) {
    ASSERT_FALSE(model.Open(Operations));  // no file yet: an empty table
    EXPECT_EQ(model.AddRow(), 0);
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("1"));
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), QString());
    EXPECT_EQ(model.data(model.index(0, 4)).toString(), QStringLiteral("1"));  // "Множитель"

    for (int kind : {int(Wares), int(WareDetails), int(DocumentPlan)}) {
        WriteDirectory(kind, QStringLiteral("55;a;b\r\n"));
        model.Open(kind);
        model.AddRow();
        EXPECT_EQ(model.data(model.index(1, 1)).toString(), QString()) << kind;
    }
    WriteDirectory(Documents, QStringLiteral("10;a;b;c\r\n3;d;e;f\r\n"));
    model.Open(Documents);
    model.AddRow();
    EXPECT_EQ(model.data(model.index(2, 1)).toString(), QStringLiteral("11"));
}

TEST_F(DirectoryTableModelTest, ClearingAsksAndNumbersFromOneAgain) {
    WriteDirectory(Executors, QStringLiteral("41;Иванов;1\r\n"));
    model.Open(Executors);
    prompt.QueueAnswer(AnswerNo);
    EXPECT_FALSE(model.Clear());
    EXPECT_EQ(model.rowCount(), 1);
    prompt.QueueAnswer(AnswerYes);
    EXPECT_TRUE(model.Clear());
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(IsMessage(messages[1],
                          QStringLiteral("Будет произведена очистка справочника!\nПродолжить?"),
                          QStringLiteral("KXLoader"), PromptIcon::Question));
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.SelectedRow(), -1);
    EXPECT_TRUE(model.IsModified());
    EXPECT_FALSE(model.CanClear());
    model.AddRow();
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("1"));
    EXPECT_EQ(ReadFileBytes(PathOf(Executors)), Cp1251(QStringLiteral("41;Иванов;1\r\n")));
}

TEST_F(DirectoryTableModelTest, DeletingAsksAndKeepsTheSelectedIndex) {
    WriteDirectory(Executors, QStringLiteral("1;a;1\r\n2;b;2\r\n3;c;3\r\n"));
    model.Open(Executors);
    model.SetSelectedRow(1);
    prompt.QueueAnswer(AnswerNo);
    EXPECT_EQ(model.DeleteSelectedRow(), CDirectoryTableModel::DeleteResult::Declined);
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(prompt.Texts().value(0),
              QStringLiteral("Будет удалена выбранная строка в таблице!\nПродолжить?"));
    prompt.defaultAnswer = AnswerYes;
    EXPECT_EQ(model.DeleteSelectedRow(), CDirectoryTableModel::DeleteResult::Deleted);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.SelectedRow(), 1);
    EXPECT_EQ(model.data(model.index(1, 2)).toString(), QStringLiteral("c"));
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(model.DeleteSelectedRow(), CDirectoryTableModel::DeleteResult::Deleted);
    // Past the end now: the deletion fails with its message, nothing changes.
    prompt.Clear();
    EXPECT_EQ(model.DeleteSelectedRow(), CDirectoryTableModel::DeleteResult::Failed);
    EXPECT_EQ(prompt.Texts().value(1), QStringLiteral("Ошибка! Не удалось удалить строку!"));
    EXPECT_EQ(prompt.Messages().value(1).icon, PromptIcon::Error);
    EXPECT_EQ(model.rowCount(), 1);
}

TEST_F(DirectoryTableModelTest, TabMovesThroughTheCellsAndStopsAtTheLast) {
    WriteDirectory(Executors, QStringLiteral("1;a;1\r\n2;b;2\r\n"));
    model.Open(Executors);
    Editor e = model.BeginEdit(0, 2);
    EXPECT_EQ(e.text, QStringLiteral("a"));
    EXPECT_EQ(e.alignment, Qt::AlignLeft);
    e = model.CommitCell(QStringLiteral("a"), false, true);  // unchanged: only advances
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(e.type, EditorType::Edit);
    EXPECT_EQ(e.row, 0);
    EXPECT_EQ(e.column, 3);
    e = model.CommitCell(QStringLiteral("11"), true, true);
    EXPECT_EQ(e.row, 1);
    EXPECT_EQ(e.column, 1);
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), QStringLiteral("11"));
    model.BeginEdit(1, 3);
    e = model.CommitCell(QStringLiteral("22"), true, true);
    EXPECT_EQ(e.type, EditorType::None);
    EXPECT_EQ(model.data(model.index(1, 3)).toString(), QStringLiteral("22"));
    EXPECT_EQ(model.BeginEdit(1, 0).type, EditorType::None);
    EXPECT_EQ(model.BeginEdit(2, 1).type, EditorType::None);
}

TEST_F(DirectoryTableModelTest, OperationTypeCellIsAListOfTheConfigurationsTypes) {
    WriteDirectory(Operations, QStringLiteral("1;3;a;1;2\r\n2;9;b;1;2\r\n"));
    model.Open(Operations);
    Editor e = model.BeginEdit(0, 2);
    ASSERT_EQ(e.type, EditorType::TypeList);
    EXPECT_EQ(e.choices, (QStringList{QStringLiteral("Приемка"), QStringLiteral("Отгрузка"),
                                      QStringLiteral("Инвентаризация")}));
    EXPECT_EQ(e.currentChoice, 2);
    e = model.BeginEdit(1, 2);  // "!НЕ ОПРЕДЕЛЕНО!" is not a choice
    EXPECT_EQ(e.currentChoice, 0);
    model.CommitCell(e.choices[1], true, false);
    EXPECT_EQ(model.BeginEdit(0, 4).alignment, Qt::AlignRight);
    EXPECT_EQ(model.BeginEdit(0, 3).alignment, Qt::AlignLeft);
    EXPECT_TRUE(model.Save());
    EXPECT_EQ(ReadFileBytes(PathOf(Operations)), QByteArray("1;3;a;1;2\r\n2;2;b;1;2\r\n"));
}

TEST_F(DirectoryTableModelTest, SaveAndCloseFlows) {
    WriteDirectory(Executors, QStringLiteral("1;a;1\r\n"));
    model.Open(Executors);
    EXPECT_TRUE(model.RequestClose());  // not modified: no question
    EXPECT_TRUE(prompt.Texts().isEmpty());

    EXPECT_TRUE(model.setData(model.index(0, 2), QStringLiteral("Иванов")));
    EXPECT_TRUE(model.IsModified());
    prompt.QueueAnswer(AnswerNo);
    EXPECT_TRUE(model.RequestClose());  // discards
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Сохранить последние изменения?")});
    EXPECT_EQ(ReadFileBytes(PathOf(Executors)), QByteArray("1;a;1\r\n"));

    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    EXPECT_TRUE(model.RequestClose());
    EXPECT_EQ(ReadFileBytes(PathOf(Executors)), Cp1251(QStringLiteral("1;Иванов;1\r\n")));
    EXPECT_FALSE(model.IsModified());

    // The explicit save reports either way and keeps the table modified on failure.
    prompt.Clear();
    model.setData(model.index(0, 2), QStringLiteral("Петров"));
    EXPECT_TRUE(model.Save());
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Данные сохранены успешно!")});
    EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Information);

    SetProjectPath(dir.File("gone/x.kxc"));
    WriteFileBytes(dir.File("gone"), "a file where the folder should be");
    WriteFileBytes(dir.File("plain"), "x");
    model.OpenFile(Executors, dir.File("plain/x.ux4"));
    model.AddRow();
    prompt.Clear();
    EXPECT_FALSE(model.Save());
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Не удалось сохранить справочник!")});
    EXPECT_TRUE(model.IsModified());
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    EXPECT_FALSE(model.RequestClose());
    EXPECT_EQ(prompt.Texts().value(1), QStringLiteral("Ошибка! Не удалось сохранить!"));
    EXPECT_EQ(prompt.Messages().value(1).icon, PromptIcon::Error);
}

TEST_F(DirectoryTableModelTest, ImportThroughTheModel) {
    WriteDirectory(Addresses, QStringLiteral("1;a;1\r\n"));
    model.Open(Addresses);
    dir.Write("in.csv", Cp1251(QStringLiteral("5,Склад,55\r\n")));
    prompt.QueueFileName(dir.File("in.csv"));
    prompt.QueueAnswer(AnswerYes);
    EXPECT_TRUE(model.ImportCsvFile());
    ASSERT_EQ(prompt.FileRequests().size(), 1);
    EXPECT_EQ(prompt.FileRequests()[0].filter, QStringLiteral("Текстовые Файлы csv (*.csv)|*.csv|Все файлы (*)|*|"));
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), QStringLiteral("Склад"));
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(model.HighestId(), 5);
    prompt.Clear();
    EXPECT_FALSE(model.ImportCsvFile());  // cancelled: nothing happens
    EXPECT_TRUE(prompt.Texts().isEmpty());
    EXPECT_EQ(model.rowCount(), 1);
}

// ---------------------------------------------------------------------------
// Nothing typed or stored is lost or silently changed

TEST_F(DirectoryTableModelTest, SeparatorAndLineBreaksInACellNeverMoveAFieldOrBreakTheLine) {
    const QString replacedNotice = QStringLiteral(
        "Символ ';' и переводы строки в справочнике не допускаются: ';' заменен на ',', "
        "перевод строки - на пробел.");
    WriteDirectory(Executors, QStringLiteral("1;Петров;111\r\n2;Сидоров;222\r\n"));
    ASSERT_TRUE(model.Open(Executors));
    // Typed in the in-place editor, and pasted into a cell (setData).
    model.BeginEdit(0, 2);
    model.CommitCell(QStringLiteral("Иванов; мл."), true, false);
    EXPECT_EQ(prompt.Texts(), QStringList{replacedNotice});
    EXPECT_EQ(prompt.Messages().value(0).caption, QStringLiteral("KXLoader"));
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), QStringLiteral("Иванов, мл."));
    EXPECT_TRUE(model.setData(model.index(1, 2), QStringLiteral("Сидоров\r\nстарший\nсклад\r")));
    ASSERT_TRUE(model.Save());
    EXPECT_EQ(ReadFileBytes(PathOf(Executors)),
              Cp1251(QStringLiteral("1;Иванов, мл.;111\r\n2;Сидоров старший склад ;222\r\n")));
    prompt.Clear();
    ASSERT_TRUE(model.Open(Executors));
    EXPECT_EQ(model.columnCount(), 4);  // no "Поле #4"
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), QStringLiteral("111"));
    EXPECT_TRUE(prompt.Texts().isEmpty());

    // A comma-separated import whose field holds ';'.
    dir.Write("in.csv", Cp1251(QStringLiteral("5,Иванов; мл.,555\r\n6,Кузнецов,666\r\n")));
    prompt.QueueAnswer(AnswerYes);
    ASSERT_TRUE(model.ImportCsvFrom(dir.File("in.csv")));
    EXPECT_EQ(prompt.Texts().mid(1),
              (QStringList{QStringLiteral("Импорт произведен успешно!"), replacedNotice}));
    ASSERT_TRUE(model.Save());
    EXPECT_EQ(ReadFileBytes(PathOf(Executors)),
              Cp1251(QStringLiteral("5;Иванов, мл.;555\r\n6;Кузнецов;666\r\n")));
    ASSERT_TRUE(model.Open(Executors));
    EXPECT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), QStringLiteral("555"));
}

TEST_F(DirectoryTableModelTest, ATextThatWouldMakeItsLineTooLongIsShortenedWhenItEntersTheCell) {
    const auto shortened = [](int kept) {
        return QStringLiteral("Строка справочника не может быть длиннее 1023 байт: текст ячейки сокращен "
                              "(оставлено символов: %1).")
            .arg(kept);
    };
    // A 1100-character name pasted into an executor's row "1;...;111": the
    // line keeps 1023 bytes, so the name keeps 1017 characters.
    WriteDirectory(Executors, QStringLiteral("1;Петров;111\r\n2;Сидоров;222\r\n"));
    ASSERT_TRUE(model.Open(Executors));
    const QString pasted = QStringLiteral("Иванов ") + QString(1093, QChar(u'Я'));
    EXPECT_TRUE(model.setData(model.index(0, 2), pasted));
    EXPECT_EQ(prompt.Texts(), QStringList{shortened(1017)});
    EXPECT_EQ(prompt.Messages().value(0).caption, QStringLiteral("KXLoader"));
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), pasted.left(1017));
    // Typed in the editor: the same rule, and an ID too long for its line.
    model.BeginEdit(1, 1);
    model.CommitCell(QString(1030, QChar(u'9')), true, false);
    EXPECT_EQ(prompt.Texts().last(), shortened(1011));  // ";Сидоров;222" leaves 1011 bytes
    ASSERT_TRUE(model.Save());
    ASSERT_TRUE(model.Open(Executors));
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), pasted.left(1017));
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), QStringLiteral("111"));
    EXPECT_EQ(model.data(model.index(1, 3)).toString(), QStringLiteral("222"));

    // In a UTF-8 file a Cyrillic letter takes two bytes: 508 of them fit.
    WriteFileBytes(PathOf(Executors), QStringLiteral("1;Петров;111\r\n").toUtf8());
    ASSERT_TRUE(model.Open(Executors));
    prompt.Clear();
    model.BeginEdit(0, 2);
    model.CommitCell(QString(600, QChar(u'Я')), true, false);
    EXPECT_EQ(prompt.Texts(), QStringList{shortened(508)});
    ASSERT_TRUE(model.Save());
    EXPECT_EQ(ReadFileBytes(PathOf(Executors)),
              "1;" + QString(508, QChar(u'Я')).toUtf8() + ";111\r\n");

    // An operation type is a choice: one whose ID would not fit is refused.
    const QString name(1004, QChar(u'ф'));
    WriteDirectory(Operations, QStringLiteral("1;;") + name + QStringLiteral(";1;4600000000012\r\n"));  // 1023 bytes
    ASSERT_TRUE(model.Open(Operations));
    prompt.Clear();
    const Editor e = model.BeginEdit(0, 2);
    model.CommitCell(e.choices[0], true, false);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral(
                                  "Строка справочника не может быть длиннее 1023 байт: значение ячейки не изменено.")});
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), QStringLiteral("!НЕ ОПРЕДЕЛЕНО!"));
    ASSERT_TRUE(model.Save());
    EXPECT_EQ(ReadFileBytes(PathOf(Operations)),
              Cp1251(QStringLiteral("1;;") + name + QStringLiteral(";1;4600000000012\r\n")));
}

TEST_F(DirectoryTableModelTest, ASaveOverAnotherProgramsSaveOfTheSameSizeAsksFirst) {
    // Big enough to be read in several blocks.
    QByteArray wares;
    for (int i = 0; i < 20000; ++i) wares += "W" + QByteArray::number(i) + ";Ware;46" + QByteArray::number(i) + "\r\n";
    WriteFileBytes(PathOf(Wares), wares);
    ASSERT_TRUE(model.Open(Wares));
    model.setData(model.index(0, 2), QStringLiteral("Mine"));

    // Another program changes one name, deep in the file, keeping its size.
    QByteArray theirs = wares;
    const qsizetype at = theirs.indexOf(";Ware;4619999");
    ASSERT_GT(at, 0);
    theirs[at + 1] = 'w';
    WriteFileBytes(PathOf(Wares), theirs);
    prompt.Clear();
    EXPECT_FALSE(model.Save());  // the question's default is No
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].buttons, PromptButtons::YesNoDefaultNo);
    EXPECT_TRUE(prompt.Messages()[0].text.contains(QDir::toNativeSeparators(PathOf(Wares))));
    EXPECT_EQ(ReadFileBytes(PathOf(Wares)), theirs);

    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    EXPECT_TRUE(model.Save());
    EXPECT_TRUE(ReadFileBytes(PathOf(Wares)).startsWith("W0;Mine;460\r\n"));
    // What this program saved itself is no other program's save.
    model.setData(model.index(1, 2), QStringLiteral("Mine too"));
    prompt.Clear();
    EXPECT_TRUE(model.Save());
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Данные сохранены успешно!")});
    // Another program's save after this one is.
    QByteArray again = ReadFileBytes(PathOf(Wares));
    again.replace("W0;Mine;", "W0;Ours;");
    WriteFileBytes(PathOf(Wares), again);
    model.setData(model.index(2, 2), QStringLiteral("Third"));
    prompt.Clear();
    EXPECT_FALSE(model.Save());
    EXPECT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(ReadFileBytes(PathOf(Wares)), again);
}

TEST_F(DirectoryTableModelTest, ADamagedFileSurvivesTheNextSaveInACopyBesideIt) {
    // Many good wares and one line too short: the table opens empty.
    QByteArray wares;
    for (int i = 0; i < 5000; ++i) wares += "W" + QByteArray::number(i) + ";Ware;46" + QByteArray::number(i) + "\r\n";
    const QByteArray damaged = wares + "W-broken;\r\n" + wares;
    WriteFileBytes(PathOf(Wares), damaged);
    EXPECT_FALSE(model.Open(Wares));
    EXPECT_TRUE(model.IsDamaged());
    EXPECT_EQ(model.rowCount(), 0);
    const QString copy = PathOf(Wares) + ".bak";
    EXPECT_EQ(model.DamagedFileCopyPath(), copy);

    model.AddRow();
    model.setData(model.index(0, 1), QStringLiteral("N1"));
    prompt.Clear();
    EXPECT_FALSE(model.Save());  // the question's default is No
    ASSERT_EQ(prompt.Messages().size(), 1);
    const auto question = prompt.Messages()[0];
    EXPECT_EQ(question.buttons, PromptButtons::YesNoDefaultNo);
    EXPECT_EQ(question.caption, QStringLiteral("KXLoader"));
    EXPECT_TRUE(question.text.contains(QDir::toNativeSeparators(copy))) << question.text.toStdString();
    EXPECT_EQ(ReadFileBytes(PathOf(Wares)), damaged);
    EXPECT_FALSE(QFile::exists(copy));
    EXPECT_TRUE(model.IsModified());
    // Closing: Yes to saving, No to replacing the damaged file keeps the window open.
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    prompt.QueueAnswer(AnswerNo);
    EXPECT_FALSE(model.RequestClose());
    EXPECT_EQ(ReadFileBytes(PathOf(Wares)), damaged);

    // Yes: the damaged bytes are kept beside the file, then it is replaced.
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    EXPECT_TRUE(model.Save());
    EXPECT_EQ(ReadFileBytes(copy), damaged);
    EXPECT_EQ(ReadFileBytes(PathOf(Wares)), QByteArray("N1;;\r\n"));
    EXPECT_FALSE(model.IsDamaged());
    EXPECT_EQ(prompt.Texts().value(1), QStringLiteral("Данные сохранены успешно!"));
    prompt.Clear();
    model.setData(model.index(0, 2), QStringLiteral("Хлеб"));
    EXPECT_TRUE(model.Save());  // the file is ours now: no question
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Данные сохранены успешно!")});

    // A line too long is damage too; an earlier copy is never replaced.
    WriteFileBytes(PathOf(Wares), "A;" + QByteArray(1500, 'x') + ";1\r\n");
    EXPECT_FALSE(model.Open(Wares));
    EXPECT_TRUE(model.IsDamaged());
    EXPECT_EQ(model.DamagedFileCopyPath(), PathOf(Wares) + ".2.bak");
    // A file that is simply missing is no damage.
    QFile::remove(PathOf(Executors));
    EXPECT_FALSE(model.Open(Executors));
    EXPECT_FALSE(model.IsDamaged());
}

TEST_F(DirectoryTableModelTest, AFailedImportLeavesTheTableExactlyAsItWas) {
    WriteDirectory(Addresses, QStringLiteral("1;Зона;1\r\n"));
    ASSERT_TRUE(model.Open(Addresses));
    // An earlier import brought two more fields, then the user edited a row.
    dir.Write("wide.csv", Cp1251(QStringLiteral("7;Склад;77;a;b\r\n8;Цех;88;c;d\r\n")));
    ASSERT_TRUE(model.ImportCsvFrom(dir.File("wide.csv")));
    model.setData(model.index(1, 2), QStringLiteral("Цех №2"));
    model.SetSelectedRow(1);
    ASSERT_EQ(model.columnCount(), 6);

    dir.Write("bad.csv", Cp1251(QStringLiteral("9;Ангар\r\n")));
    prompt.Clear();
    prompt.QueueAnswer(AnswerNo);
    EXPECT_FALSE(model.ImportCsvFrom(dir.File("bad.csv")));
    EXPECT_EQ(prompt.Texts().last(),
              QStringLiteral("Ошибка! Файл повреджен или содержит неправильные данные!\n"
                             "Импорт не произведен!\n"));
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 6);
    EXPECT_EQ(model.data(model.index(1, 2)).toString(), QStringLiteral("Цех №2"));
    EXPECT_EQ(model.data(model.index(1, 5)).toString(), QStringLiteral("d"));
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(model.SelectedRow(), 1);
    ASSERT_TRUE(model.Save());
    EXPECT_EQ(ReadFileBytes(PathOf(Addresses)),
              Cp1251(QStringLiteral("7;Склад;77;a;b\r\n8;Цех №2;88;c;d\r\n")));

    // Unmodified before, unmodified after; a failed comma pass changes nothing either.
    dir.Write("bad2.csv", Cp1251(QStringLiteral("9,Ангар\r\n")));
    prompt.QueueAnswer(AnswerYes);
    EXPECT_FALSE(model.ImportCsvFrom(dir.File("bad2.csv")));
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 6);
}

TEST_F(DirectoryTableModelTest, NoRowIsNumberedBeyondTheLargestId) {
    WriteDirectory(Executors, QStringLiteral("2147483646;Иванов;1\r\n"));
    ASSERT_TRUE(model.Open(Executors));
    model.AddRow();
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), QStringLiteral("2147483647"));
    EXPECT_TRUE(prompt.Texts().isEmpty());
    for (int row : {2, 3}) {
        prompt.Clear();
        EXPECT_EQ(model.AddRow(), row);
        EXPECT_EQ(model.data(model.index(row, 1)).toString(), QString());  // for the user to fill
        EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral(
                                      "ID новой строки не присвоен: наибольший ID (2147483647) уже "
                                      "занят.\nВведите ID новой строки вручную.")});
        EXPECT_EQ(prompt.Messages().value(0).icon, PromptIcon::Warning);
    }
    EXPECT_EQ(model.HighestId(), 2147483647);
    // The user fills one in; clearing the directory starts from 1 again.
    model.setData(model.index(2, 1), QStringLiteral("17"));
    EXPECT_EQ(model.data(model.index(2, 1)).toString(), QStringLiteral("17"));
    prompt.QueueAnswer(AnswerYes);
    model.Clear();
    model.AddRow();
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("1"));
}

TEST_F(DirectoryTableModelTest, JournalViewRefusesEveryChange) {
    WriteDirectory(JournalView, QStringLiteral("4600;1;1;2;3;4;Т1;01.01.2024 10:00;\r\n"));
    ASSERT_TRUE(model.Open(JournalView, false));
    EXPECT_EQ(model.Caption(), QStringLiteral("Журнал (просмотр)"));
    EXPECT_EQ(model.columnCount(), 10);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Штрихкод"));
    EXPECT_TRUE(model.IsReadOnly());
    EXPECT_FALSE(model.CanAddRow());
    EXPECT_FALSE(model.CanDeleteRow());
    EXPECT_FALSE(model.CanImport());
    EXPECT_FALSE(model.CanSave());
    EXPECT_TRUE(model.CanClear());

    EXPECT_EQ(model.AddRow(), -1);
    model.SetSelectedRow(0);
    EXPECT_EQ(model.DeleteSelectedRow(), CDirectoryTableModel::DeleteResult::Ignored);
    EXPECT_FALSE(model.setData(model.index(0, 1), QStringLiteral("x")));
    EXPECT_FALSE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_EQ(model.BeginEdit(0, 1).type, EditorType::None);
    EXPECT_EQ(model.CommitCell(QStringLiteral("x"), true, true).type, EditorType::None);
    EXPECT_FALSE(model.Save());
    EXPECT_FALSE(model.ImportCsvFrom(PathOf(JournalView)));
    EXPECT_TRUE(model.RequestClose());
    EXPECT_TRUE(prompt.Texts().isEmpty());
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("4600"));
    EXPECT_FALSE(model.IsModified());

    prompt.QueueAnswer(AnswerNo);
    EXPECT_FALSE(model.Clear());
    EXPECT_EQ(prompt.Messages().value(0).buttons, PromptButtons::YesNoDefaultNo);
    EXPECT_TRUE(QFile::exists(PathOf(JournalView)));
    prompt.QueueAnswer(AnswerYes);
    EXPECT_TRUE(model.Clear());
    EXPECT_EQ(prompt.Texts().value(1), QStringLiteral("Вы уверены, что хотите удалить файл журнала?"));
    EXPECT_EQ(prompt.Messages().value(1).caption, QStringLiteral("Внимание"));
    EXPECT_EQ(prompt.Messages().value(1).icon, PromptIcon::Warning);
    EXPECT_FALSE(QFile::exists(PathOf(JournalView)));
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.RowCountValue(), 0);
    EXPECT_FALSE(model.IsModified());

    ASSERT_FALSE(model.Open(JournalView, true));  // the file is gone
    EXPECT_EQ(model.columnCount(), 11);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("id"));
}

// Qt's own checks of a model (indexes, parents, counts, data roles, every
// signal's order) while a large wares file is opened, grown, edited, cut and
// cleared: a view trusts exactly these rules.
TEST_F(DirectoryTableModelTest, QtsModelChecksHoldOnALargeFileThroughEveryChange) {
    QByteArray bytes;
    for (int i = 0; i < 20000; ++i)
        bytes += Cp1251(QStringLiteral("Т%1;Молоко Луговое %2 г;46%3\r\n")
                            .arg(i, 7, 10, QLatin1Char('0'))
                            .arg(i % 997)
                            .arg(qint64(1000000000) + i * 7919LL, 11, 10, QLatin1Char('0')));
    WriteFileBytes(PathOf(Wares), bytes);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

    ASSERT_TRUE(model.Open(Wares));
    ASSERT_EQ(model.rowCount(), 20000);
    EXPECT_EQ(model.AddRow(), 20000);
    model.BeginEdit(20000, 1);
    model.CommitCell(QStringLiteral("Т9999999"), true, false);
    model.SetSelectedRow(5);
    prompt.QueueAnswer(AnswerYes);
    EXPECT_EQ(model.DeleteSelectedRow(), CDirectoryTableModel::DeleteResult::Deleted);
    EXPECT_EQ(model.rowCount(), 20000);
    EXPECT_EQ(model.data(model.index(19999, 1)).toString(), QStringLiteral("Т9999999"));
    EXPECT_FALSE(model.Open(Executors));  // another kind, no file: other columns, no rows
    EXPECT_EQ(model.rowCount(), 0);
    ASSERT_TRUE(model.Open(Wares));
    prompt.QueueAnswer(AnswerYes);
    EXPECT_TRUE(model.Clear());
    EXPECT_EQ(model.rowCount(), 0);
}

}  // namespace
