// The shipped template (built into the program folder) and a round trip of a
// whole configuration through it.

#include "tests/config/ConfigTestSupport.h"

#include <QFile>

#include <functional>

using namespace SQLite3;

namespace {

const QString kBuiltTemplate = QStringLiteral(KX_PROGRAM_DIR "/KXConfigFMT.db");

// Every node table reachable from nodes_root, with the list tables of its rows.
void Walk(CSQLiteConnection& db, const QString& nodeTable, int depth, int* maxDepth,
          const std::function<void(const QStringList& row, int depth)>& visit) {
    *maxDepth = std::max(*maxDepth, depth);
    for (const QStringList& row : Query(db, "SELECT * FROM " + nodeTable).Rows) {
        visit(row, depth);
        if (!row[1].isEmpty()) Walk(db, row[1], depth + 1, maxDepth, visit);
    }
}

}  // namespace

TEST(ShippedTemplate, KeepsTheShapeTheModelReads) {
    ASSERT_TRUE(QFile::exists(kBuiltTemplate));
    CSQLiteConnection db;
    db.OpenConnection(kBuiltTemplate);
    int maxDepth = 0;
    QStringList listTables;
    bool operationNode = false;
    Walk(db, "nodes_root", 0, &maxDepth, [&](const QStringList& row, int) {
        ASSERT_GE(row.size(), 4);
        EXPECT_FALSE(row[3].isEmpty()) << "no caption for " << row[0].toStdString();
        if (row[0] == "__OPERATION") operationNode = true;
        if (!row[2].isEmpty()) listTables << row[2];
    });
    EXPECT_TRUE(operationNode);
    EXPECT_GE(maxDepth, 2);  // pages two levels below the operation node
    QSet<QString> types;
    int combos = 0;
    for (const QString& table : listTables) {
        const CSQLiteTable all = Query(db, "SELECT * FROM " + table);
        ASSERT_EQ(all.ColumnNames.value(3), "default_value") << table.toStdString();
        ASSERT_EQ(all.ColumnNames.value(5), "param_id") << table.toStdString();
        for (const QStringList& p :
             Query(db, "SELECT name, param_id, type, source_data, param_help_text, default_value FROM " + table).Rows) {
            EXPECT_FALSE(p[0].isEmpty());
            EXPECT_FALSE(p[4].isEmpty()) << "no help for " << p[1].toStdString();
            types << p[2];
            if (p[2] == "combobox") {
                ++combos;
                // The default must be one of the choices.
                EXPECT_EQ(Scalar(db, QString("SELECT count(*) FROM %1 WHERE id = %2").arg(p[3], p[5])), "1")
                    << p[1].toStdString();
            }
        }
    }
    EXPECT_EQ(types, QSet<QString>({"text", "integer", "multiline text", "path", "combobox"}));
    EXPECT_GE(combos, 5);
    EXPECT_EQ(Scalar(db, "SELECT param_id FROM listparams_operation LIMIT 1"), "oper_type");
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM listparams_options WHERE param_id = 'p_upload_journal_id'"), "1");
    EXPECT_EQ(Rows(db, "SELECT id, name FROM combosource_operations"), QStringList({"0|"}));
}

// The item reached by following texts from the top of the tree.
QStandardItem* ItemAt(CParamTree& tree, const QStringList& path) {
    QStandardItem* at = tree.Root();
    for (const QString& text : path) {
        QStandardItem* next = nullptr;
        for (int r = 0; at && r < at->rowCount() && !next; ++r)
            if (at->child(r)->text() == text) next = at->child(r);
        at = next;
    }
    return at;
}

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        // A copy: the configurator writes the operations combo into its template.
        templatePath = dir.File("KXConfigFMT.db");
        ASSERT_TRUE(QFile::copy(kBuiltTemplate, templatePath));
        projectPath = dir.File("sklad.kxc");
        SetProjectPath(projectPath);
    }
    void TearDown() override { SetProjectPath(QString()); }

    // Sets a value through the editor of its row, as the configurator does.
    void Set(CConfigModel& model, CParamTree& tree, const QStringList& path, const QString& paramId,
             const QString& text) {
        QStandardItem* item = ItemAt(tree, path);
        ASSERT_NE(item, nullptr) << path.join("/").toStdString();
        ParamNodeInfo info;
        CParamTree::Info(item, &info);
        QStandardItemModel list;
        ASSERT_TRUE(model.ShowParamList(list, item));
        const QStringList ids = Rows(model.Template(), "SELECT param_id FROM " + info.listTable);
        const int row = static_cast<int>(ids.indexOf(paramId));
        ASSERT_GE(row, 0) << paramId.toStdString();
        ParamEditRequest request;
        CTextBox help;
        ASSERT_TRUE(model.BeginParamEdit(tree, list, row, item, &help, &request));
        EXPECT_FALSE(help.Text().isEmpty());
        ASSERT_TRUE(model.CommitParamValue(text)) << paramId.toStdString();
    }

    CTestDir dir;
    CRecordingPrompt prompt;
    CScopedPrompt scope{prompt};
    QString templatePath;
    QString projectPath;
};

