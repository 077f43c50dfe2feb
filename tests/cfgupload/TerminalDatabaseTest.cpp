// The terminal database: what it holds, how the operations directory becomes
// the operations table, the checks of that file, the export.

#include "exchange/TerminalDatabase.h"
#include "filesafety/TempFiles.h"
#include "tests/cfgupload/CfgUploadSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

class CfgUploadDatabase : public UploadFixture {
protected:
    // Builds into `path` (a new temporary file when empty); the built file is
    // then open in `built`.
    bool Build(QString* path, int startId = -1) {
        const bool done = BuildTerminalDatabase(model, path, startId);
        if (done) built.OpenConnection(*path);
        return done;
    }
    QStringList Operations() {
        return Rows(built, QStringLiteral("SELECT oper_id, typeof(oper_id), opertype_id, oper_name, multiplier, "
                                          "typeof(multiplier), oper_barcode, quote(popup_advinfo_mode) "
                                          "FROM operations ORDER BY oper_id"));
    }
    void TearDown() override {
        if (built.IsOpen()) built.CloseConnection();
        if (!temporary.isEmpty()) QFile::remove(temporary);
        UploadFixture::TearDown();
    }

    SQLite3::CSQLiteConnection built;
    QString temporary;
};

TEST_F(CfgUploadDatabase, HoldsTheWholeConfigurationAndTheThreeTablesOfTheTerminal) {
    OpenProject(QStringLiteral("shop.v1/Склад 1.kxc"));
    WriteOperations(QStringLiteral("1;1;Приемка;1;2000000000015\r\n"));
    const QStringList before = KxTempFiles();
    ASSERT_TRUE(Build(&temporary));
    // An empty path becomes a new kx_ file in the user's temporary folder.
    EXPECT_EQ(QFileInfo(temporary).absolutePath(), QFileInfo(KxTempFolderPath()).absoluteFilePath());
    EXPECT_TRUE(QFileInfo(temporary).fileName().startsWith(QLatin1String("kx_")));
    EXPECT_FALSE(before.contains(QFileInfo(temporary).fileName()));
    EXPECT_TRUE(prompt.Messages().isEmpty()) << prompt.Texts().join(QLatin1Char('\n')).toStdString();

    const QStringList working = TableNames(model.Working());
    ASSERT_TRUE(working.contains(QLatin1String("ParamsValue")));
    ASSERT_TRUE(working.contains(QLatin1String("m_mainmenu")));
    QStringList expected = working;
    expected << QStringLiteral("operations") << QStringLiteral("ps_engine_vars")
             << QStringLiteral("ps_kxconfig_info");
    expected.sort();
    EXPECT_EQ(TableNames(built), expected);
    for (const QString& table : working) {
        const QStringList rows = TableRows(model.Working(), table);
        EXPECT_EQ(TableRows(built, table), rows) << table.toStdString();
    }
    EXPECT_GT(TableRows(built, QStringLiteral("ParamsValue")).size(), 10);

    // The project's bare name: no folder (whose name has a dot), no extension.
    EXPECT_EQ(TableRows(built, QStringLiteral("ps_kxconfig_info")), QStringList{QStringLiteral("1|project_name|Склад 1")});
    EXPECT_EQ(TableRows(built, QStringLiteral("ps_engine_vars")), QStringList{QStringLiteral("1|-1|-1|-1|-1|")});
    EXPECT_EQ(Rows(built, QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'operations'")),
              QStringList{QStringLiteral(
                  "CREATE TABLE operations(oper_id INTEGER PRIMARY KEY,opertype_id VARCHAR,oper_name VARCHAR(40),"
                  "multiplier INTEGER,oper_barcode VARCHAR(40),popup_advinfo_mode TEXT DEFAULT \"\")")});
}

TEST_F(CfgUploadDatabase, StartOperationAndAProjectNameWithAnApostrophe) {
    OpenProject(QStringLiteral("O'Brien's.kxc"));
    QString path = dir.File(QStringLiteral("out.db"));
    ASSERT_TRUE(Build(&path, 7));
    EXPECT_EQ(path, dir.File(QStringLiteral("out.db")));
    EXPECT_EQ(TableRows(built, QStringLiteral("ps_kxconfig_info")), QStringList{QStringLiteral("1|project_name|O'Brien's")});
    EXPECT_EQ(TableRows(built, QStringLiteral("ps_engine_vars")), QStringList{QStringLiteral("1|7|-1|-1|-1|")});
}

TEST_F(CfgUploadDatabase, OperationsLinesBecomeRowsWithTheirBindings) {
    OpenProject(QStringLiteral("p.kxc"));
    WriteOperations(QStringLiteral(
        "1;2;Приемка;1;200\r\n"              // five fields: no pop-up mode (NULL)
        "2;2;Приемка;1;200;\r\n"             // trailing ';': the empty text
        "\r\n"                               // empty lines are skipped
        "3;1;Отгрузка;-1;201;1\r\n"          // six fields
        "abc;1;Без номера;x5;202\r\n"        // no leading number: 0
        " 12abc;1;Z;3kg;203;2;extra;more\r\n"  // leading numbers; the sixth field only
        "9;1;short;4\r\n"                    // four fields: skipped, nothing read beyond
        "7;1;Последняя;1;204"));             // no line end at the end of the file
    QString path = dir.File(QStringLiteral("out.db"));
    ASSERT_TRUE(Build(&path));
    EXPECT_EQ(Operations(), (QStringList{
                                QStringLiteral("0|integer|1|Без номера|0|integer|202|NULL"),
                                QStringLiteral("1|integer|2|Приемка|1|integer|200|NULL"),
                                QStringLiteral("2|integer|2|Приемка|1|integer|200|''"),
                                QStringLiteral("3|integer|1|Отгрузка|-1|integer|201|'1'"),
                                QStringLiteral("7|integer|1|Последняя|1|integer|204|NULL"),
                                QStringLiteral("12|integer|1|Z|3|integer|203|'2'"),
                            }));
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(CfgUploadDatabase, AUtf8OperationsFileGivesItsNamesAndFirstIdAsTheEditorReadsThem) {
    // Made on Linux: UTF-8 with a byte-order mark, which must not hide the first ID.
    OpenProject(QStringLiteral("p.kxc"));
    ASSERT_TRUE(WriteFileBytes(OperationsFile(),
                               QByteArray("\xEF\xBB\xBF") + QStringLiteral("4;1;Приёмка;1;200\r\n"
                                                                           "5;2;Отгрузка;1;201\r\n").toUtf8()));
    QString path = dir.File(QStringLiteral("out.db"));
    ASSERT_TRUE(Build(&path));
    EXPECT_EQ(Operations(), (QStringList{
                                QStringLiteral("4|integer|1|Приёмка|1|integer|200|NULL"),
                                QStringLiteral("5|integer|2|Отгрузка|1|integer|201|NULL"),
                            }));
}

TEST_F(CfgUploadDatabase, DuplicateOperationIdsFailWithTheDatabaseError) {
    OpenProject(QStringLiteral("p.kxc"));
    WriteOperations(QStringLiteral("1;1;A;1;200\r\n1;1;B;1;201\r\n"));
    QString path = dir.File(QStringLiteral("out.db"));
    EXPECT_FALSE(BuildTerminalDatabase(model, &path, -1));
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Error SQLite.[]"));
    EXPECT_EQ(messages[0].icon, PromptIcon::Error);
    EXPECT_TRUE(messages[0].text.contains(QLatin1String("UNIQUE"))) << messages[0].text.toStdString();
}

TEST_F(CfgUploadDatabase, MissingOperationsFileGivesAnEmptyTableAndNoWarning) {
    OpenProject(QStringLiteral("p.kxc"));
    ASSERT_FALSE(QFile::exists(OperationsFile()));
    EXPECT_TRUE(ValidateOperationsDirectory());
    QString path = dir.File(QStringLiteral("out.db"));
    ASSERT_TRUE(Build(&path));
    EXPECT_TRUE(Operations().isEmpty());
    EXPECT_TRUE(TableNames(built).contains(QLatin1String("operations")));
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(CfgUploadDatabase, AnExistingFileIsReplacedAndOneThatCannotBeIsReported) {
    OpenProject(QStringLiteral("p.kxc"));
    QString path = dir.File(QStringLiteral("old.db"));
    ASSERT_TRUE(dir.Write(QStringLiteral("old.db"), "not a database at all"));
    ASSERT_TRUE(Build(&path));
    EXPECT_EQ(TableRows(built, QStringLiteral("ps_kxconfig_info")), QStringList{QStringLiteral("1|project_name|p")});

    // A folder with something in it cannot be deleted.
    QString folder = dir.File(QStringLiteral("busy"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/inside")));
    EXPECT_FALSE(BuildTerminalDatabase(model, &folder, -1));
    ASSERT_EQ(prompt.Texts(), QStringList{QStringLiteral("Ошибка перезаписи файла ") + folder});
    EXPECT_EQ(prompt.Messages()[0].buttons, PromptButtons::Ok);
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/inside")).isDir());
}

TEST_F(CfgUploadDatabase, WithoutAConfigurationNothingIsTouched) {
    ASSERT_TRUE(dir.Write(QStringLiteral("keep.db"), "precious"));
    QString path = dir.File(QStringLiteral("keep.db"));
    EXPECT_FALSE(BuildTerminalDatabase(model, &path, -1));
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Не открыта конфигурация!")});
    EXPECT_EQ(dir.Read(QStringLiteral("keep.db")), QByteArray("precious"));
}

TEST_F(CfgUploadDatabase, ValidationWarnsOnceAboutTheFirstLineWithoutFiveFields) {
    OpenProject(QStringLiteral("p.kxc"));
    WriteOperations(QStringLiteral("1;1;A;1;200\r\n2;1;B;1;201;0\r\n"));
    EXPECT_TRUE(ValidateOperationsDirectory());
    EXPECT_TRUE(prompt.Messages().isEmpty());

    WriteOperations(QStringLiteral("1;1;A;1;200\r\n2;1;B;1\r\n3;1\r\n4;1;C;1;202\r\n"));
    EXPECT_FALSE(ValidateOperationsDirectory());
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(IsMessage(messages[0],
                          QStringLiteral("Справочник операций содержит неправильного формата данные!"),
                          QStringLiteral("Ошибка!"), PromptIcon::Warning));

    // The build still goes ahead without the malformed lines.
    prompt.Clear();
    QString path = dir.File(QStringLiteral("out.db"));
    ASSERT_TRUE(Build(&path));
    EXPECT_EQ(Rows(built, QStringLiteral("SELECT oper_id FROM operations ORDER BY oper_id")),
              (QStringList{QStringLiteral("1"), QStringLiteral("4")}));
}

TEST_F(CfgUploadDatabase, ExportWritesTheSameDatabaseIntoTheChosenFile) {
    OpenProject(QStringLiteral("p.kxc"));
    WriteOperations(QStringLiteral("1;1;Приемка;1;200\r\n2;2;Отгрузка;1;201;1\r\n"));
    const QString chosen = dir.File(QStringLiteral("export/p.kxc_db"));
    QDir().mkpath(QFileInfo(chosen).absolutePath());
    prompt.QueueFileName(chosen);
    ASSERT_TRUE(ExportConfiguration(model));

    const auto requests = prompt.FileRequests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].defaultExt, QStringLiteral("kxc_db"));
    EXPECT_EQ(requests[0].initialName, projectPath + QStringLiteral("_db"));
    EXPECT_TRUE(requests[0].overwritePrompt);
    EXPECT_EQ(requests[0].filter, QStringLiteral("БД конфигурации Orvane (*.kxc_db)|*.kxc_db|Все файлы (*.*)|*.*||"));
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].text, QStringLiteral("БД конфигурации экспортирована успешно."));
    EXPECT_EQ(messages[0].icon, PromptIcon::None);

    // The same content as a build of the upload.
    QString reference = dir.File(QStringLiteral("reference.db"));
    ASSERT_TRUE(BuildTerminalDatabase(model, &reference, -1));
    SQLite3::CSQLiteConnection exported;
    exported.OpenConnection(chosen);
    SQLite3::CSQLiteConnection expected;
    expected.OpenConnection(reference);
    ASSERT_EQ(TableNames(exported), TableNames(expected));
    for (const QString& table : TableNames(expected))
        EXPECT_EQ(TableRows(exported, table), TableRows(expected, table)) << table.toStdString();
    EXPECT_EQ(TableRows(exported, QStringLiteral("operations")).size(), 2);
}

TEST_F(CfgUploadDatabase, ExportCancelledFailedOrWithoutConfiguration) {
    // No configuration.
    EXPECT_FALSE(ExportConfiguration(model));
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Не открыта конфигурация!")});
    EXPECT_TRUE(prompt.FileRequests().isEmpty());

    OpenProject(QStringLiteral("p.kxc"));
    prompt.Clear();
    EXPECT_FALSE(ExportConfiguration(model));  // cancelled: nothing said
    EXPECT_TRUE(prompt.Messages().isEmpty());

    // The project file itself is never built over.
    const QByteArray project = ReadFileBytes(projectPath);
    prompt.QueueFileName(projectPath);
    EXPECT_FALSE(ExportConfiguration(model));
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Ошибка экспорта БД конфигурации!")});
    EXPECT_EQ(ReadFileBytes(projectPath), project);

    prompt.Clear();
    const QString folder = dir.File(QStringLiteral("busy"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/inside")));
    prompt.QueueFileName(folder);
    EXPECT_FALSE(ExportConfiguration(model));
    EXPECT_EQ(prompt.Texts(), (QStringList{QStringLiteral("Ошибка перезаписи файла ") + folder,
                                           QStringLiteral("Ошибка экспорта БД конфигурации!")}));
}

}  // namespace
