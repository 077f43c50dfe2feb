// The directory editor on real files: the in-place editors' Enter, Tab and
// focus-out rules on the grid, the type drop-down, numbering of added rows,
// deleting the row the user is on, the read-only journal and closing.

#include "directories/DirectoryFiles.h"
#include "tests/directories/FakeOperationTypes.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/main/UiFixture.h"
#include "ui/QtPrompt.h"
#include "ui/directories/EditDirGridDlg.h"
#include "ui/editors/KxLoaderListChildCombo.h"
#include "ui/editors/KxLoaderListChildEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
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
    void Open(int kind) {
        editor = std::make_unique<CEditDirGridDlg>(&types, QFont(QStringLiteral("Tahoma"), 10));
        editor->SetKind(kind);
        editor->show();
        QApplication::setActiveWindow(editor.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
    }
    // Writes `text` (Windows-1251) as the file of `kind` and opens the editor on it.
    void OpenOn(int kind, const QString& text) {
        ASSERT_TRUE(WriteFileBytes(File(kind), Cp1251(text)));
        Open(kind);
    }
    QString Cell(int row, int column) const { return editor->Model().Table().Cell(row, column); }
    void ClickCell(int row, int column) const {
        QTableView* view = editor->View();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(editor->Model().index(row, column)).center());
    }
    QPushButton* Button(const char* id) const { return editor->findChild<QPushButton*>(id); }
    CKxLoaderListChildEdit* Edit() const { return qobject_cast<CKxLoaderListChildEdit*>(editor->CellEditor()); }
    // Clicks the cell; the in-place editor that opened on it, or nullptr.
    CKxLoaderListChildEdit* EditCell(int row, int column) const {
        ClickCell(row, column);
        return Edit();
    }

    CTestDir dir;
    CFakeOperationTypes types;
    CRecordingPrompt prompt;
    CScopedPrompt scope{prompt};
    std::unique_ptr<CEditDirGridDlg> editor;
};

}  // namespace

TEST_F(DirectoryEditor, EnterStoresAndStaysTabMovesOnLeavingStoresAndNothingTypedIsLost) {
    OpenOn(Executors, QStringLiteral("1;Иванов;111\r\n2;Петров;\r\n"));
    CKxLoaderListChildEdit* first = EditCell(0, 2);
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
    OpenOn(Operations, QStringLiteral("5;2;Отгрузка товара;1;111\r\n"));
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
    OpenOn(Executors, QStringLiteral("41;Иванов;1\r\n7;Петров;2\r\n"));
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
    OpenOn(JournalView, journal + journal);
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
    OpenOn(Wares, wares);
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

TEST_F(DirectoryEditor, MinusDeletesOnlyARowTheUserChose) {
    OpenOn(Addresses, QStringLiteral("1;Склад;11\r\n2;Зал;22\r\n3;Касса;33\r\n"));
    // The list has the focus and its focus frame on the first row, but no
    // row is chosen: "-" has nothing to delete.
    editor->View()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(editor->View()->currentIndex().isValid());
    EXPECT_FALSE(Button("id1008")->isEnabled());
    prompt.QueueAnswer(AnswerYes);
    QTest::mouseClick(Button("id1008"), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(prompt.Texts().isEmpty());
    EXPECT_EQ(editor->RowCount(), 3);

    // A click chooses the second row; "-" and Yes delete that one.
    ClickCell(1, 2);
    QTest::keyClick(Edit(), Qt::Key_Return);
    EXPECT_TRUE(Button("id1008")->isEnabled());
    QTest::mouseClick(Button("id1008"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor->RowCount() == 2; }, 3000));
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Будет удалена выбранная строка в таблице!\nПродолжить?")});
    EXPECT_EQ(Cell(0, 2) + ' ' + Cell(1, 2), QStringLiteral("Склад Касса"));
}

TEST_F(DirectoryEditor, TheCellEditorShowsWhatWasStoredAndNeverOutlivesItsRow) {
    OpenOn(Addresses, QStringLiteral("1;Склад;11\r\n2;Зал;22\r\n"));
    CKxLoaderListChildEdit* edit = EditCell(1, 2);
    ASSERT_NE(edit, nullptr);
    QString shownWithTheMessage;
    class CLooking : public CRecordingPrompt {
    public:
        std::function<void()> onMessage;
        int Message(const QString& text, const QString& caption, PromptIcon icon, PromptButtons buttons) override {
            if (onMessage) onMessage();
            return CRecordingPrompt::Message(text, caption, icon, buttons);
        }
    } looking;
    looking.onMessage = [&] { shownWithTheMessage = edit->text(); };
    {
        CScopedPrompt scope(looking);
        QTest::keyClicks(edit, QStringLiteral("Test;Tab"));
        QTest::keyClick(edit, Qt::Key_Return);
    }
    ASSERT_EQ(looking.Messages().size(), 1);  // ';' was replaced, the user is told
    EXPECT_EQ(Cell(1, 2), QStringLiteral("Test,Tab"));
    // The editor shows the stored text while the message is up, and after it.
    EXPECT_EQ(shownWithTheMessage, QStringLiteral("Test,Tab"));
    ASSERT_EQ(Edit(), edit);
    EXPECT_EQ(edit->text(), QStringLiteral("Test,Tab"));

    // Its row goes (the whole table is cleared): the editor goes with it and
    // nothing typed afterwards lands anywhere.
    QPointer<CKxLoaderListChildEdit> watched(edit);
    prompt.QueueAnswer(AnswerYes);
    editor->Model().Clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 3000));
    EXPECT_EQ(editor->CellEditor(), nullptr);
    EXPECT_EQ(editor->RowCount(), 0);
}

