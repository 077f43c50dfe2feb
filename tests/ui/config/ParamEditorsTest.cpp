// The in-place editors of the parameter list, driven by real keys, clicks and
// focus changes on the configurator's own list, checked in the working copy.
// Page "Общие настройки": 0 text, 1 and 3 drop-downs, 4 integer, 5 path, 6 multi-line.

#include "tests/ui/config/ConfiguratorFixture.h"
#include "ui/editors/ListChildCombo.h"
#include "ui/editors/ListChildEdit.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QDir>
#include <QPlainTextEdit>
#include <QSignalSpy>

namespace {
const QString kOptions = QStringLiteral("listparams_options");
}

TEST_F(Configurator, IntegerEditTakesDigitsAndMinusOnlyAndEnterStores) {
    auto* edit = OpenWindowEditor<CListChildEdit>("Общие настройки", 4);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->toPlainText(), "0");
    EXPECT_EQ(window->findChild<QPlainTextEdit*>("id1001")->toPlainText(),
              "Через сколько минут бездействия терминал возвращается в главное меню; 0 - никогда.");
    QSignalSpy beeps(edit, &CListChildEdit::refused);
    Type(edit, "12a");  // replaces the selected value
    EXPECT_EQ(edit->toPlainText(), "12");
    EXPECT_EQ(beeps.count(), 1);
    QTest::keyClick(edit, Qt::Key_Backspace);  // refused like any other character
    Type(edit, "-5");
    EXPECT_EQ(edit->toPlainText(), "12-5");
    EXPECT_EQ(beeps.count(), 2);
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(EditorClosed());
    EXPECT_EQ(Stored("NULL", kOptions, "p_autoexit_minutes"), "12-5");
    EXPECT_EQ(CellText(4), "12-5");
    EXPECT_TRUE(model.IsModified());
    EXPECT_TRUE(ListView()->hasFocus());  // the focus goes back to the list
}

TEST_F(Configurator, TextEditStoresOnLeavingOnlyWhenChangedAndEscapeStoresNothing) {
    ASSERT_NO_FATAL_FAILURE(OpenWindowAt("Общие настройки"));

    // Leaving an unchanged editor stores nothing.
    ASSERT_NE(OpenEditor<CListChildEdit>(0), nullptr);
    ClickElsewhere();
    ASSERT_TRUE(EditorClosed());
    EXPECT_FALSE(model.IsModified());

    // Escape closes a changed editor without storing.
    auto* edit = OpenEditor<CListChildEdit>(0);
    ASSERT_NE(edit, nullptr);
    Type(edit, "Склад");
    QTest::keyClick(edit, Qt::Key_Escape);
    ASSERT_TRUE(EditorClosed());
    EXPECT_TRUE(prompt.Messages().isEmpty());  // the key did not reach the window
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(Stored("NULL", kOptions, "p_terminal_name"), "Демо-терминал");

    // A changed text is stored when the editor loses the focus.
    edit = OpenEditor<CListChildEdit>(0);
    ASSERT_NE(edit, nullptr);
    Type(edit, "Склад 'Север'");
    ClickElsewhere();
    ASSERT_TRUE(EditorClosed());
    EXPECT_EQ(Stored("NULL", kOptions, "p_terminal_name"), "Склад 'Север'");
    EXPECT_EQ(CellText(0), "Склад 'Север'");
}

TEST_F(Configurator, MultilineEnterStartsANewLineAndLeavingStoresEveryLine) {
    auto* edit = OpenWindowEditor<CListChildEdit>("Общие настройки", 6);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->toPlainText(), "Добро пожаловать!\nНажмите ENT для входа");
    // Three rows high, over the rows below its own.
    EXPECT_GE(edit->height(), 3 * ListView()->visualRect(ListView()->model()->index(6, 1)).height() - 2);
    Type(edit, "Смена 1");
    QTest::keyClick(edit, Qt::Key_Return);
    Type(edit, "Удачи!");
    QCoreApplication::processEvents();
    EXPECT_EQ(window->ParamEditor(), edit);
    EXPECT_FALSE(model.IsModified());
    ClickElsewhere();
    ASSERT_TRUE(EditorClosed());
    EXPECT_EQ(Stored("NULL", kOptions, "p_welcome_text"), "Смена 1\r\nУдачи!");

    // Ctrl+Enter keeps a multi-line text from the keyboard.
    edit = OpenEditor<CListChildEdit>(6);
    ASSERT_NE(edit, nullptr);
    QTest::keyClick(edit, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Return);
    Type(edit, "Ok");
    QTest::keyClick(edit, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(EditorClosed());
    EXPECT_EQ(Stored("NULL", kOptions, "p_welcome_text"), "Смена 1\r\nУдачи!\r\nOk");
}