TEST_F(RoundTrip, EveryValueSurvivesSaveAndReopen) {
    {
        CConfigModel model;
        ASSERT_TRUE(model.OpenTemplate(templatePath));
        ASSERT_TRUE(model.Create(projectPath));
        QString receiving, shipping, copy;
        ASSERT_TRUE(model.AddOperationType("Приемка", &receiving));
        ASSERT_TRUE(model.AddOperationType("Отгрузка", &shipping));
        CParamTree tree;
        ASSERT_TRUE(model.RebuildParamTree(tree));
        Set(model, tree, {"Приемка (1)"}, "p_oper_code", "101");
        Set(model, tree, {"Приемка (1)"}, "p_oper_description", "Приемка от поставщика\nпо накладной");
        model.SelectOperationItem(tree, receiving);
        ASSERT_TRUE(model.CopyOperationType(tree, tree.SelectedItem(), "Склад 'А'", &copy));
        ASSERT_EQ(copy, "3");
        ASSERT_TRUE(model.RebuildParamTree(tree));

        Set(model, tree, {"Общие настройки"}, "p_terminal_name", "Терминал O'Brien");
        Set(model, tree, {"Общие настройки"}, "p_upload_journal_id", "1");  // the row "Да"
        Set(model, tree, {"Общие настройки"}, "p_autoexit_minutes", "15");
        Set(model, tree, {"Общие настройки"}, "p_data_folder", "\\Flash\\KX\\");
        Set(model, tree, {"Общие настройки"}, "p_welcome_text", "Склад №1\r\nСмена 'утро'");
        Set(model, tree, {"Общие настройки", "Сканер"}, "p_scan_prefix", "]C1");
        Set(model, tree, {"Обмен данными"}, "p_baud_rate", "2");  // the row "38400"
        Set(model, tree, {"Отгрузка (2)", "Ввод данных", "Количество"}, "p_quantity_mode", "1");
        Set(model, tree, {"Отгрузка (2)", "Ввод данных", "Количество"}, "p_quantity_max", "250");
        Set(model, tree, {"Склад 'А' (3)", "Контроль"}, "p_check_ware", "2");
        Set(model, tree, {"Склад 'А' (3)", "Выгрузка"}, "p_export_file", "\\Flash\\out 'A'.txt");
        Set(model, tree, {"Склад 'А' (3)"}, "oper_type", "Склад 'Б'");
        EXPECT_EQ(ItemAt(tree, {"Склад 'Б' (3)"}) != nullptr, true);
        EXPECT_TRUE(model.IsModified());
        ASSERT_TRUE(model.Save());
        EXPECT_FALSE(model.IsModified());
        model.Close();
    }
    EXPECT_TRUE(prompt.Messages().isEmpty()) << prompt.Texts().join("\n").toStdString();

    CConfigModel model;
    ASSERT_TRUE(model.OpenTemplate(templatePath));
    ASSERT_TRUE(model.Open(projectPath));
    // Every value set above, read back from the reopened project.
    struct Stored {
        const char* table;
        const char* param;
        const char* operTypeId;
        const char* value;
    };
    const Stored stored[] = {
        {"listparams_options", "p_terminal_name", "NULL", "Терминал O'Brien"},
        {"listparams_options", "p_upload_journal_id", "NULL", "1"},
        {"listparams_options", "p_autoexit_minutes", "NULL", "15"},
        {"listparams_options", "p_data_folder", "NULL", "\\Flash\\KX\\"},
        {"listparams_options", "p_welcome_text", "NULL", "Склад №1\r\nСмена 'утро'"},
        {"listparams_scanner", "p_scan_prefix", "NULL", "]C1"},
        {"listparams_exchange", "p_baud_rate", "NULL", "38400"},
        {"listparams_operation", "p_oper_code", "1", "101"},
        {"listparams_operation", "p_oper_code", "3", "101"},  // copied with the type
        {"listparams_operation", "p_oper_code", "2", "0"},
        {"listparams_operation", "p_oper_description", "3", "Приемка от поставщика\nпо накладной"},
        {"listparams_oper_quantity", "p_quantity_mode", "2", "2"},
        {"listparams_oper_quantity", "p_quantity_mode", "1", "1"},
        {"listparams_oper_quantity", "p_quantity_max", "2", "250"},
        {"listparams_oper_control", "p_check_ware", "3", "2"},
        {"listparams_oper_control", "p_check_ware", "1", "1"},
        {"listparams_oper_export", "p_export_file", "3", "\\Flash\\out 'A'.txt"},
    };
    for (const Stored& row : stored) {
        SCOPED_TRACE(::testing::Message() << row.param << " of " << row.operTypeId);
        QString value;
        EXPECT_TRUE(model.ReadParamValue(row.table, row.param, row.operTypeId, &value));
        EXPECT_EQ(value, QString::fromUtf8(row.value));
    }
    EXPECT_TRUE(model.IsUploadJournalIdOn());
    QString name;
    EXPECT_TRUE(model.GetOperationTypeName("3", &name));
    EXPECT_EQ(name, "Склад 'Б'");
    EXPECT_TRUE(model.GetOperationTypeName("1", &name));
    EXPECT_EQ(name, "Приемка");

    CParamTree tree;
    ASSERT_TRUE(model.RebuildParamTree(tree));
    EXPECT_FALSE(model.IsModified());  // nothing was missing
    EXPECT_EQ(tree.Root()->rowCount(), 7);  // five pages, the operation node giving three
    EXPECT_EQ(tree.Root()->child(2)->text(), "Приемка (1)");
    EXPECT_EQ(tree.Root()->child(4)->text(), "Склад 'Б' (3)");
    QStandardItemModel list;
    ASSERT_TRUE(model.ShowParamList(list, ItemAt(tree, {"Обмен данными"})));
    EXPECT_EQ(ListValues(list)[1], "38400");

    // The report of the reopened configuration carries the same values.
    ASSERT_TRUE(model.PrintConfiguration(dir.File("configuration.txt")));
    const QByteArray report = ReadFileBytes(dir.File("configuration.txt"));
    EXPECT_TRUE(report.contains(Cp1251("Операция: Склад 'Б'\r\n")));
    EXPECT_TRUE(report.contains(Cp1251("    Наибольшее количество: 250\r\n")));
    EXPECT_TRUE(report.contains(Cp1251("Выгружать ID записей журнала: Да\r\n")));
}

