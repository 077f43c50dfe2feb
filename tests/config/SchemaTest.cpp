// A new configuration's rows, the default walks and the small lookups.

#include "tests/config/ConfigTestSupport.h"

using namespace SQLite3;

class Schema : public ConfigFixture {
protected:
    // Adds the type `name` and checks the lookups both ways: its name by its
    // id, its id by its name. The id.
    QString AddTypeFoundBothWays(const QString& name) {
        const QString id = AddType(name);
        QString found, back;
        EXPECT_TRUE(model.GetOperationTypeName(id, &found));
        EXPECT_EQ(found, name);
        EXPECT_TRUE(model.GetOperationTypeId(name, &back));
        EXPECT_EQ(back, id);
        return id;
    }
};

TEST_F(Schema, NewConfigurationHasExactlyTheDefaultRows) {
    CSQLiteConnection& db = model.Working();
    EXPECT_EQ(Rows(db, "SELECT point_id, point_name FROM ChoiceNames"),
              QStringList({"1|Операции", "2|Исполнители", "3|Адреса", "4|Документы", "5|Товары", "7|Информация",
                           "6|Журнал", "8|Настройки", "9|Удаление шк", "10|Отчет факт/план"}));
    EXPECT_EQ(Rows(db, "SELECT id, name, target FROM m_mainmenu"),
              QStringList({"1|Операции|", "2|Исполнители|", "3|Адреса|", "4|Документы|", "5|Товары|", "6|Журнал|",
                           "7|Информация|", "8|Настройки|m_configmenu", "10|Отчет факт/план|"}));
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM SortOrderOperTypes"), "0");
    // One NULL row per global parameter, none for the "__OPERATION" subtree.
    EXPECT_EQ(Rows(db, "SELECT OperTypeID, place_id, param_id, value FROM ParamsValue"),
              QStringList({"NULL|listparams_options|p_name|Терминал 1",
                           "NULL|listparams_options|p_upload_journal_id|0",
                           "NULL|listparams_options|p_timeout|30",
                           "NULL|listparams_options|p_welcome|Привет\nмир",
                           "NULL|listparams_options|p_folder|\\Storage\\KX\\",
                           "NULL|listparams_options|p_odd|5",
                           "NULL|listparams_journal|p_journal_size|1000",
                           "NULL|listparams_sound|p_volume|2"}));
    EXPECT_FALSE(model.IsModified());
    // The project file holds the same rows, without the working copy's index.
    CSQLiteConnection project;
    project.OpenConnection(projectPath);
    EXPECT_EQ(Scalar(project, "SELECT count(*) FROM ParamsValue"), QString::number(kSmallGlobalParams));
    EXPECT_EQ(Scalar(project, "SELECT count(*) FROM sqlite_master WHERE type = 'index'"), "0");
    EXPECT_EQ(Scalar(project, "SELECT count(*) FROM ChoiceNames"), "10");
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(Schema, UploadJournalIdIsOnOnlyForANonZeroNumber) {
    CSQLiteConnection& db = model.Working();
    const QString set = "UPDATE ParamsValue SET value = '%1' WHERE param_id = 'p_upload_journal_id'";
    EXPECT_FALSE(model.IsUploadJournalIdOn());  // default "0"
    db.Exec(set.arg(""));
    EXPECT_FALSE(model.IsUploadJournalIdOn());
    db.Exec(set.arg("abc"));
    EXPECT_FALSE(model.IsUploadJournalIdOn());
    db.Exec(set.arg("1"));
    EXPECT_TRUE(model.IsUploadJournalIdOn());
    db.Exec(set.arg(" 2x"));
    EXPECT_TRUE(model.IsUploadJournalIdOn());
    db.Exec("DELETE FROM ParamsValue WHERE param_id = 'p_upload_journal_id'");
    EXPECT_FALSE(model.IsUploadJournalIdOn());
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(Schema, EnsureDefaultValuesAddsOnlyWhatIsMissingAndMarksModified) {
    CSQLiteConnection& db = model.Working();
    db.Exec("UPDATE ParamsValue SET value = 'Склад' WHERE param_id = 'p_name'");
    db.Exec("DELETE FROM ParamsValue WHERE param_id = 'p_timeout'");
    model.EnsureDefaultValues("listparams_options", "NULL");
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(Value("NULL", "listparams_options", "p_name"), "Склад");
    EXPECT_EQ(Value("NULL", "listparams_options", "p_timeout"), "30");
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM ParamsValue"), QString::number(kSmallGlobalParams));

    CConfigModel again;  // nothing missing: not modified
    ASSERT_TRUE(again.OpenTemplate(templatePath));
    ASSERT_TRUE(again.Open(projectPath));
    again.EnsureDefaultValues("listparams_options", "NULL");
    EXPECT_FALSE(again.IsModified());
}

TEST_F(Schema, EnsureDefaultValuesSkipsTheOperationPageAtGlobalLevelAndEmptyTables) {
    model.EnsureDefaultValues("listparams_operation", "NULL");
    model.EnsureDefaultValues("", "NULL");
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(Scalar(model.Working(), "SELECT count(*) FROM ParamsValue"), QString::number(kSmallGlobalParams));
    model.EnsureDefaultValues("listparams_operation", "4");
    EXPECT_EQ(Scalar(model.Working(), "SELECT count(*) FROM ParamsValue WHERE OperTypeID = '4'"), "3");
}

TEST_F(Schema, WalksReportAMissingTemplateTableAndStop) {
    model.Template().Exec("DROP TABLE listparams_oper_qty");
    EXPECT_FALSE(model.InsertOperationDefaults("nodes_operation", "7"));
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].caption, "Error SQLite.[]");
    EXPECT_TRUE(prompt.Texts()[0].contains("listparams_oper_qty"));
    // The first level went in before the failure.
    EXPECT_EQ(Scalar(model.Working(), "SELECT count(*) FROM ParamsValue WHERE OperTypeID = '7'"), "4");

    prompt.Clear();
    model.EnsureDefaultValues("listparams_oper_qty", "7");
    EXPECT_EQ(prompt.Messages().size(), 1);
}

