// The directory editor on real files: the in-place editors' Enter, Tab and
// focus-out rules on the grid, the type drop-down, numbering of added rows,
// deleting the row the user is on, the read-only journal and closing.

#include "directories/DirectoryFiles.h"
#include "tests/directories/FakeOperationTypes.h"
#include "tests/support/TestSupport.h"
#include "ui/directories/EditDirGridDlg.h"
#include "ui/editors/KxLoaderListChildCombo.h"
#include "ui/editors/KxLoaderListChildEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTableView>
#include <QTest>

namespace {

class DirectoryEditor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir(dir.Path()).mkdir(QStringLiteral("files")));
        SetProjectPath(dir.File(QStringLiteral("shop.kxc")));
    }
    void TearDown() override { SetProjectPath(QString()); }

    QString File(int kind) const {
        QString path;
        DirectoryPath(kind, &path);
        return kind == JournalView ? CurrentDirectoryFiles().journalFile : path;
    }
    void Write(int kind, const QString& text) { ASSERT_TRUE(WriteFileBytes(File(kind), Cp1251(text))); }
    void Open(int kind) {
        editor = std::make_unique<CEditDirGridDlg>(&types, QFont(QStringLiteral("Tahoma"), 10));
        editor->SetKind(kind);
        editor->show();
        QApplication::setActiveWindow(editor.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
    }
    QString Cell(int row, int column) const { return editor->Model().Table().Cell(row, column); }
    void ClickCell(int row, int column) const {
        QTableView* view = editor->View();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(editor->Model().index(row, column)).center());
    }
    QPushButton* Button(const char* id) const { return editor->findChild<QPushButton*>(id); }
    CKxLoaderListChildEdit* Edit() const { return qobject_cast<CKxLoaderListChildEdit*>(editor->CellEditor()); }

    CTestDir dir;
    CFakeOperationTypes types;
    CRecordingPrompt prompt;
    CScopedPrompt scope{prompt};
    std::unique_ptr<CEditDirGridDlg> editor;
};

}  // namespace

TEST_F(DirectoryEditor, EnterStoresAndStaysTabMovesOnLeavingStoresAndNothingTypedIsLost) {
    Write(Executors, QStringLiteral("1;Иванов;111\r\n2;Петров;\r\n"));
    Open(Executors);
    ClickCell(0, 2);
    CKxLoaderListChildEdit* first = Edit();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->text(), QStringLiteral("Иванов"));
    EXPECT_EQ(first->selectedText(), QStringLiteral("Иванов"));

    QTest::keyClicks(first, QStringLiteral("Sidorov"));
    QTest::keyClick(first, Qt::Key_Return);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("Sidorov"));
    EXPECT_EQ(Edit(), first);  // still open, and no line break in it
    EXPECT_EQ(first->text(), QStringLiteral("Sidorov"));

    // Typing on after Enter and clicking another cell stores that as well.
    QTest::keyClicks(first, QStringLiteral("ich"));
    ClickCell(1, 2);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("Sidorovich"));
    ASSERT_NE(Edit(), nullptr);
    EXPECT_EQ(Edit()->text(), QStringLiteral("Петров"));

    // Tab on an unchanged text only moves on.
    QTest::keyClick(Edit(), Qt::Key_Tab);
    EXPECT_EQ(Cell(1, 2), QStringLiteral("Петров"));
    EXPECT_EQ(editor->Model().EditingColumn(), 3);
    CKxLoaderListChildEdit* last = Edit();
    ASSERT_NE(last, nullptr);

    // Tab in the last cell of the last row stores and opens nothing more;
    // what is typed afterwards is stored when the edit is left.
    QTest::keyClicks(last, QStringLiteral("222"));
    QTest::keyClick(last, Qt::Key_Tab);
    EXPECT_EQ(Cell(1, 3), QStringLiteral("222"));
    EXPECT_EQ(Edit(), last);
    QTest::keyClicks(last, QStringLiteral("3"));
    QTest::mouseClick(Button("id1"), Qt::LeftButton);  // "Сохранить"
    EXPECT_EQ(ReadFileBytes(File(Executors)), Cp1251(QStringLiteral("1;Sidorovich;111\r\n2;Петров;2223\r\n")));
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Данные сохранены успешно!")});
}

