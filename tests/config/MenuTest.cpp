// The terminal menu: the two lists, the moves, saving, cancelling and renaming.

#include "tests/config/ConfigTestSupport.h"

#include "config/MenuEditor.h"
#include "tests/storage/FullDisk.h"

using namespace SQLite3;

namespace {

QStringList Entries(const QStandardItemModel& list) {
    QStringList out;
    for (int r = 0; r < list.rowCount(); ++r)
        out << QString::number(CMenuEditor::EntryId(list.item(r))) + ":" + list.item(r)->text();
    return out;
}

const QString kSep = "-----------------";

}  // namespace

class Menu : public ConfigFixture {
protected:
    QStringList Stored() { return Rows(model.Working(), "SELECT id, name, target FROM m_mainmenu"); }
    int RowOf(const QStandardItemModel& list, int id) {
        for (int r = 0; r < list.rowCount(); ++r)
            if (CMenuEditor::EntryId(list.item(r)) == id) return r;
        return -1;
    }
    // Answers `answer` to the save question of "Редакт." and checks the rename
    // is refused; whether its window came all the same.
    bool RefusedRenameOpenedItsWindow(CMenuEditor& editor, int answer) {
        prompt.QueueAnswer(answer);
        bool opened = false;
        EXPECT_FALSE(editor.Rename([&] { return opened = true; }));
        return opened;
    }
};

TEST_F(Menu, ANewConfigurationOpensWithPointNineOnOffer) {
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    EXPECT_EQ(Entries(*editor.Available()), QStringList({"0:" + kSep, "9:Удаление шк"}));
    EXPECT_EQ(Entries(*editor.Menu()),
              QStringList({"1:Операции", "2:Исполнители", "3:Адреса", "4:Документы", "5:Товары", "6:Журнал",
                           "7:Информация", "8:Настройки", "10:Отчет факт/план"}));
    EXPECT_FALSE(editor.Changed());
}

TEST_F(Menu, APointMissingFromTheMenuIsOfferedInTheFixedOrder) {
    model.Working().Exec("DELETE FROM m_mainmenu WHERE id IN (6, 2)");
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    EXPECT_EQ(Entries(*editor.Available()), QStringList({"0:" + kSep, "2:Исполнители", "6:Журнал", "9:Удаление шк"}));
    model.Working().Exec("DELETE FROM m_mainmenu WHERE id IN (7, 8)");
    ASSERT_TRUE(editor.Load());
    // "Журнал" comes after "Настройки" and before "Удаление шк".
    EXPECT_EQ(Entries(*editor.Available()), QStringList({"0:" + kSep, "2:Исполнители", "7:Информация",
                                                         "8:Настройки", "6:Журнал", "9:Удаление шк"}));
}

TEST_F(Menu, NamesShownComeFromChoiceNamesNotFromTheMenuTable) {
    model.Working().Exec("UPDATE m_mainmenu SET name = 'старое' WHERE id = 3");
    model.SetChoiceName(3, "Ячейки");
    model.SetChoiceName(9, "Удалить ШК");
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    EXPECT_EQ(editor.Menu()->item(2)->text(), "Ячейки");
    EXPECT_EQ(editor.Available()->item(1)->text(), "Удалить ШК");
}

TEST_F(Menu, TwoSeparatorsAreSavedAsIdZeroRows) {
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    editor.SelectAvailable(0);
    editor.AddSelected();
    editor.SelectAvailable(0);
    editor.AddSelected();
    EXPECT_EQ(Entries(*editor.Available()), QStringList({"0:" + kSep, "9:Удаление шк"}));
    EXPECT_TRUE(editor.Changed());
    ASSERT_TRUE(editor.SaveAndClose());
    const QStringList stored = Stored();
    ASSERT_EQ(stored.size(), 11);
    EXPECT_EQ(stored[7], "8|Настройки|m_configmenu");
    EXPECT_EQ(stored[9], "0|" + kSep + "|");
    EXPECT_EQ(stored[10], "0|" + kSep + "|");
    EXPECT_TRUE(model.IsModified());
}