TEST_F(Schema, AListTableWithoutTheDefaultColumnsIsRefusedNotReadPastItsEnd) {
    model.Template().Exec("CREATE TABLE listparams_short(name VARCHAR, type VARCHAR)");
    model.Template().Exec("INSERT INTO listparams_short VALUES('a', 'text')");
    EXPECT_FALSE(model.InsertDefaultValues("listparams_short", "NULL"));
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(prompt.Texts()[0].contains("listparams_short"));
}

TEST_F(Schema, OperationTypeNameLookupsBothWays) {
    const QString id = AddTypeFoundBothWays("Приемка");
    QString name = "untouched", back;
    EXPECT_FALSE(model.GetOperationTypeName("99", &name));
    EXPECT_EQ(name, "untouched");
    EXPECT_FALSE(model.GetOperationTypeId("Нет такого", &back));

    IOperationTypeNames& names = model;  // what the directory code sees
    EXPECT_TRUE(names.GetOperationTypeName(id, &name));
}

TEST_F(Schema, ApostrophesInNamesAndChoiceNamesAreStoredExactly) {
    AddTypeFoundBothWays("Склад 'А'");
    EXPECT_TRUE(model.SetChoiceName(2, "O'Brien"));
    QString choice;
    EXPECT_TRUE(model.GetChoiceName(2, &choice));
    EXPECT_EQ(choice, "O'Brien");
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(Schema, ChoiceNameOfAMissingPointLeavesTheTextAndSetMarksModified) {
    QString name = "before";
    EXPECT_FALSE(model.GetChoiceName(42, &name));
    EXPECT_EQ(name, "before");
    EXPECT_FALSE(model.IsModified());
    EXPECT_TRUE(model.SetChoiceName(1, "Операции склада"));
    EXPECT_TRUE(model.IsModified());
}

TEST_F(Schema, OperationTypeComboSelectsTheLastEqualNameOrTheFirst) {
    AddType("Приемка");
    AddType("Отгрузка");
    CComboItems combo;
    EXPECT_TRUE(model.FillOperationTypeCombo(combo, "Отгрузка"));
    EXPECT_EQ(combo.items, QStringList({"Приемка", "Отгрузка"}));
    EXPECT_EQ(combo.current, 1);
    combo.Clear();
    EXPECT_TRUE(model.FillOperationTypeCombo(combo, "Нет такого"));
    EXPECT_EQ(combo.current, 0);

    // The directory editor's type list asks through the directory interface.
    IOperationTypeNames& names = model;
    EXPECT_EQ(names.GetOperationTypeNameList(), QStringList({"Приемка", "Отгрузка"}));
}

TEST_F(Schema, LookupsOnABrokenWorkingCopyShowTheErrorAndAnswerNo) {
    model.Working().Exec("DROP TABLE ChoiceNames");
    QString name;
    EXPECT_FALSE(model.GetChoiceName(1, &name));
    EXPECT_FALSE(model.SetChoiceName(1, "x"));
    EXPECT_EQ(prompt.Messages().size(), 2);
    EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Error);
}

TEST_F(Schema, FirstRowLookupsOnTheWorkingCopyFollowTheStoredRowOrder) {
    // Rows in an order an older program or a hand edit may leave: a global row
    // before type rows of the same parameter, and the later type's name first.
    AddType("Приемка");
    AddType("Отгрузка");
    ASSERT_TRUE(model.Save());
    model.Close();
    CSQLiteConnection project;
    project.OpenConnection(projectPath);
    project.Exec("DELETE FROM ParamsValue WHERE param_id IN ('p_name', 'p_upload_journal_id', 'oper_type')");
    for (const char* row : {"'NULL', 'listparams_options', 'p_name', 'GLOBAL'",
                            "'2', 'listparams_options', 'p_name', 'T2'",
                            "'1', 'listparams_options', 'p_name', 'T1'",
                            "'NULL', 'listparams_options', 'p_upload_journal_id', '0'",
                            "'1', 'listparams_options', 'p_upload_journal_id', '1'",
                            "'2', 'listparams_operation', 'oper_type', 'Отгрузка'",
                            "'1', 'listparams_operation', 'oper_type', 'Приемка'"})
        project.Exec(QString("INSERT INTO ParamsValue(OperTypeID, place_id, param_id, value) VALUES(%1)").arg(row));
    // What the saved file answers, where rows come in stored order.
    ASSERT_EQ(Rows(project, "SELECT OperTypeID, value FROM ParamsValue WHERE param_id = 'p_name' AND "
                            "place_id = 'listparams_options'"),
              QStringList({"NULL|GLOBAL", "2|T2", "1|T1"}));

    ASSERT_TRUE(model.Open(projectPath));
    QString value;
    ASSERT_TRUE(model.ReadParamValue("listparams_options", "p_name", "2", &value));
    EXPECT_EQ(value, "GLOBAL");  // the first stored row is global
    EXPECT_FALSE(model.IsUploadJournalIdOn());  // its first stored row is "0"
    EXPECT_EQ(model.GetOperationTypeNameList(), QStringList({"Отгрузка", "Приемка"}));
    EXPECT_TRUE(prompt.Messages().isEmpty());
}
