// One session as a user works: a new operation type by its name, one value of
// every kind edited in place, the type moved up, the terminal menu changed and
// point 2 renamed, saved and closed; then the project file is opened again with
// a fresh model and everything must be there.

#include "tests/support/SQLiteQuery.h"
#include "tests/ui/config/ConfiguratorFixture.h"
#include "ui/config/ConfigMenuAlliasesDlg.h"
#include "ui/config/ConfigMenuDlg.h"
#include "ui/config/StdInputDlg.h"
#include "ui/editors/DoubleBufferListCtrl.h"
#include "ui/editors/DoubleBufferTreeCtrl.h"
#include "ui/editors/ListChildCombo.h"
#include "ui/editors/ListChildEdit.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QToolButton>

namespace {

QStringList TypeItems(const QAbstractItemModel* tree) {
    QStringList items;
    for (int r = 0; r < tree->rowCount(); ++r) {
        const QString text = tree->index(r, 0).data().toString();
        if (text.endsWith(')')) items << text;
    }
    return items;
}

}  // namespace

TEST_F(Configurator, AWholeSessionArrivesInTheProjectFile) {
    OpenWindow();
    QAbstractItemModelTester treeTester(TreeView()->model());
    QAbstractItemModelTester listTester(ListView()->model());

    // A new operation type, named in the input window (Enter presses "Да").
    WhenModal<CStdInputDlg>([](CStdInputDlg* input) {
        Type(input->findChild<QLineEdit*>("edit"), "Возврат");
        QTest::keyClick(input->findChild<QLineEdit*>("edit"), Qt::Key_Return);
    });
    Click("id1004");
    ASSERT_EQ(TreeView()->currentIndex().data().toString(), "Возврат (4)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return CellText(0) == "Возврат"; }));

    // Integer, drop-down (by keyboard), multi-line and text on the type's own page.
    auto* code = OpenEditor<CListChildEdit>(1);
    ASSERT_NE(code, nullptr);
    Type(code, "40");
    QTest::keyClick(code, Qt::Key_Return);
    auto* operation = OpenEditor<CListChildCombo>(2);
    ASSERT_NE(operation, nullptr);
    QTest::keyClick(operation, Qt::Key_Down);
    QTest::keyClick(operation, Qt::Key_Down);
    auto* description = OpenEditor<CListChildEdit>(3);  // the click also ends the drop-down
    ASSERT_NE(description, nullptr);
    Type(description, "Возврат");
    QTest::keyClick(description, Qt::Key_Return);
    Type(description, "от покупателя");
    auto* name = OpenEditor<CListChildEdit>(0);
    ASSERT_NE(name, nullptr);
    Type(name, "Возврат товара");
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_TRUE(EditorClosed());
    EXPECT_EQ(TreeView()->currentIndex().data().toString(), "Возврат товара (4)");

    // A path on one of its pages, typed as the terminal spells it.
    ASSERT_TRUE(ClickPage("Возврат товара (4)/Выгрузка"));
    auto* path = OpenEditor<CListChildEdit>(0);
    ASSERT_NE(path, nullptr);
    Type(path, "\\SD\\returns.txt");
    QTest::keyClick(path, Qt::Key_Return);
    ASSERT_TRUE(EditorClosed());

    // Up one place, past "Инвентаризация".
    ASSERT_TRUE(ClickPage("Возврат товара (4)"));
    Click("id1006");
    EXPECT_EQ(TypeItems(TreeView()->model()),
              QStringList({"Приемка (1)", "Отгрузка (2)", "Возврат товара (4)", "Инвентаризация (3)"}));
    EXPECT_EQ(TreeView()->currentIndex().data().toString(), "Возврат товара (4)");

    // The terminal menu: "Удаление шк" onto the menu, point 2 renamed, saved.
    QString selectedOnClick;
    WhenModal<CConfigMenuDlg>([&](CConfigMenuDlg* menu) {
        auto* available = menu->findChild<QListView*>("availableList");
        const QModelIndex removal = available->model()->match(available->model()->index(0, 0), Qt::DisplayRole,
                                                              "Удаление шк").value(0);
        QTest::mouseClick(available->viewport(), Qt::LeftButton, {}, available->visualRect(removal).center());
        QTest::mouseClick(menu->findChild<QToolButton*>("addSelected"), Qt::LeftButton);
        prompt.QueueAnswer(AnswerOk);  // confirm the menu before renaming
        WhenModal<CConfigMenuAlliasesDlg>([&](CConfigMenuAlliasesDlg* names) {
            auto* point2 = names->findChild<QLineEdit*>("point2");
            QTest::mouseClick(point2, Qt::LeftButton);
            QCoreApplication::processEvents();
            selectedOnClick = point2->selectedText();
            Type(point2, "Сотрудники");  // replaces the selected name
            QTest::mouseClick(names->findChild<QPushButton*>("id1"), Qt::LeftButton);
        });
        QTest::mouseClick(menu->findChild<QPushButton*>("rename"), Qt::LeftButton);
        QTest::mouseClick(menu->findChild<QPushButton*>("id1"), Qt::LeftButton);
    });
    Trigger("id32771");
    EXPECT_EQ(selectedOnClick, "Исполнители");

    Trigger("id32786");
    EXPECT_FALSE(model.IsModified());
    prompt.QueueAnswer(AnswerYes);
    Trigger("id32789");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(prompt.Texts(),
              QStringList({"Для редактирования имен нужно подтвердить составленное меню.\nСохранить новое меню?",
                           "Вы уверены, что хотите выйти из настройки конфигурации?"}));

    // Everything is in the project file.
    window.reset();
    model.Close();
    CConfigModel fresh;
    ASSERT_TRUE(fresh.OpenTemplate(templatePath));
    ASSERT_TRUE(fresh.Open(projectPath));
    SQLite3::CSQLiteConnection& db = fresh.Working();
    EXPECT_EQ(Rows(db, "SELECT param_id, value FROM ParamsValue WHERE OperTypeID = '4' AND place_id IN "
                       "('listparams_operation', 'listparams_oper_export') AND param_id <> 'p_export_separator' "
                       "AND param_id <> 'p_export_header' ORDER BY place_id DESC, param_id"),
              QStringList({"oper_type|Возврат товара", "p_oper_code|40", "p_oper_description|Возврат\r\nот покупателя",
                           "p_oper_directory_id|2",
                           "p_export_file|\\SD\\returns.txt"}));
    EXPECT_EQ(Rows(db, "SELECT OperType FROM SortOrderOperTypes ORDER BY n"), QStringList({"1", "2", "4", "3"}));
    EXPECT_EQ(Rows(db, "SELECT point_name FROM ChoiceNames WHERE point_id = 2"), QStringList({"Сотрудники"}));
    const QStringList menu = Rows(db, "SELECT id, name, target FROM m_mainmenu");
    EXPECT_TRUE(menu.contains("2|Сотрудники|")) << menu.join(", ").toStdString();
    EXPECT_EQ(menu.value(menu.size() - 1), "9|Удаление шк|");
    fresh.Close();
}
