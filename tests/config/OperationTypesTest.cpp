// Operation types: identifiers, positions, names, copy, delete, moves, page
// defaults, and the configurator buttons around them.

#include "tests/config/ConfigTestSupport.h"

using namespace SQLite3;

namespace {

NameInput Answer(const QString& name, QStringList* titles = nullptr) {
    return [name, titles](const QString& title, const QString& promptText, QString* out) {
        if (titles) *titles << title + "|" + promptText;
        *out = name;
        return true;
    };
}

NameInput Cancel() {
    return [](const QString&, const QString&, QString*) { return false; };
}

}  // namespace

class OperationTypes : public ConfigFixture {
protected:
    QStringList Order() { return Rows(model.Working(), "SELECT n, OperType FROM SortOrderOperTypes ORDER BY n"); }
    QStandardItem* TypeItem(const QString& id) {
        model.SelectOperationItem(tree, id);
        return tree.SelectedItem();
    }
    CParamTree tree;
};

TEST_F(OperationTypes, IdentifiersAreOneMoreThanTheIntegerMaximum) {
    EXPECT_EQ(AddType("Первая"), "1");
    EXPECT_EQ(Order(), QStringList({"1|1"}));
    model.Working().Exec("INSERT INTO SortOrderOperTypes(n, OperType) VALUES(2, '2')");
    model.Working().Exec("INSERT INTO SortOrderOperTypes(n, OperType) VALUES(3, '10')");
    // As text "2" would be the largest; as numbers 10 is.
    EXPECT_EQ(AddType("Четвертая"), "11");
    EXPECT_EQ(Order().last(), "4|11");
}

TEST_F(OperationTypes, TheLargestIdentifierIsReusedAfterItsDeletion) {
    AddType("Первая");
    AddType("Вторая");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    prompt.QueueAnswer(AnswerYes);
    ASSERT_TRUE(model.DeleteOperationType(tree, TypeItem("2")));
    EXPECT_EQ(AddType("Третья"), "2");
    // A deleted type in the middle leaves its number unused.
    ASSERT_TRUE(model.RebuildParamTree(tree));
    prompt.QueueAnswer(AnswerYes);
    ASSERT_TRUE(model.DeleteOperationType(tree, TypeItem("1")));
    EXPECT_EQ(AddType("Четвертая"), "3");
    EXPECT_EQ(Order(), QStringList({"2|2", "3|3"}));
}

TEST_F(OperationTypes, AddWritesEveryValueOfTheTypeWithItsName) {
    const QString id = AddType("Приемка");
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(Scalar(model.Working(), "SELECT count(*) FROM ParamsValue WHERE OperTypeID = '1'"),
              QString::number(kSmallOperationParams));
    EXPECT_EQ(Value(id, "listparams_operation", "oper_type"), "Приемка");
    EXPECT_EQ(Value(id, "listparams_oper_qty", "p_qty_max"), "9999");
    EXPECT_EQ(Value(id, "listparams_oper_control", "p_msg"), "Ошибка");
}

TEST_F(OperationTypes, AnAddThatFailsHalfwayKeepsWhatWasWrittenAndStillRebuilds) {
    model.Template().Exec("DROP TABLE listparams_oper_qty");
    QString id;
    EXPECT_TRUE(model.AddOperationType("Приемка", &id));
    EXPECT_EQ(id, "1");
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(prompt.Texts()[0].contains("listparams_oper_qty"));
    EXPECT_EQ(Order(), QStringList({"1|1"}));
    EXPECT_EQ(Value(id, "listparams_operation", "oper_type"), "Приемка");
    EXPECT_EQ(Value(id, "listparams_oper_control", "p_msg"), "Ошибка");
    EXPECT_TRUE(model.IsModified());
}

