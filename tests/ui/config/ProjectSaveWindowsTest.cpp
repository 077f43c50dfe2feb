// Saves from the configurator's windows that cannot go as asked: the terminal
// menu when its table cannot be written, and the configuration when another
// program saved the project file since it was opened.

#include "tests/support/SQLiteQuery.h"
#include "tests/ui/config/ConfiguratorFixture.h"
#include "ui/config/ConfigMenuDlg.h"

#include <QListView>
#include <QPushButton>
#include <QToolButton>

namespace {

QStringList ListTexts(const QListView* view) {
    QStringList texts;
    for (int r = 0; r < view->model()->rowCount(); ++r) texts << view->model()->index(r, 0).data().toString();
    return texts;
}

// Another instance on the same project saves first: choice point 1 becomes
// "Приход" in the file.
bool SaveFromAnotherInstance(const QString& templatePath, const QString& projectPath) {
    CConfigModel other;
    return other.OpenTemplate(templatePath) && other.Open(projectPath) && other.SetChoiceName(1, "Приход") &&
           other.Save();
}

const QString kChoicePointName = "SELECT point_name FROM ChoiceNames WHERE point_id = '%1'";

}  // namespace

TEST_F(Configurator, AMenuThatCannotBeSavedKeepsTheMenuWindowOpenWithItsEntries) {
    OpenWindow();
    const QString stored = "SELECT group_concat(id || ':' || name, ', ') FROM m_mainmenu";
    const QString before = Scalar(model.Working(), stored);
    // Point 9 cannot be written, as on a full disk.
    model.Working().Exec("CREATE TRIGGER fail_point_9 BEFORE INSERT ON m_mainmenu WHEN NEW.id = 9 "
                         "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
    bool openAfterFailure = false, closedAfterSave = false;
    QStringList shownAfterFailure;
    QString storedAfterFailure;
    WhenModal<CConfigMenuDlg>([&](CConfigMenuDlg* menu) {
        // The point not on the menu ("Удаление шк", the last one offered) goes onto it.
        auto* available = menu->findChild<QListView*>("availableList");
        available->setFocus();
        QTest::keyClick(available, Qt::Key_End);
        QTest::mouseClick(menu->findChild<QToolButton*>("addSelected"), Qt::LeftButton);
        auto* save = menu->findChild<QPushButton*>("id1");
        QTest::mouseClick(save, Qt::LeftButton);
        openAfterFailure = menu->isVisible();
        shownAfterFailure = ListTexts(menu->findChild<QListView*>("menuList"));
        storedAfterFailure = Scalar(model.Working(), stored);
        // The cause gone, the same entries are saved and the window closes.
        model.Working().Exec("DROP TRIGGER fail_point_9");
        QTest::mouseClick(save, Qt::LeftButton);
        closedAfterSave = !menu->isVisible();
    });
    Trigger("id32771");
    EXPECT_TRUE(openAfterFailure);
    EXPECT_EQ(shownAfterFailure.value(shownAfterFailure.size() - 1), "Удаление шк");
    EXPECT_EQ(storedAfterFailure, before);
    ASSERT_EQ(prompt.Messages().size(), 2);
    EXPECT_TRUE(prompt.Texts()[0].contains("database or disk is full"));
    EXPECT_EQ(prompt.Texts()[1], "Меню терминала не сохранено!\nПункты остались в окне: нажмите \"Сохранить\" "
                                 "еще раз или \"Отмена\", чтобы закрыть окно без сохранения.");
    EXPECT_EQ(prompt.Messages()[1].caption, "Ошибка!");
    EXPECT_TRUE(closedAfterSave);
    EXPECT_TRUE(Scalar(model.Working(), stored).endsWith(", 9:Удаление шк"));
}

TEST_F(Configurator, SavingOverAnotherInstancesSaveAsksAndCancelKeepsItAndTheWindow) {
    OpenWindow();
    ASSERT_TRUE(SaveFromAnotherInstance(templatePath, projectPath));
    ASSERT_TRUE(model.SetChoiceName(2, "Кладовщики"));

    // "Сохранить": asked, "Отмена" keeps the other save.
    prompt.QueueAnswer(AnswerCancel);
    Trigger("id32786");
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(prompt.Texts()[0].startsWith("Файл конфигурации изменен другой программой")) << prompt.Texts()[0].toStdString();
    EXPECT_EQ(prompt.Messages()[0].buttons, PromptButtons::YesNoCancelDefaultCancel);
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(Scalar(projectPath, kChoicePointName.arg(1)), "Приход");

    // Leaving with "save the changes": the same question; "Отмена" keeps the window.
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    prompt.QueueAnswer(AnswerYes);
    prompt.QueueAnswer(AnswerCancel);
    window->close();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(prompt.Messages().size(), 3);
    EXPECT_EQ(Scalar(projectPath, kChoicePointName.arg(1)), "Приход");

    // "Да" replaces it.
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    ASSERT_TRUE(Reactivate());
    Trigger("id32786");
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(Scalar(projectPath, kChoicePointName.arg(2)), "Кладовщики");
    EXPECT_NE(Scalar(projectPath, kChoicePointName.arg(1)), "Приход");
}

TEST_F(Configurator, NoToTheOtherSaveOffersAnotherNameAndTheSameFileOnlyWithItsOwnQuestion) {
    OpenWindow();
    ASSERT_TRUE(SaveFromAnotherInstance(templatePath, projectPath));
    ASSERT_TRUE(model.SetChoiceName(2, "Кладовщики"));

    // "Нет" opens "Сохранение конфигурации..." on a free name, not the file
    // the other program saved; the person takes that file anyway and presses
    // Enter on the question, which names what is lost: nothing is written.
    prompt.QueueAnswer(AnswerNo);
    prompt.QueueFileName(projectPath);
    Trigger("id32786");
    ASSERT_EQ(prompt.FileRequests().size(), 1);
    const QString proposed = prompt.FileRequests()[0].initialName;
    EXPECT_FALSE(proposed.isEmpty());
    EXPECT_NE(QFileInfo(proposed).absoluteFilePath(), QFileInfo(projectPath).absoluteFilePath());
    EXPECT_FALSE(QFileInfo::exists(proposed)) << proposed.toStdString();
    ASSERT_EQ(prompt.Messages().size(), 2);
    const CRecordingPrompt::Entry replace = prompt.Messages()[1];
    EXPECT_TRUE(replace.text.contains("другая программа изменила")) << replace.text.toStdString();
    EXPECT_TRUE(replace.text.contains("остальные файлы этой папки останутся")) << replace.text.toStdString();
    EXPECT_FALSE(replace.text.contains("удалить данные")) << replace.text.toStdString();
    EXPECT_EQ(replace.buttons, PromptButtons::YesNoDefaultNo);  // Enter is "Нет"
    EXPECT_EQ(Scalar(projectPath, kChoicePointName.arg(1)), "Приход");
    EXPECT_TRUE(model.IsModified());

    // The free name it proposed saves this configuration beside the other.
    prompt.Clear();
    prompt.QueueAnswer(AnswerNo);
    prompt.QueueFileName(proposed);
    ASSERT_TRUE(Reactivate());
    Trigger("id32786");
    EXPECT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(model.ProjectPath(), proposed);
    EXPECT_EQ(Scalar(proposed, kChoicePointName.arg(2)), "Кладовщики");
    EXPECT_EQ(Scalar(projectPath, kChoicePointName.arg(1)), "Приход");
}

TEST_F(Configurator, CancelOnSaveTheChangesStaysInTheWindowWithThem) {
    OpenWindow();
    ASSERT_TRUE(model.SetChoiceName(2, "Кладовщики"));
    prompt.QueueAnswer(AnswerYes);     // leave?
    prompt.QueueAnswer(AnswerCancel);  // save them? (Escape on the box)
    window->close();
    ASSERT_EQ(prompt.Messages().size(), 2);
    EXPECT_EQ(prompt.Messages()[1].text, "В конфигурации были сделаны изменения. Сохранить их?");
    EXPECT_EQ(prompt.Messages()[1].buttons, PromptButtons::YesNoCancel);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(model.IsModified());
}