TEST(DemoProject, OpensWithItsOperationTypesAndDirectory) {
    CTestDir dir;
    CRecordingPrompt prompt;
    CScopedPrompt scope(prompt);
    const QString demo = QStringLiteral(KX_PROGRAM_DIR "/demo/demo.kxc");
    ASSERT_TRUE(QFile::exists(demo));
    const QString templatePath = dir.File("KXConfigFMT.db");
    ASSERT_TRUE(QFile::copy(kBuiltTemplate, templatePath));

    CConfigModel model;
    ASSERT_TRUE(model.OpenTemplate(templatePath));
    ASSERT_TRUE(model.Open(demo));
    CParamTree tree;
    ASSERT_TRUE(model.RebuildParamTree(tree));
    EXPECT_FALSE(model.IsModified());
    QStringList types;
    for (int r = 0; r < tree.Root()->rowCount(); ++r)
        if (CConfigModel::IsOperationItem(tree.Root()->child(r))) types << tree.Root()->child(r)->text();
    EXPECT_EQ(types, QStringList({"Приемка (1)", "Отгрузка (2)", "Инвентаризация (3)"}));

    // With the demo's operations directory the operation choice shows its name.
    const QString operations = QStringLiteral(KX_PROGRAM_DIR "/demo/files/demo_opers.ux3");
    if (QFile::exists(operations)) {
        EXPECT_TRUE(model.MakeTableComboSourceOperations(operations));
        QStandardItemModel list;
        ASSERT_TRUE(model.ShowParamList(list, tree.Root()->child(2)));
        EXPECT_FALSE(ListValues(list)[2].isEmpty());
    }
    EXPECT_TRUE(prompt.Messages().isEmpty()) << prompt.Texts().join("\n").toStdString();
    model.Close();
}