TEST_F(DirectoryEditor, TheGridWorksFromTheKeyboard) {
    OpenOn(Executors, QStringLiteral("1;Иванов;111\r\n2;Петров;222\r\n"));
    QTableView* view = editor->View();
    view->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Right);
    ASSERT_EQ(view->currentIndex().row(), 1);
    // F2 opens the current cell's editor.
    QTest::keyClick(view, Qt::Key_F2);
    ASSERT_NE(Edit(), nullptr);
    const int column = editor->Model().EditingColumn();
    EXPECT_EQ(editor->Model().EditingRow(), 1);
    EXPECT_EQ(Edit()->text(), Cell(1, column));
    // Shift+Tab stores and goes back a cell, from the first column to the
    // last one of the row above.
    QTest::keyClick(Edit(), Qt::Key_Home);
    QTest::keyClicks(Edit(), QStringLiteral("X"));
    QTest::keyClick(Edit(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(Cell(1, column), QStringLiteral("X") + (column == 1 ? QStringLiteral("2") : QStringLiteral("Петров")));
    ASSERT_NE(Edit(), nullptr);
    EXPECT_EQ(editor->Model().EditingColumn(), column - 1);
    if (column - 1 == 1) {
        QTest::keyClick(Edit(), Qt::Key_Tab, Qt::ShiftModifier);
        EXPECT_EQ(editor->Model().EditingRow(), 0);
        EXPECT_EQ(editor->Model().EditingColumn(), 3);
    }
    // Enter on the grid opens an editor too.
    view->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Edit() == nullptr; }, 3000));
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_NE(Edit(), nullptr);
}