TEST_F(Menu, MovesAndTheirEdges) {
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    editor.SelectAvailable(1);
    editor.AddSelected();  // point 9 to the end
    EXPECT_EQ(Entries(*editor.Available()), QStringList({"0:" + kSep}));
    EXPECT_EQ(Entries(*editor.Menu()).last(), "9:Удаление шк");

    editor.SelectMenu(0);
    editor.MoveUp();  // already first: nothing
    EXPECT_EQ(editor.SelectedMenu(), 0);
    editor.MoveDown();
    EXPECT_EQ(editor.SelectedMenu(), 1);
    EXPECT_EQ(Entries(*editor.Menu()).mid(0, 2), QStringList({"2:Исполнители", "1:Операции"}));
    editor.SelectMenu(editor.Menu()->rowCount() - 1);
    editor.MoveDown();  // already last: nothing
    EXPECT_EQ(Entries(*editor.Menu()).last(), "9:Удаление шк");

    editor.SelectMenu(RowOf(*editor.Menu(), 4));
    editor.RemoveSelected();
    EXPECT_EQ(Entries(*editor.Available()).last(), "4:Документы");
    editor.SelectMenu(-1);
    editor.RemoveSelected();  // no selection: nothing
    EXPECT_EQ(editor.Menu()->rowCount(), 9);

    // A separator taken off the menu on its own is not offered twice.
    editor.SelectAvailable(0);
    editor.AddSelected();
    editor.SelectMenu(editor.Menu()->rowCount() - 1);
    editor.RemoveSelected();
    EXPECT_EQ(Entries(*editor.Available()).count("0:" + kSep), 1);
    EXPECT_EQ(editor.Menu()->rowCount(), 9);

    editor.SelectAvailable(0);
    editor.AddSelected();  // a separator on the menu ...
    editor.RemoveAll();    // ... is dropped, the points go back in menu order
    EXPECT_EQ(editor.Menu()->rowCount(), 0);
    EXPECT_EQ(Entries(*editor.Available()),
              QStringList({"0:" + kSep, "4:Документы", "2:Исполнители", "1:Операции", "3:Адреса", "5:Товары",
                           "6:Журнал", "7:Информация", "8:Настройки", "10:Отчет факт/план", "9:Удаление шк"}));

    editor.AddAll();
    EXPECT_EQ(Entries(*editor.Available()), QStringList({"0:" + kSep}));
    EXPECT_EQ(editor.Menu()->rowCount(), 11);
    EXPECT_EQ(Entries(*editor.Menu())[0], "0:" + kSep);
}

TEST_F(Menu, RemovingEverythingAndSavingEmptiesTheMenu) {
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    editor.RemoveAll();
    ASSERT_TRUE(editor.SaveAndClose());
    EXPECT_TRUE(Stored().isEmpty());
}

TEST_F(Menu, CancelWritesNothingAndSaveWithoutMovesWritesNothing) {
    const QStringList before = Stored();
    {
        CMenuEditor editor(model);
        ASSERT_TRUE(editor.Load());
        editor.RemoveAll();
        editor.AddAll();
        // "Отмена": the editor goes away without saving.
    }
    EXPECT_EQ(Stored(), before);
    EXPECT_FALSE(model.IsModified());

    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    ASSERT_TRUE(editor.SaveAndClose());
    EXPECT_EQ(Stored(), before);
    EXPECT_FALSE(model.IsModified());
}

