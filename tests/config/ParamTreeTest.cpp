// The parameter tree, the parameter list, the in-place editors and committing
// values, and the combo source of operations.

#include "tests/config/ConfigTestSupport.h"

#include "platform/CodePage.h"

#include <memory>

using namespace SQLite3;

class ParamTree : public ConfigFixture {
protected:
    QStandardItem* Page(const QString& text) {
        QStandardItem* item = FindItem(tree, text);
        EXPECT_NE(item, nullptr) << text.toStdString();
        return item;
    }
    // Opens the editor of a row and commits `text` through it.
    bool Edit(const QString& page, int row, const QString& text) {
        QStandardItem* item = Page(page);
        model.ShowParamList(list, item);
        ParamEditRequest request;
        if (!model.BeginParamEdit(tree, list, row, item, &help, &request)) return false;
        return model.CommitParamValue(text);
    }
    CParamTree tree;
    QStandardItemModel list;
    CTextBox help;
};

TEST_F(ParamTree, AConfigurationWithoutTypesShowsOnlyTheGlobalPages) {
    ASSERT_TRUE(model.RebuildParamTree(tree));
    EXPECT_EQ(TreeOutline(tree), QStringList({"Общие", "  Звук", "Журнал", "Пустая"}));
    EXPECT_TRUE(prompt.Messages().isEmpty());
    EXPECT_FALSE(model.IsModified());
}

TEST_F(ParamTree, OperationTypesAppearInTheirDisplayOrderWithTheirPages) {
    AddType("Приемка");
    AddType("Отгрузка");
    // Type 1 at position 2, type 2 at position 1.
    model.Working().Exec("UPDATE SortOrderOperTypes SET OperType = CASE OperType WHEN '1' THEN '2' ELSE '1' END");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    EXPECT_EQ(TreeOutline(tree), QStringList({"Общие", "  Звук", "Отгрузка (2)", "  Ввод", "    Количество",
                                              "  Контроль", "Приемка (1)", "  Ввод", "    Количество", "  Контроль",
                                              "Журнал", "Пустая"}));
    ParamNodeInfo info;
    ASSERT_TRUE(CParamTree::Info(Page("Отгрузка (2)"), &info));
    EXPECT_EQ(info.nodeTable, "nodes_root");
    EXPECT_EQ(info.caption, "Тип операции");
    EXPECT_EQ(info.listTable, "listparams_operation");
    EXPECT_EQ(info.operationName, "Отгрузка");
    EXPECT_EQ(info.operationTypeId, "2");
    ASSERT_TRUE(CParamTree::Info(Page("Отгрузка (2)")->child(0)->child(0), &info));
    EXPECT_EQ(info.nodeTable, "nodes_oper_input");
    EXPECT_EQ(info.operationTypeId, "2");
    EXPECT_EQ(info.operationName, "Отгрузка");
    ASSERT_TRUE(CParamTree::Info(Page("Звук"), &info));
    EXPECT_EQ(info.operationTypeId, "NULL");
    EXPECT_EQ(info.operationName, "NULL");

    CTextBox caption;
    model.ShowNodeCaption(caption, Page("Журнал"));
    EXPECT_EQ(caption.Text(), "Журнал сканирования");

    EXPECT_TRUE(CConfigModel::IsOperationItem(Page("Приемка (1)")));
    EXPECT_FALSE(CConfigModel::IsOperationItem(Page("Общие")));
    EXPECT_FALSE(CConfigModel::IsOperationItem(Page("Приемка (1)")->child(0)));
}

TEST_F(ParamTree, BuildingFillsInValuesAnOlderTemplateDidNotHave) {
    const QString id = AddType("Приемка");
    model.Save();
    model.Working().Exec("DELETE FROM ParamsValue WHERE param_id IN ('p_qty_max', 'p_volume')");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(Value(id, "listparams_oper_qty", "p_qty_max"), "9999");
    EXPECT_EQ(Value("NULL", "listparams_sound", "p_volume"), "2");
}

TEST_F(ParamTree, TheListShowsValuesByType) {
    ASSERT_TRUE(model.RebuildParamTree(tree));
    ASSERT_TRUE(model.ShowParamList(list, Page("Общие")));
    ASSERT_EQ(list.rowCount(), 6);
    EXPECT_EQ(list.item(0, 0)->text(), "Имя терминала");
    // text, combobox (its name), integer, multi-line, path, unknown type (nothing)
    EXPECT_EQ(ListValues(list), QStringList({"Терминал 1", "Нет", "30", "Привет\nмир", "\\Storage\\KX\\", ""}));

    ASSERT_TRUE(model.ShowParamList(list, Page("Пустая")));
    EXPECT_EQ(list.rowCount(), 0);
}