TEST_F(DirectoryEditor, LoadSaveAndImportShowTheWaitCursorAndTheLastColumnTakesTheWidth) {
    // What the cursor is when the work under way says something.
    class CCursorWatch : public CRecordingPrompt {
    public:
        QList<int> shapes;
        int Message(const QString& text, const QString& caption, PromptIcon icon, PromptButtons buttons) override {
            const QCursor* cursor = QGuiApplication::overrideCursor();
            shapes << (cursor ? cursor->shape() : -1);
            return CRecordingPrompt::Message(text, caption, icon, buttons);
        }
        QString OpenFileName(const FileDialogRequest& request) override {
            filters << ToQtFilter(request.filter);
            return CRecordingPrompt::OpenFileName(request);
        }
        QStringList filters;
    } watch;
    CScopedPrompt scope(watch);

    // A damaged file says so while it is being loaded.
    OpenOn(Operations, QStringLiteral("1;2\r\n"));
    ASSERT_EQ(watch.Messages().size(), 1);
    EXPECT_EQ(watch.shapes.value(0), int(Qt::WaitCursor));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    editor->reject();

    OpenOn(Addresses, QStringLiteral("1;Склад;11\r\n"));
    watch.Clear();
    watch.shapes.clear();
    QTest::mouseClick(Button("id1004"), Qt::LeftButton);
    QTest::mouseClick(Button("id1"), Qt::LeftButton);  // "Сохранить"
    EXPECT_EQ(watch.Texts(), QStringList{QStringLiteral("Данные сохранены успешно!")});
    EXPECT_EQ(watch.shapes, QList<int>{int(Qt::WaitCursor)});

    // The import asks for a file with a well-formed filter, then works under
    // the wait cursor (a file with ',' between the fields asks first).
    const QString csv = dir.File(QStringLiteral("addresses.csv"));
    ASSERT_TRUE(WriteFileBytes(csv, Cp1251(QStringLiteral("7,Рампа,77\r\n"))));
    watch.Clear();
    watch.shapes.clear();
    watch.QueueFileName(csv);
    watch.QueueAnswer(AnswerYes);
    QTest::mouseClick(Button("id1002"), Qt::LeftButton);
    EXPECT_EQ(watch.filters, QStringList{QStringLiteral("Текстовые Файлы csv (*.csv);;Все файлы (*)")});
    ASSERT_FALSE(watch.shapes.isEmpty());
    EXPECT_EQ(watch.shapes.first(), int(Qt::WaitCursor));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // Wider window, wider last column: it reaches the right edge of the table.
    QTableView* view = editor->View();
    const int last = editor->Model().columnCount() - 1;
    editor->resize(editor->width() + 300, editor->height());
    QCoreApplication::processEvents();
    const int right = view->columnViewportPosition(last) + view->columnWidth(last);
    EXPECT_EQ(right, view->viewport()->width());
}

namespace {

// Types `text` as a keyboard would give it (QTest types ASCII only).
void TypeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

// A message box over the editor takes the window's activation, and on a
// desktop it comes back only after the box has gone and the next editor has
// been opened: the editor that was open never sees its focus go. This prompt
// does the same with a window of its own.
class CActivationTakingPrompt : public CRecordingPrompt {
public:
    int Message(const QString& text, const QString& caption, PromptIcon icon, PromptButtons buttons) override {
        QWidget box;
        box.show();
        QApplication::setActiveWindow(&box);
        box.hide();
        QApplication::setActiveWindow(nullptr);
        return CRecordingPrompt::Message(text, caption, icon, buttons);
    }
};

// The in-place edits shown over the grid.
QList<CKxLoaderListChildEdit*> VisibleEdits(const CEditDirGridDlg& editor) {
    QList<CKxLoaderListChildEdit*> shown;
    for (auto* edit : editor.View()->viewport()->findChildren<CKxLoaderListChildEdit*>())
        if (edit->isVisible()) shown << edit;
    return shown;
}

}  // namespace