TEST_F(OperationTypes, NamesAreCheckedExactly) {
    AddType("Приемка");
    EXPECT_EQ(model.CheckOperationTypeName("Приемка"), 1);
    EXPECT_EQ(model.CheckOperationTypeName("NULL"), 2);
    EXPECT_EQ(model.CheckOperationTypeName("null"), 0);
    EXPECT_EQ(model.CheckOperationTypeName("Приемка "), 0);
    EXPECT_EQ(model.CheckOperationTypeName("O'Brien"), 0);

    ASSERT_TRUE(model.RebuildParamTree(tree));
    EXPECT_FALSE(model.OnAddOperationType(tree, Answer("Приемка")));
    EXPECT_FALSE(model.OnAddOperationType(tree, Answer("NULL")));
    ASSERT_EQ(prompt.Messages().size(), 2);
    EXPECT_EQ(prompt.Messages()[0].text, "Тип операции с таким именем уже существует!");
    EXPECT_TRUE(IsMessage(prompt.Messages()[1], "Зарезервированное имя!", "Ошибка!", PromptIcon::Warning));
    EXPECT_TRUE(model.OnAddOperationType(tree, Answer("null")));
    EXPECT_EQ(Order().size(), 2);
}

TEST_F(OperationTypes, TheAddButtonRebuildsSelectsAndFocuses) {
    ASSERT_TRUE(model.RebuildParamTree(tree));
    QStringList titles;
    ASSERT_TRUE(model.OnAddOperationType(tree, Answer("Склад 'А'", &titles)));
    EXPECT_EQ(titles, QStringList({"Новый тип операции|Введите название:"}));
    ASSERT_NE(tree.SelectedItem(), nullptr);
    EXPECT_EQ(tree.SelectedItem()->text(), "Склад 'А' (1)");
    EXPECT_EQ(tree.FocusRequests(), 1);
    EXPECT_FALSE(model.OnAddOperationType(tree, Cancel()));
    EXPECT_EQ(Order().size(), 1);
}

TEST_F(OperationTypes, CopyDuplicatesEveryValueAndRenamesOnlyTheCopy) {
    const QString source = AddType("Приемка");
    model.Working().Exec("UPDATE ParamsValue SET value = 'Своя подсказка' WHERE param_id = 'p_hint'");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    QString copy;
    ASSERT_TRUE(model.CopyOperationType(tree, TypeItem(source), "Приемка (копия)", &copy));
    EXPECT_EQ(copy, "2");
    EXPECT_EQ(Value(source, "listparams_operation", "oper_type"), "Приемка");
    EXPECT_EQ(Value(copy, "listparams_operation", "oper_type"), "Приемка (копия)");
    EXPECT_EQ(Value(copy, "listparams_oper_input", "p_hint"), "Своя подсказка");
    EXPECT_EQ(Rows(model.Working(), "SELECT place_id, param_id, value FROM ParamsValue WHERE OperTypeID = '2' AND "
                                    "param_id <> 'oper_type'"),
              Rows(model.Working(), "SELECT place_id, param_id, value FROM ParamsValue WHERE OperTypeID = '1' AND "
                                    "param_id <> 'oper_type'"));
    EXPECT_EQ(Order(), QStringList({"1|1", "2|2"}));
}

TEST_F(OperationTypes, CopyAndDeleteNeedAnOperationTypeItem) {
    AddType("Приемка");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    QStandardItem* page = FindItem(tree, "Ввод");  // a page inside the type, not the type
    ASSERT_NE(page, nullptr);
    tree.Select(page);
    EXPECT_FALSE(model.OnCopyOperationType(tree, Answer("x")));
    EXPECT_FALSE(model.DeleteOperationType(tree, page));
    QString id;
    EXPECT_FALSE(model.MoveOperationTypeUp(tree, page, &id));
    EXPECT_EQ(prompt.Texts(),
              QStringList({"Выделите сначала тип операции!\nА затем нажмите кнопку копирования!",
                           "Выделите сначала тип операции!\nА затем нажмите кнопку с изображением минус для удаления!",
                           "Выделите сначала тип операции.\nДальше кнопками с изображением треугольных стрелок можете "
                           "изменять порядок операций!"}));
    EXPECT_EQ(prompt.Messages()[0].caption, "Внимание!");
    EXPECT_EQ(Order().size(), 1);
}