TEST_F(ParamTree, GlobalValuesAreReadWhateverTypeIsAsked) {
    QString value;
    EXPECT_TRUE(model.ReadParamValue("listparams_options", "p_timeout", "7", &value));
    EXPECT_EQ(value, "30");
    const QString id = AddType("Приемка");
    EXPECT_TRUE(model.ReadParamValue("listparams_oper_qty", "p_qty_max", id, &value));
    EXPECT_EQ(value, "9999");
    EXPECT_FALSE(model.ReadParamValue("listparams_oper_qty", "p_qty_max", "99", &value));
    EXPECT_EQ(value, "");
    EXPECT_FALSE(model.ReadParamValue("listparams_options", "p_none", "NULL", &value));
}

TEST_F(ParamTree, AMissingValueShowsEmptyAndOpensNoEditor) {
    ASSERT_TRUE(model.RebuildParamTree(tree));
    model.Working().Exec("DELETE FROM ParamsValue WHERE param_id = 'p_timeout'");
    ASSERT_TRUE(model.ShowParamList(list, Page("Общие")));
    EXPECT_EQ(ListValues(list)[2], "");
    ParamEditRequest request;
    EXPECT_FALSE(model.BeginParamEdit(tree, list, 2, Page("Общие"), &help, &request));
    EXPECT_EQ(request.editor, ParamEditorKind::None);
    EXPECT_EQ(help.Text(), "Секунды");  // the help is shown all the same
}

TEST_F(ParamTree, EachTypeOpensItsEditor) {
    ASSERT_TRUE(model.RebuildParamTree(tree));
    QStandardItem* page = Page("Общие");
    ParamEditRequest r;
    ASSERT_TRUE(model.BeginParamEdit(tree, list, 0, page, &help, &r));
    EXPECT_EQ(r.editor, ParamEditorKind::Text);
    EXPECT_EQ(r.editKind, 3);
    EXPECT_EQ(r.controlId, 101);
    EXPECT_EQ(r.value, "Терминал 1");
    EXPECT_EQ(help.Text(), "Имя в заголовке");

    ASSERT_TRUE(model.BeginParamEdit(tree, list, 1, page, &help, &r));
    EXPECT_EQ(r.editor, ParamEditorKind::Combo);
    EXPECT_EQ(r.controlId, 103);
    EXPECT_EQ(r.combo.items, QStringList({"Нет", "Да"}));
    EXPECT_EQ(r.combo.current, 0);

    ASSERT_TRUE(model.BeginParamEdit(tree, list, 2, page, &help, &r));
    EXPECT_EQ(r.editor, ParamEditorKind::Integer);
    EXPECT_EQ(r.editKind, 1);
    ASSERT_TRUE(model.BeginParamEdit(tree, list, 3, page, &help, &r));
    EXPECT_EQ(r.editor, ParamEditorKind::MultilineText);
    EXPECT_EQ(r.editKind, 4);
    ASSERT_TRUE(model.BeginParamEdit(tree, list, 4, page, &help, &r));
    EXPECT_EQ(r.editor, ParamEditorKind::PathButton);
    EXPECT_EQ(r.controlId, 102);
    ASSERT_TRUE(model.BeginParamEdit(tree, list, 5, page, &help, &r));
    EXPECT_EQ(r.editor, ParamEditorKind::None);
    EXPECT_FALSE(model.BeginParamEdit(tree, list, 6, page, &help, &r));  // past the last row
    EXPECT_EQ(model.EditContext().row, 5);
}

TEST_F(ParamTree, TheComboSelectsTheLastRowWithTheStoredId) {
    model.Template().Exec("INSERT INTO combosource_volume VALUES(2, 'Громко (повтор)')");
    CComboItems combo;
    model.FillParamCombo(combo, "combosource_volume", "2");
    EXPECT_EQ(combo.items.size(), 4);
    EXPECT_EQ(combo.current, 3);
    combo.Clear();
    model.FillParamCombo(combo, "combosource_volume", "77");
    EXPECT_EQ(combo.current, 0);
}