TEST_F(DirectoryEditor, OneEditorOnTheCurrentCellEvenWhenAMessageTookTheWindowsActivation) {
    OpenOn(Executors, QStringLiteral("1;Белов,А.;111\r\n2;Петров;222\r\n"));
    QTableView* view = editor->View();
    view->setFocus(Qt::TabFocusReason);
    view->setCurrentIndex(editor->Model().index(0, 2));
    QTest::keyClick(view, Qt::Key_F2);
    ASSERT_NE(Edit(), nullptr);
    {
        CActivationTakingPrompt taking;
        CScopedPrompt scope(taking);
        TypeText(Edit(), QStringLiteral("Жуков;О."));
        QTest::keyClick(Edit(), Qt::Key_Tab);
        ASSERT_EQ(taking.Messages().size(), 1);  // the ';' was replaced, the user told
    }
    QApplication::setActiveWindow(editor.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
    EXPECT_EQ(Cell(0, 2), QStringLiteral("Жуков,О."));

    // Back to the name and typed anew.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_NE(Edit(), nullptr);
    EXPECT_EQ(Edit()->text(), QStringLiteral("Жуков,О."));
    TypeText(Edit(), QStringLiteral("Жуков Олег"));
    QTest::keyClick(Edit(), Qt::Key_Tab);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("Жуков Олег"));

    // One editor, on the current cell, showing what the cell holds.
    const QList<CKxLoaderListChildEdit*> shown = VisibleEdits(*editor);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0], Edit());
    EXPECT_EQ(shown[0]->text(), QStringLiteral("111"));
    EXPECT_EQ(view->currentIndex().row(), 0);
    QTest::mouseClick(Button("id1"), Qt::LeftButton);
    EXPECT_EQ(ReadFileBytes(File(Executors)), Cp1251(QStringLiteral("1;Жуков Олег;111\r\n2;Петров;222\r\n")));
}

TEST_F(DirectoryEditor, TheEditorClosesWhenTheArrowKeysLeaveItsRowAndWhenTheTableIsImported) {
    OpenOn(Executors, QStringLiteral("1;Иванов;111\r\n2;Петров;222\r\n"));
    CKxLoaderListChildEdit* edit = EditCell(0, 2);
    ASSERT_NE(edit, nullptr);
    TypeText(edit, QStringLiteral("Сидоров"));
    QTest::keyClick(edit, Qt::Key_Down);
    // The change went to its own row, the editor is gone, the grid has the
    // keys: what is typed now goes into no cell.
    EXPECT_EQ(Cell(0, 2), QStringLiteral("Сидоров"));
    EXPECT_EQ(editor->View()->currentIndex().row(), 1);
    EXPECT_TRUE(VisibleEdits(*editor).isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), editor->View());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("xyz"));
    EXPECT_EQ(Cell(1, 2), QStringLiteral("Петров"));

    // An import replaces the table: no editor floats over the new one.
    ASSERT_NE(EditCell(1, 2), nullptr);
    const QString csv = dir.File(QStringLiteral("new.csv"));
    ASSERT_TRUE(WriteFileBytes(csv, Cp1251(QStringLiteral("7;Орлов;777\r\n"))));
    prompt.QueueFileName(csv);
    Button("id1002")->click();  // the focus stays in the editor
    EXPECT_EQ(Cell(0, 2), QStringLiteral("Орлов"));
    EXPECT_TRUE(VisibleEdits(*editor).isEmpty());
    EXPECT_EQ(editor->CellEditor(), nullptr);
}

