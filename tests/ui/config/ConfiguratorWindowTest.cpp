// The configurator window's flows: opening, leaving with its questions, a
// save that fails, save-as, the operation-type buttons and the page defaults,
// with every question the user was asked.

#include "tests/support/SQLiteQuery.h"
#include "tests/ui/config/ConfiguratorFixture.h"
#include "ui/common/AboutDlg.h"
#include "ui/common/FileVersionInfo.h"
#include "ui/config/StdInputDlg.h"
#include "ui/editors/DoubleBufferTreeCtrl.h"
#include "ui/editors/ListChildEdit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString kLeave = QStringLiteral("Вы уверены, что хотите выйти из настройки конфигурации?");
const QString kSaveChanges = QStringLiteral("В конфигурации были сделаны изменения. Сохранить их?");

QStringList TopLevelTexts(const QAbstractItemModel* tree) {
    QStringList texts;
    for (int r = 0; r < tree->rowCount(); ++r) texts << tree->index(r, 0).data().toString();
    return texts;
}

}  // namespace

TEST_F(Configurator, OpensOnTheProjectAndLeavesWithOneQuestionWhenNothingChanged) {
    OpenWindow();
    EXPECT_EQ(window->windowTitle(), projectPath + " - KXConfig конфигуратор");
    EXPECT_EQ(window->findChild<QLabel*>("statusText")->text(), " Готово");
    EXPECT_EQ(TopLevelTexts(TreeView()->model()),
              QStringList({"Общие настройки", "Обмен данными", "Приемка (1)", "Отгрузка (2)", "Инвентаризация (3)",
                           "Журнал", "Безопасность"}));
    // The operation choices come from the project's own operations file.
    EXPECT_EQ(Scalar(templatePath, "SELECT name FROM combosource_operations WHERE id = 4"), "Списание брака");
    EXPECT_TRUE(prompt.Messages().isEmpty());

    // "Помощь" → "О конфигураторе": the about box with the program version.
    QString version;
    WhenModal<CAboutDlg>([&version](CAboutDlg* about) {
        version = about->findChild<QLabel*>("versionText")->text();
        about->accept();
    });
    Trigger("id32791");
    EXPECT_EQ(version, CFileVersionInfo().VersionText());
    ASSERT_TRUE(Reactivate());

    QTest::keyClick(window.get(), Qt::Key_Escape);  // answered No
    EXPECT_TRUE(window->isVisible());
    prompt.defaultAnswer = AnswerYes;
    Trigger("id32789");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), CKXConfigDlg::kResultClosed);
    ASSERT_EQ(prompt.Messages().size(), 2);
    for (const CRecordingPrompt::Entry& asked : prompt.Messages()) {
        EXPECT_EQ(asked.text, kLeave);
        EXPECT_EQ(asked.caption, "Внимание!");
        EXPECT_EQ(asked.icon, PromptIcon::Question);
    }
}

TEST_F(Configurator, AFailedSaveOnLeavingKeepsTheWindowAndAGoodOneClosesIt) {
    auto* edit = OpenWindowEditor<CListChildEdit>("Общие настройки/Экран", 3);
    ASSERT_NE(edit, nullptr);
    Type(edit, "Ночная смена");
    // The close box while the editor is open: the typed text is not lost.
    {
        SQLite3::CSQLiteConnection other;  // another program holds the project file
        other.OpenConnection(projectPath);
        other.Exec("BEGIN EXCLUSIVE");
        prompt.defaultAnswer = AnswerYes;
        window->close();
        ASSERT_EQ(prompt.Messages().size(), 3);
        EXPECT_EQ(prompt.Messages()[1].text, kSaveChanges);
        EXPECT_EQ(prompt.Messages()[1].icon, PromptIcon::Warning);
        EXPECT_EQ(prompt.Messages()[2].icon, PromptIcon::Error);
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(model.IsModified());
        other.Exec("ROLLBACK");
    }
    prompt.Clear();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(prompt.Texts(), QStringList({kLeave, kSaveChanges}));
    EXPECT_EQ(Scalar(projectPath, "SELECT value FROM ParamsValue WHERE param_id = 'p_header_text'"),
              "Ночная смена");
}