TEST_F(ParamTree, CommittedValuesOfEveryTypeAreStoredAndShown) {
    const QString id = AddType("Приемка");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    model.Save();
    EXPECT_TRUE(Edit("Общие", 0, "O'Brien"));
    EXPECT_EQ(Value("NULL", "listparams_options", "p_name"), "O'Brien");
    EXPECT_EQ(list.item(0, 1)->text(), "O'Brien");
    EXPECT_TRUE(model.IsModified());
    EXPECT_TRUE(Edit("Общие", 2, "-15"));
    EXPECT_TRUE(Edit("Общие", 3, "строка 1\nстрока 2"));
    EXPECT_TRUE(Edit("Общие", 4, "/mnt/sd/kx/"));
    EXPECT_EQ(Value("NULL", "listparams_options", "p_timeout"), "-15");
    EXPECT_EQ(Value("NULL", "listparams_options", "p_welcome"), "строка 1\nстрока 2");
    EXPECT_EQ(Value("NULL", "listparams_options", "p_folder"), "/mnt/sd/kx/");
    // A combo box commits the chosen index and stores that row's id.
    EXPECT_TRUE(Edit("Звук", 0, "1"));
    EXPECT_EQ(Value("NULL", "listparams_sound", "p_volume"), "1");
    EXPECT_EQ(list.item(0, 1)->text(), "Тихо");
    // Operation-type pages store per type.
    EXPECT_TRUE(Edit("Количество", 0, "500"));
    EXPECT_EQ(Value(id, "listparams_oper_qty", "p_qty_max"), "500");
}