TEST_F(DirectoryEditor, TheWholeGridIsDoneFromTheKeyboard) {
    OpenOn(Executors, QStringLiteral("1;Иванов;111\r\n2;Петров;222\r\n"));
    QTableView* view = editor->View();
    view->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view, Qt::Key_Down);  // chooses the second row
    const auto focusName = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };

    // Tab walks from the grid over every button and back.
    QStringList chain;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        chain << focusName();
    }
    EXPECT_EQ(chain, QStringList({"id1004", "id1008", "id1010", "id1002", "id1", "id2", "id1003"}));

    // Insert and Ctrl++ (also on the keypad) add numbered rows.
    QTest::keyClick(view, Qt::Key_Insert);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Plus, Qt::ControlModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
    ASSERT_EQ(editor->RowCount(), 5);
    EXPECT_EQ(Cell(4, 1), QStringLiteral("5"));

    // Edit the new row's name; Ctrl+Tab leaves the grid for "+" with the
    // text stored, F6 comes back.
    QTest::keyClick(view, Qt::Key_F2);
    ASSERT_NE(Edit(), nullptr);
    QTest::keyClick(Edit(), Qt::Key_Tab);  // from the ID to the name
    TypeText(Edit(), QStringLiteral("Кузнецов"));
    QTest::keyClick(Edit(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(Cell(4, 2), QStringLiteral("Кузнецов"));
    EXPECT_EQ(focusName(), QStringLiteral("id1004"));
    EXPECT_TRUE(VisibleEdits(*editor).isEmpty());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    EXPECT_EQ(QApplication::focusWidget(), view);

    // Ctrl+Delete asks as "-" does and deletes the chosen row; Delete on the
    // grid does the same.
    QTest::keyClick(view, Qt::Key_Up);  // the row "4"
    prompt.QueueAnswer(AnswerYes);
    QTest::keyClick(view, Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor->RowCount() == 4; }, 3000));
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Будет удалена выбранная строка в таблице!\nПродолжить?")});
    prompt.QueueAnswer(AnswerNo);
    QTest::keyClick(view, Qt::Key_Delete);
    ASSERT_TRUE(QTest::qWaitFor([&] { return prompt.Texts().size() == 2; }, 3000));
    EXPECT_EQ(editor->RowCount(), 4);

    // Ctrl+S in an open editor stores its text and saves.
    prompt.Clear();
    view->setCurrentIndex(editor->Model().index(0, 3));
    QTest::keyClick(view, Qt::Key_F2);
    ASSERT_NE(Edit(), nullptr);
    TypeText(Edit(), QStringLiteral("999"));
    QTest::keyClick(Edit(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Данные сохранены успешно!")});
    EXPECT_EQ(ReadFileBytes(File(Executors)),
              Cp1251(QStringLiteral("1;Иванов;999\r\n2;Петров;222\r\n3;;\r\n5;Кузнецов;\r\n")));
}

TEST_F(DirectoryEditor, EscapeOnTheCloseQuestionGoesBackToTheEdits) {
    const QString wares = QStringLiteral("Т1;Сыр;4600000000001\r\n");
    OpenOn(Wares, wares);
    CQtPrompt boxes;
    CScopedPrompt scope(boxes);
    ASSERT_NE(EditCell(0, 2), nullptr);
    TypeText(Edit(), QStringLiteral("Масло"));
    QString asked;
    QStringList buttons;
    // Escape on the window asks; Escape on the question is "Отмена".
    ASSERT_TRUE(DriveModal([&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); },
                           [&](QWidget* box) {
                               asked = static_cast<QMessageBox*>(box)->text();
                               for (QAbstractButton* b : static_cast<QMessageBox*>(box)->buttons()) buttons << b->text();
                               QTest::keyClick(box, Qt::Key_Escape);
                           }, editor.get()));
    EXPECT_EQ(asked, QStringLiteral("Сохранить последние изменения?"));
    EXPECT_EQ(buttons.size(), 3) << buttons.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(editor->isVisible());
    EXPECT_TRUE(editor->Model().IsModified());
    EXPECT_EQ(Cell(0, 2), QStringLiteral("Масло"));
    EXPECT_EQ(ReadFileBytes(File(Wares)), Cp1251(wares));

    // A second Escape asks again; still nothing is lost. "Нет" then closes.
    QApplication::setActiveWindow(editor.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
    ASSERT_TRUE(DriveModal([&] { QTest::keyClick(editor.get(), Qt::Key_Escape); },
                           [&](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); }, editor.get()));
    EXPECT_TRUE(editor->isVisible());
    ASSERT_TRUE(DriveModal([&] { QTest::keyClick(editor.get(), Qt::Key_Escape); },
                           [&](QWidget* box) {
                               static_cast<QMessageBox*>(box)->button(QMessageBox::No)->click();
                           }, editor.get()));
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(ReadFileBytes(File(Wares)), Cp1251(wares));
}