TEST_F(Menu, RenameIsStoredInBothTables) {
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    editor.SelectMenu(RowOf(*editor.Menu(), 2));
    editor.RemoveSelected();  // point 2 now on offer

    prompt.QueueAnswer(AnswerOk);
    bool ran = false;
    ASSERT_TRUE(editor.Rename([&] {
        ran = true;
        CMenuAliases aliases(model);
        aliases.Load();
        EXPECT_EQ(aliases.names[1], "Исполнители");
        EXPECT_EQ(CMenuAliases::Label(1), "Исполнители:");
        aliases.names[1] = "Кладовщики";
        aliases.names[0] = "O'Brien";
        return aliases.Apply();
    }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(prompt.Messages()[0].text,
              "Для редактирования имен нужно подтвердить составленное меню.\nСохранить новое меню?");
    EXPECT_EQ(prompt.Messages()[0].buttons, PromptButtons::OkCancel);
    EXPECT_EQ(Entries(*editor.Available()), QStringList({"0:" + kSep, "2:Кладовщики", "9:Удаление шк"}));
    EXPECT_EQ(editor.Menu()->item(0)->text(), "O'Brien");
    QString name;
    model.GetChoiceName(2, &name);
    EXPECT_EQ(name, "Кладовщики");
    EXPECT_EQ(Stored()[0], "1|O'Brien|");
    EXPECT_EQ(Stored().size(), 8);  // the menu as confirmed, without point 2

    // Putting point 2 back shows and stores the new name.
    editor.SelectAvailable(1);
    editor.AddSelected();
    ASSERT_TRUE(editor.SaveAndClose());
    EXPECT_EQ(Stored().last(), "2|Кладовщики|");
}

TEST_F(Menu, RenameCancelledAtTheQuestionSavesNothing) {
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    editor.RemoveAll();
    EXPECT_FALSE(RefusedRenameOpenedItsWindow(editor, AnswerCancel));
    EXPECT_EQ(Stored().size(), 9);
}

TEST_F(Menu, RenameWindowCancelledStillKeepsTheConfirmedMenu) {
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    editor.RemoveAll();
    prompt.QueueAnswer(AnswerOk);
    EXPECT_TRUE(editor.Rename([] { return false; }));
    EXPECT_TRUE(Stored().isEmpty());
}

TEST_F(Menu, AnInsertThatFailsHalfwayLeavesTheMenuAsItWasAndTheEntriesInTheLists) {
    const QStringList before = Stored();
    ASSERT_TRUE(model.Save());
    // The fifth row cannot be written (as on a full disk): the DELETE and the
    // four rows before it must not stay.
    model.Working().Exec("CREATE TRIGGER fail_fifth BEFORE INSERT ON m_mainmenu WHEN NEW.id = 5 "
                         "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    editor.SelectMenu(8);  // "Отчет факт/план" to the top
    for (int i = 0; i < 8; ++i) editor.MoveUp();
    const QStringList shown = Entries(*editor.Menu());
    EXPECT_FALSE(editor.SaveAndClose());
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(prompt.Texts()[0].contains("database or disk is full")) << prompt.Texts()[0].toStdString();
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(Entries(*editor.Menu()), shown);
    EXPECT_FALSE(model.IsModified());

    // "Редакт." saves first: a save that fails renames nothing and keeps the lists.
    prompt.Clear();
    EXPECT_FALSE(RefusedRenameOpenedItsWindow(editor, AnswerOk));
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(Entries(*editor.Menu()), shown);

    // Once the cause is gone the same entries are saved whole.
    model.Working().Exec("DROP TRIGGER fail_fifth");
    prompt.Clear();
    ASSERT_TRUE(editor.SaveAndClose());
    EXPECT_EQ(Stored().first(), "10|Отчет факт/план|");
    EXPECT_EQ(Stored().size(), 9);
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(Menu, AMenuTheFullDiskCannotTakeAtCommitIsNotSavedAndSaysSo) {
    // The working copy keeps its journal in memory, so every page of a change
    // reaches the disk at COMMIT: that is where a full disk shows.
    CFullDisk disk;
    ASSERT_TRUE(model.Open(projectPath));
    const QStringList before = Stored();
    CMenuEditor editor(model);
    ASSERT_TRUE(editor.Load());
    for (int i = 0; i < 400; ++i) {  // more rows than the file's free room holds
        editor.SelectAvailable(0);
        editor.AddSelected();
    }
    const QStringList shown = Entries(*editor.Menu());
    disk.Fill();
    EXPECT_FALSE(editor.SaveAndClose());
    EXPECT_GT(disk.RefusedWrites(), 0);
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(prompt.Texts()[0].contains("full")) << prompt.Texts()[0].toStdString();
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(Entries(*editor.Menu()), shown);

    // Room again: the same menu is saved whole, and nothing of the failed
    // attempt was left behind to be committed with it.
    disk.Free();
    EXPECT_EQ(Stored(), before);
    prompt.Clear();
    ASSERT_TRUE(editor.SaveAndClose());
    EXPECT_EQ(Stored().size(), before.size() + 400);
    EXPECT_TRUE(model.IsModified());
}