TEST_F(OperationTypes, DeleteAsksThenRemovesTheTypeAndItsItem) {
    AddType("Приемка");
    const QString second = AddType("Отгрузка");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    const int itemsBefore = tree.AllItems().size();

    prompt.QueueAnswer(AnswerNo);
    EXPECT_FALSE(model.DeleteOperationType(tree, TypeItem(second)));
    EXPECT_EQ(prompt.Messages()[0].text, "Вы действительно хотите удалить этот тип операции?");
    EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Question);
    EXPECT_EQ(Order().size(), 2);

    prompt.QueueAnswer(AnswerYes);
    ASSERT_TRUE(model.DeleteOperationType(tree, TypeItem(second)));
    EXPECT_EQ(Order(), QStringList({"1|1"}));
    EXPECT_EQ(Scalar(model.Working(), "SELECT count(*) FROM ParamsValue WHERE OperTypeID = '2'"), "0");
    EXPECT_EQ(tree.SelectedItem(), nullptr);
    EXPECT_EQ(FindItem(tree, "Отгрузка (2)"), nullptr);
    EXPECT_EQ(tree.AllItems().size(), itemsBefore - 4);  // the type and its three pages
}

TEST_F(OperationTypes, ACopyOrADeletionThatFailsHalfwayChangesNothing) {
    const QString source = AddType("Приемка");
    AddType("Отгрузка");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    const QString all = "SELECT * FROM ParamsValue";
    const QStringList values = Rows(model.Working(), all);
    const QStringList order = Order();

    // The copy's values are in when its position cannot be written.
    model.Working().Exec("CREATE TRIGGER fail_position BEFORE INSERT ON SortOrderOperTypes "
                         "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
    QString copy;
    EXPECT_FALSE(model.CopyOperationType(tree, TypeItem(source), "Приемка (копия)", &copy));
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(prompt.Texts()[0].contains("database or disk is full"));
    EXPECT_EQ(Rows(model.Working(), all), values);
    EXPECT_EQ(Order(), order);
    EXPECT_EQ(model.CheckOperationTypeName("Приемка (копия)"), 0);

    // The values are gone when the type's position cannot be deleted.
    model.Working().Exec("CREATE TRIGGER fail_delete BEFORE DELETE ON SortOrderOperTypes "
                         "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    EXPECT_FALSE(model.DeleteOperationType(tree, TypeItem("2")));
    EXPECT_EQ(Rows(model.Working(), all), values);
    EXPECT_EQ(Order(), order);
    EXPECT_NE(FindItem(tree, "Отгрузка (2)"), nullptr);  // the tree still shows what is there
}

TEST_F(OperationTypes, MovesSwapIdentifiersAcrossGaps) {
    AddType("A");
    AddType("B");
    AddType("C");
    model.Working().Exec("DELETE FROM SortOrderOperTypes WHERE n = 2");  // positions 1, 3
    AddType("D");                                                        // position 4
    EXPECT_EQ(Order(), QStringList({"1|1", "3|3", "4|4"}));
    ASSERT_TRUE(model.RebuildParamTree(tree));

    QString id;
    ASSERT_TRUE(model.MoveOperationTypeUp(tree, TypeItem("3"), &id));
    EXPECT_EQ(id, "3");
    EXPECT_EQ(Order(), QStringList({"1|3", "3|1", "4|4"}));
    ASSERT_TRUE(model.MoveOperationTypeDown(tree, TypeItem("3"), &id));
    EXPECT_EQ(Order(), QStringList({"1|1", "3|3", "4|4"}));
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(OperationTypes, MovesAtTheEndsChangeNothingAndSayNothing) {
    AddType("A");
    AddType("B");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    model.Save();
    QString id;
    EXPECT_FALSE(model.MoveOperationTypeUp(tree, TypeItem("1"), &id));
    EXPECT_FALSE(model.MoveOperationTypeDown(tree, TypeItem("2"), &id));
    EXPECT_EQ(Order(), QStringList({"1|1", "2|2"}));
    EXPECT_TRUE(prompt.Messages().isEmpty());
    EXPECT_EQ(tree.FocusRequests(), 2);
    EXPECT_FALSE(model.IsModified());
}

TEST_F(OperationTypes, TheMoveButtonsRebuildTheTreeInTheNewOrder) {
    AddType("A");
    AddType("B");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    tree.Select(TypeItem("2"));
    ASSERT_TRUE(model.OnMoveOperationTypeUp(tree));
    EXPECT_EQ(tree.SelectedItem()->text(), "B (2)");
    EXPECT_EQ(tree.Root()->child(1)->text(), "B (2)");
    EXPECT_EQ(tree.Root()->child(2)->text(), "A (1)");
}

TEST_F(OperationTypes, PageDefaultsAreRefusedOnTheTypesOwnPageOnly) {
    const QString id = AddType("Приемка");
    model.Working().Exec("UPDATE ParamsValue SET value = '5' WHERE param_id IN ('p_code', 'p_qty_max', 'p_timeout')");
    ASSERT_TRUE(model.RebuildParamTree(tree));

    EXPECT_FALSE(model.LoadPageDefaults(TypeItem(id)));
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].text, "Для этой страницы нельзя загрузить дефолтные значения...");
    EXPECT_EQ(prompt.Messages()[0].caption, "Внимание!");
    EXPECT_EQ(Value(id, "listparams_operation", "p_code"), "5");
    EXPECT_EQ(Value(id, "listparams_operation", "oper_type"), "Приемка");

    EXPECT_TRUE(model.LoadPageDefaults(FindItem(tree, "Количество")));
    EXPECT_EQ(Value(id, "listparams_oper_qty", "p_qty_max"), "9999");
    EXPECT_TRUE(model.LoadPageDefaults(FindItem(tree, "Общие")));
    EXPECT_EQ(Value("NULL", "listparams_options", "p_timeout"), "30");
    EXPECT_TRUE(model.LoadPageDefaults(FindItem(tree, "Пустая")));
    EXPECT_FALSE(model.LoadPageDefaults(nullptr));
}

TEST_F(OperationTypes, PageDefaultsButtonAsksFirst) {
    model.Working().Exec("UPDATE ParamsValue SET value = '5' WHERE param_id = 'p_timeout'");
    ASSERT_TRUE(model.RebuildParamTree(tree));
    tree.Select(FindItem(tree, "Общие"));
    prompt.QueueAnswer(AnswerNo);
    EXPECT_FALSE(model.OnLoadPageDefaults(tree));
    EXPECT_EQ(prompt.Messages()[0].text, "Вы действительно хотите восстановить дефолтные значения только на этой странице?");
    EXPECT_EQ(Value("NULL", "listparams_options", "p_timeout"), "5");
    prompt.QueueAnswer(AnswerYes);
    EXPECT_TRUE(model.OnLoadPageDefaults(tree));
    EXPECT_EQ(Value("NULL", "listparams_options", "p_timeout"), "30");
}

TEST_F(OperationTypes, ButtonsWithoutAConfigurationSayItIsNotOpen) {
    model.Close();
    EXPECT_FALSE(model.OnAddOperationType(tree, Answer("x")));
    EXPECT_FALSE(model.OnDeleteOperationType(tree));
    EXPECT_FALSE(model.OnMoveOperationTypeDown(tree));
    EXPECT_EQ(prompt.Texts(), QStringList(3, "Не открыта конфигурация!"));
}