TEST_F(DirectoryEditor, TwoWindowsOnOneDirectoryNeverSaveOverEachOtherUnasked) {
    QString lines;
    for (int id = 1; id <= 15; ++id) lines += QStringLiteral("%1;Запись %1;%1\r\n").arg(id);
    OpenOn(Executors, lines);
    CEditDirGridDlg other(&types, QFont(QStringLiteral("Tahoma"), 10));
    other.SetKind(Executors);
    other.show();
    // A: row 10; B (the other window): row 13.
    ASSERT_NE(EditCell(9, 2), nullptr);
    TypeText(Edit(), QStringLiteral("Иванов"));
    QTest::keyClick(Edit(), Qt::Key_Return);
    QTest::mouseClick(Button("id1"), Qt::LeftButton);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Данные сохранены успешно!")});
    const QByteArray savedByA = ReadFileBytes(File(Executors));
    ASSERT_TRUE(savedByA.contains(Cp1251(QStringLiteral("10;Иванов;10"))));

    prompt.Clear();
    ASSERT_TRUE(other.Model().setData(other.Model().index(12, 2), QStringLiteral("Петров")));
    prompt.QueueAnswer(AnswerNo);
    QTest::mouseClick(other.findChild<QPushButton*>("id1"), Qt::LeftButton);
    ASSERT_EQ(prompt.Messages().size(), 1);  // the question only: no "saved" message
    EXPECT_TRUE(prompt.Messages()[0].text.startsWith(QStringLiteral("Файл справочника изменен другой программой")));
    EXPECT_EQ(prompt.Messages()[0].buttons, PromptButtons::YesNoDefaultNo);
    EXPECT_EQ(ReadFileBytes(File(Executors)), savedByA);
    EXPECT_TRUE(other.Model().IsModified());

    // Closing it asks to save; the same question again, and No keeps the
    // window open with its edit rather than lose either save.
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    prompt.QueueAnswer(AnswerNo);
    other.reject();
    EXPECT_TRUE(other.isVisible());
    EXPECT_EQ(ReadFileBytes(File(Executors)), savedByA);

    // Yes replaces it, knowingly; from then on that window saves freely.
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    QTest::mouseClick(other.findChild<QPushButton*>("id1"), Qt::LeftButton);
    EXPECT_EQ(prompt.Texts().size(), 2);
    EXPECT_EQ(prompt.Texts().last(), QStringLiteral("Данные сохранены успешно!"));
    EXPECT_TRUE(ReadFileBytes(File(Executors)).contains(Cp1251(QStringLiteral("13;Петров;13"))));
    prompt.Clear();
    ASSERT_TRUE(other.Model().setData(other.Model().index(0, 2), QStringLiteral("Сидоров")));
    QTest::mouseClick(other.findChild<QPushButton*>("id1"), Qt::LeftButton);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Данные сохранены успешно!")});
}

TEST_F(DirectoryEditor, ImportReadsQuotedCsvFieldsAndLeavesUnquotedOnesAsTheyWere) {
    OpenOn(Executors, QStringLiteral("1;Иванов;111\r\n"));
    const QString csv = dir.File(QStringLiteral("people.csv"));
    ASSERT_TRUE(WriteFileBytes(csv, Cp1251(QStringLiteral("5;\"Гусева Мария\";\"12\"\r\n"
                                                          "6;\"Кафе \"\"Ромашка\"\"\";7\r\n"
                                                          "7;Ив\"анов \"мл\";\"\"\r\n"))));
    prompt.QueueFileName(csv);
    QTest::mouseClick(Button("id1002"), Qt::LeftButton);  // "Импорт csv..."
    ASSERT_EQ(editor->RowCount(), 3);
    EXPECT_EQ(Cell(0, 2), QStringLiteral("Гусева Мария"));
    EXPECT_EQ(Cell(0, 3), QStringLiteral("12"));
    EXPECT_EQ(Cell(1, 2), QStringLiteral("Кафе \"Ромашка\""));
    EXPECT_EQ(Cell(2, 2), QStringLiteral("Ив\"анов \"мл\""));  // not quoted: as it stands
    EXPECT_EQ(Cell(2, 3), QString());
    QTest::mouseClick(Button("id1"), Qt::LeftButton);
    EXPECT_EQ(ReadFileBytes(File(Executors)),
              Cp1251(QStringLiteral("5;Гусева Мария;12\r\n6;Кафе \"Ромашка\";7\r\n7;Ив\"анов \"мл\";\r\n")));
}