TEST_F(ParamTree, AComboIndexBeyondTheSourceTableChangesNothing) {
    ASSERT_TRUE(model.RebuildParamTree(tree));
    model.Save();
    EXPECT_FALSE(Edit("Звук", 0, "3"));
    EXPECT_FALSE(Edit("Звук", 0, "-1"));
    EXPECT_FALSE(Edit("Звук", 0, "1; DROP TABLE ParamsValue"));
    EXPECT_EQ(Value("NULL", "listparams_sound", "p_volume"), "2");
    EXPECT_EQ(list.item(0, 1)->text(), "Громко");
    EXPECT_FALSE(model.IsModified());
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(ParamTree, AComboValueWithoutSourceRowShowsAnEmptyCell) {
    ASSERT_TRUE(model.RebuildParamTree(tree));
    model.Working().Exec("UPDATE ParamsValue SET value = '9' WHERE param_id = 'p_volume'");
    ASSERT_TRUE(model.ShowParamList(list, Page("Звук")));
    EXPECT_EQ(ListValues(list), QStringList({""}));
    model.Working().Exec("UPDATE ParamsValue SET value = '' WHERE param_id = 'p_volume'");
    ASSERT_TRUE(model.ShowParamList(list, Page("Звук")));
    EXPECT_EQ(ListValues(list), QStringList({""}));
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(ParamTree, RenamingThroughTheNameParameterRenamesTheItem) {
    const QString id = AddType("Приемка");
    AddType("Отгрузка");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    EXPECT_TRUE(Edit("Приемка (1)", 0, "Приход 'склад'"));
    QStandardItem* item = tree.Root()->child(1);
    EXPECT_EQ(item->text(), "Приход 'склад' (1)");
    ParamNodeInfo info;
    CParamTree::Info(item, &info);
    EXPECT_EQ(info.operationName, "Приход 'склад'");
    EXPECT_EQ(Value(id, "listparams_operation", "oper_type"), "Приход 'склад'");
    EXPECT_EQ(list.item(0, 1)->text(), "Приход 'склад'");

    // The name stays unique, as when adding.
    EXPECT_FALSE(Edit("Приход 'склад' (1)", 0, "Отгрузка"));
    EXPECT_FALSE(Edit("Приход 'склад' (1)", 0, "NULL"));
    EXPECT_EQ(prompt.Texts(), QStringList({"Тип операции с таким именем уже существует!", "Зарезервированное имя!"}));
    EXPECT_EQ(Value(id, "listparams_operation", "oper_type"), "Приход 'склад'");
}

TEST_F(ParamTree, ACommitAfterTheTreeWasRebuiltIsIgnored) {
    ASSERT_TRUE(model.RebuildParamTree(tree));
    QStandardItem* page = Page("Общие");
    model.ShowParamList(list, page);
    ParamEditRequest request;
    ASSERT_TRUE(model.BeginParamEdit(tree, list, 0, page, &help, &request));
    ASSERT_TRUE(model.RebuildParamTree(tree));
    EXPECT_FALSE(model.CommitParamValue("late"));
    EXPECT_EQ(Value("NULL", "listparams_options", "p_name"), "Терминал 1");
}

TEST_F(ParamTree, ACommitAfterTheListWentAwayIsIgnored) {
    ASSERT_TRUE(model.RebuildParamTree(tree));
    QStandardItem* page = Page("Общие");
    auto shortLived = std::make_unique<QStandardItemModel>();
    model.ShowParamList(*shortLived, page);
    ParamEditRequest request;
    ASSERT_TRUE(model.BeginParamEdit(tree, *shortLived, 0, page, &help, &request));
    shortLived.reset();
    EXPECT_FALSE(model.CommitParamValue("late"));
    EXPECT_EQ(Value("NULL", "listparams_options", "p_name"), "Терминал 1");
}

TEST_F(ParamTree, SelectOperationItemFindsTheTypeOrNothing) {
    AddType("Приемка");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    model.SelectOperationItem(tree, "1");
    ASSERT_NE(tree.SelectedItem(), nullptr);
    EXPECT_EQ(tree.SelectedItem()->text(), "Приемка (1)");
    model.SelectOperationItem(tree, "5");
    EXPECT_EQ(tree.SelectedItem(), nullptr);
}

TEST_F(ParamTree, AMissingTemplateTableIsShownAndTheBuildStops) {
    AddType("Приемка");
    model.Template().Exec("DROP TABLE nodes_oper_input");
    EXPECT_FALSE(model.RebuildParamTree(tree));
    EXPECT_GE(prompt.Messages().size(), 1);
    EXPECT_TRUE(prompt.Texts()[0].contains("nodes_oper_input"));
}

// ------------------------------------------------------- combo of operations

TEST_F(ParamTree, TheOperationsComboSourceIsBuiltFromTheDirectoryFile) {
    const QString file = dir.File("files/shop_opers.ux3");
    WriteFileBytes(file, Cp1251("10;1;Приемка товара;1;;\r\n20;2;Склад 'А';1;2000;1\r\n30;x;Отгрузка;\r\n"));
    EXPECT_TRUE(model.MakeTableComboSourceOperations(file));
    EXPECT_EQ(Rows(model.Template(), "SELECT id, name FROM combosource_operations"),
              QStringList({"0|", "10|Приемка товара", "20|Склад 'А'", "30|Отгрузка"}));
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(ParamTree, TheOperationsComboSourceReadsAUtf8FileAsTheEditorDoes) {
    const QString file = dir.File("files/shop_opers.ux3");
    WriteFileBytes(file, QByteArray("\xEF\xBB\xBF") + QString("7;1;Приёмка;1;;\r\n8;2;Отгрузка;1;;\r\n").toUtf8());
    EXPECT_TRUE(model.MakeTableComboSourceOperations(file));
    EXPECT_EQ(Rows(model.Template(), "SELECT id, name FROM combosource_operations"),
              QStringList({"0|", "7|Приёмка", "8|Отгрузка"}));
}

TEST_F(ParamTree, ADamagedOperationsFileStopsWithItsMessage) {
    const QString file = dir.File("files/shop_opers.ux3");
    WriteFileBytes(file, Cp1251("10;1;Приемка;1\r\n20;2;\r\n30;3;Отгрузка;1\r\n"));
    EXPECT_FALSE(model.MakeTableComboSourceOperations(file));
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(IsMessage(prompt.Messages()[0],
                          "Ошибка!\nФайл операций поврежден или содержит неправильные данные!",
                          "KXLoader", PromptIcon::Warning));
    EXPECT_EQ(Rows(model.Template(), "SELECT id, name FROM combosource_operations"),
              QStringList({"0|", "10|Приемка"}));
}

TEST_F(ParamTree, AMissingOperationsFileLeavesOnlyTheEmptyChoice) {
    EXPECT_FALSE(model.MakeTableComboSourceOperations(dir.File("files/none.ux3")));
    EXPECT_TRUE(prompt.Messages().isEmpty());
    EXPECT_EQ(Rows(model.Template(), "SELECT id, name FROM combosource_operations"), QStringList({"0|"}));
}

TEST_F(ParamTree, AnOperationsFileWithAnOddIdCannotInjectSql) {
    const QString file = dir.File("files/shop_opers.ux3");
    WriteFileBytes(file, "1) ; DROP TABLE nodes_root; --;2;Name;1\r\n");
    model.MakeTableComboSourceOperations(file);
    EXPECT_EQ(Scalar(model.Template(), "SELECT count(*) FROM nodes_root"), "4");
}