TEST_F(DirectoryEditor, TheTypeColumnOffersTheConfigurationsTypeNames) {
    Write(Operations, QStringLiteral("5;2;Отгрузка товара;1;111\r\n"));
    Open(Operations);
    ClickCell(0, 2);
    auto* combo = qobject_cast<CKxLoaderListChildCombo*>(editor->CellEditor());
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentText(), QStringLiteral("Отгрузка"));

    QTest::keyClick(combo, Qt::Key_Down);
    QTest::keyClick(combo, Qt::Key_Tab);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("Инвентаризация"));
    ASSERT_NE(Edit(), nullptr);
    EXPECT_EQ(Edit()->text(), QStringLiteral("Отгрузка товара"));
    QTest::mouseClick(Button("id1"), Qt::LeftButton);
    EXPECT_EQ(ReadFileBytes(File(Operations)), Cp1251(QStringLiteral("5;3;Отгрузка товара;1;111\r\n")));
}

TEST_F(DirectoryEditor, AddedRowsFollowTheHighestIdAndDeleteRemovesTheRowTheUserIsOn) {
    Write(Executors, QStringLiteral("41;Иванов;1\r\n7;Петров;2\r\n"));
    Open(Executors);
    QTest::mouseClick(Button("id1004"), Qt::LeftButton);
    EXPECT_EQ(Cell(2, 1), QStringLiteral("42"));
    EXPECT_EQ(editor->View()->currentIndex().row(), 2);

    ClickCell(0, 1);
    QTest::keyClicks(Edit(), QStringLiteral("100"));
    QTest::keyClick(Edit(), Qt::Key_Return);
    QTest::mouseClick(Button("id1004"), Qt::LeftButton);
    EXPECT_EQ(Cell(3, 1), QStringLiteral("101"));
    EXPECT_EQ(editor->RowCount(), 4);

    // Up from the new row to the "42" row, then "-": that row goes.
    QTest::keyClick(editor->View(), Qt::Key_Up);
    prompt.QueueAnswer(AnswerYes);
    QTest::mouseClick(Button("id1008"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor->RowCount() == 3; }, 3000));
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Будет удалена выбранная строка в таблице!\nПродолжить?")});
    EXPECT_EQ(Cell(0, 1) + ' ' + Cell(1, 1) + ' ' + Cell(2, 1), QStringLiteral("100 7 101"));
}

TEST_F(DirectoryEditor, TheJournalIsReadOnlyAndItsClearButtonDeletesTheFileAfterTheQuestion) {
    const QString journal = QStringLiteral("4600001;1;5;7;3;10;Молоко;20240101 10:00:00;\r\n");
    Write(JournalView, journal + journal);
    Open(JournalView);
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("Журнал (просмотр)"));
    EXPECT_EQ(editor->RowCount(), 2);
    for (const char* id : {"id1004", "id1008", "id1002", "id1"}) EXPECT_FALSE(Button(id)->isEnabled()) << id;
    ClickCell(0, 2);
    EXPECT_EQ(editor->CellEditor(), nullptr);

    prompt.QueueAnswer(AnswerNo);
    QTest::mouseClick(Button("id1010"), Qt::LeftButton);
    EXPECT_TRUE(QFile::exists(File(JournalView)));
    prompt.QueueAnswer(AnswerYes);
    QTest::mouseClick(Button("id1010"), Qt::LeftButton);
    EXPECT_FALSE(QFile::exists(File(JournalView)));
    EXPECT_EQ(editor->RowCount(), 0);
    EXPECT_FALSE(Button("id1010")->isEnabled());
    EXPECT_EQ(prompt.Texts(), QStringList(2, QStringLiteral("Вы уверены, что хотите удалить файл журнала?")));
}

TEST_F(DirectoryEditor, EscapeAsksAboutATextStillInTheEditorAndNoKeepsTheFileAsItWas) {
    const QString wares = QStringLiteral("Т1;Сыр;4600000000001\r\n");
    Write(Wares, wares);
    Open(Wares);
    ClickCell(0, 2);
    QTest::keyClicks(Edit(), QStringLiteral("Butter"));
    prompt.QueueAnswer(AnswerNo);
    QTest::keyClick(Edit(), Qt::Key_Escape);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Сохранить последние изменения?")});
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(ReadFileBytes(File(Wares)), Cp1251(wares));

    Open(Wares);
    ClickCell(0, 2);
    QTest::keyClicks(Edit(), QStringLiteral("Butter"));
    prompt.QueueAnswer(AnswerYes);
    QTest::keyClick(Edit(), Qt::Key_Escape);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(ReadFileBytes(File(Wares)), Cp1251(QStringLiteral("Т1;Butter;4600000000001\r\n")));
}