TEST_F(Configurator, DropDownStoresThePositionOnlyAfterAChoice) {
    auto* combo = OpenWindowEditor<CListChildCombo>("Общие настройки", 3);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentText(), "ДД.ММ.ГГГГ");
    ClickElsewhere();
    ASSERT_TRUE(EditorClosed());
    EXPECT_FALSE(model.IsModified());

    combo = OpenEditor<CListChildCombo>(3);
    ASSERT_NE(combo, nullptr);
    combo->showPopup();
    QAbstractItemView* choices = combo->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(choices->window()));
    QTest::mouseClick(choices->viewport(), Qt::LeftButton, {}, choices->visualRect(choices->model()->index(2, 0)).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !choices->isVisible(); }));
    EXPECT_EQ(window->ParamEditor(), combo);  // chosen, still open
    EXPECT_FALSE(model.IsModified());
    ClickElsewhere();
    ASSERT_TRUE(EditorClosed());
    EXPECT_EQ(Stored("NULL", kOptions, "p_date_format"), "3");  // the id of position 2
    EXPECT_EQ(CellText(3), "ДД/ММ/ГГ");
}

TEST_F(Configurator, APathIsTypedAndOnlyAPathOfThisComputerOffersAFileDialog) {
    ASSERT_NO_FATAL_FAILURE(OpenWindowAt("Общие настройки"));
    // "Папка данных" is a folder on the terminal: an edit to type it into,
    // with no file dialog of this computer.
    auto* edit = OpenEditor<CListChildEdit>(5);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->toPlainText(), "\\Storage Card\\KX\\");
    EXPECT_EQ(edit->ChooserButton(), nullptr);
    const QRect cell = ListView()->visualRect(ListView()->model()->index(5, 1));
    EXPECT_EQ(edit->geometry().right(), cell.right());
    Type(edit, "\\SD\\KX\\");  // replaces the selected value
    QTest::keyClick(edit, Qt::Key_Escape);
    ASSERT_TRUE(EditorClosed());
    EXPECT_EQ(Stored("NULL", kOptions, "p_data_folder"), "\\Storage Card\\KX\\");
    edit = OpenEditor<CListChildEdit>(5);
    ASSERT_NE(edit, nullptr);
    Type(edit, "\\SD\\KX\\");
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(EditorClosed());
    EXPECT_EQ(Stored("NULL", kOptions, "p_data_folder"), "\\SD\\KX\\");
    EXPECT_EQ(CellText(5), "\\SD\\KX\\");
    EXPECT_TRUE(prompt.FileRequests().isEmpty());

    // A path of this computer typed there: now "..." helps choose another
    // one, which shows in the edit and is stored only as typed text is.
    edit = OpenEditor<CListChildEdit>(5);
    ASSERT_NE(edit, nullptr);
    Type(edit, "/home/anna/kx");
    ClickElsewhere();
    ASSERT_TRUE(EditorClosed());
    edit = OpenEditor<CListChildEdit>(5);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(edit->ChooserButton(), nullptr);
    QTest::mouseClick(edit->ChooserButton(), Qt::LeftButton);  // cancelled
    EXPECT_EQ(window->ParamEditor(), edit);
    ASSERT_EQ(prompt.FileRequests().size(), 1);
    EXPECT_EQ(prompt.FileRequests()[0].title, "Папка данных");
    prompt.QueueFileName("/media/card/KX/data");
    QTest::mouseClick(edit->ChooserButton(), Qt::LeftButton);
    EXPECT_EQ(window->ParamEditor(), edit);
    EXPECT_EQ(edit->toPlainText(), QDir::toNativeSeparators("/media/card/KX/data"));
    EXPECT_EQ(Stored("NULL", kOptions, "p_data_folder"), "/home/anna/kx");
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(EditorClosed());
    EXPECT_EQ(Stored("NULL", kOptions, "p_data_folder"), QDir::toNativeSeparators("/media/card/KX/data"));
}

TEST_F(Configurator, OneEditorAtATimeAndAClickBelowTheRowsOpensNone) {
    auto* first = OpenWindowEditor<CListChildEdit>("Общие настройки", 0);
    ASSERT_NE(first, nullptr);
    Type(first, "Терминал 7");
    // Another row: the first editor stores its text and goes, the second opens.
    auto* second = OpenEditor<CListChildEdit>(4);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ListView()->viewport()->findChildren<CListChildEdit*>().size() == 1; }));
    EXPECT_EQ(Stored("NULL", kOptions, "p_terminal_name"), "Терминал 7");
    EXPECT_EQ(second->toPlainText(), "0");

    QWidget* viewport = ListView()->viewport();
    const QRect last = ListView()->visualRect(ListView()->model()->index(6, 0));
    ASSERT_LT(last.bottom() + 10, viewport->height());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 10));
    ASSERT_TRUE(EditorClosed());
    QCoreApplication::processEvents();  // a wrongly posted edit would arrive here
    EXPECT_EQ(window->ParamEditor(), nullptr);
    EXPECT_TRUE(window->findChildren<CListChildEdit*>().isEmpty());
}