TEST_F(Configurator, SaveAsShowsTheNewPathAndSaveClearsTheChanges) {
    OpenWindow();
    const QString target = dir.File("copy/shop.kxc");
    QDir().mkpath(dir.File("copy"));
    prompt.QueueFileName(target);
    Trigger("id32787");
    EXPECT_EQ(window->windowTitle(), target + " - KXConfig конфигуратор");
    EXPECT_EQ(model.ProjectPath(), target);
    EXPECT_TRUE(QFile::exists(dir.File("copy/files/shop_opers.ux3")));

    ASSERT_TRUE(ClickPage("Общие настройки"));
    auto* edit = OpenEditor<CListChildEdit>(0);
    ASSERT_NE(edit, nullptr);
    Type(edit, "Копия");
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(model.IsModified());
    Trigger("id32786");
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(Scalar(target, "SELECT value FROM ParamsValue WHERE param_id = 'p_terminal_name'"), "Копия");
    EXPECT_TRUE(prompt.Messages().isEmpty()) << prompt.Texts().join('\n').toStdString();

    // Without an open configuration the terminal menu cannot be edited.
    model.Close();
    Trigger("id32771");
    EXPECT_EQ(prompt.Texts(), QStringList({"Не открыта конфигурация!"}));
}

TEST_F(Configurator, OperationTypeButtonsAskForANameAndDefaultsRefreshTheList) {
    OpenWindow();
    QStringList titles;
    auto answer = [&](const QString& name, bool yes) {
        WhenModal<CStdInputDlg>([&titles, name, yes](CStdInputDlg* input) {
            titles << input->windowTitle() + "|" + input->findChild<QLabel*>("prompt")->text();
            Type(input->findChild<QLineEdit*>("edit"), name);
            QTest::mouseClick(input->findChild<QPushButton*>(yes ? "id1" : "id2"), Qt::LeftButton);
        });
    };
    answer("Возврат", false);
    Click("id1004");
    answer("Приемка", true);
    Click("id1004");
    EXPECT_EQ(prompt.Texts(), QStringList({"Тип операции с таким именем уже существует!"}));
    EXPECT_EQ(TreeView()->model()->rowCount(), 7);

    // Copy the selected type under a new name: the copy is selected and shown.
    ASSERT_TRUE(ClickPage("Отгрузка (2)"));
    answer("Отгрузка со склада 2", true);
    Click("id1005");
    EXPECT_EQ(titles, QStringList({"Новый тип операции|Введите название:", "Новый тип операции|Введите название:",
                                   "Новый тип операции (копирование)|Введите название:"}));
    EXPECT_EQ(TreeView()->currentIndex().data().toString(), "Отгрузка со склада 2 (4)");
    ASSERT_TRUE(Reactivate());
    EXPECT_TRUE(TreeView()->hasFocus());
    ASSERT_TRUE(QTest::qWaitFor([&] { return CellText(0) == "Отгрузка со склада 2"; }));
    EXPECT_EQ(Stored("4", "listparams_operation", "p_oper_code"), "20");

    // "-" removes the selected type after its question.
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    Click("id1008");
    EXPECT_EQ(prompt.Texts(), QStringList({"Вы действительно хотите удалить этот тип операции?"}));
    EXPECT_FALSE(PageIndex("Отгрузка со склада 2 (4)").isValid());
    EXPECT_EQ(Stored("4", "listparams_operation", "oper_type"), "<none>");

    // The page defaults: the list shows the reset value at once.
    ASSERT_TRUE(ClickPage("Общие настройки/Экран"));
    auto* edit = OpenEditor<CListChildEdit>(1);
    ASSERT_NE(edit, nullptr);
    const QString before = edit->toPlainText();
    Type(edit, "7");
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_EQ(CellText(1), "7");
    prompt.QueueAnswer(AnswerYes);
    Click("id1007");
    ASSERT_TRUE(QTest::qWaitFor([&] { return CellText(1) == before; }));
}
