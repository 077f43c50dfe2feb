#include "storage/CopyTables.h"
#include "tests/storage/FullDisk.h"
#include "tests/support/SQLiteQuery.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace SQLite3;

namespace {

class CopyTables : public ::testing::Test {
protected:
    void SetUp() override {
        src.OpenConnection(dir.File("src.db"));
        dst.OpenConnection(dir.File("dst.db"));
        src.SetSynchronous(0);
        dst.SetSynchronous(0);
    }
    CTestDir dir;
    CRecordingPrompt recorder;
    CScopedPrompt scope{recorder};
    CSQLiteConnection src, dst;
};

TEST_F(CopyTables, EmptySourceLeavesDestinationUnchanged) {
    dst.Exec("CREATE TABLE keep(a)");
    dst.Exec("INSERT INTO keep VALUES('x')");
    EXPECT_TRUE(CopyAllTables(src, dst));
    EXPECT_EQ(Query(dst, "SELECT a FROM keep").Rows[0][0], "x");
}

TEST_F(CopyTables, ReplacesContentsKeepsDestinationOnlyTablesAndTypes) {
    src.Exec("CREATE TABLE SortOrderOperTypes(n INTEGER, OperType VARCHAR)");
    src.Exec("INSERT INTO SortOrderOperTypes VALUES(1, '2')");
    src.Exec("INSERT INTO SortOrderOperTypes VALUES(2, '10')");
    src.Exec("CREATE TABLE empty(a VARCHAR)");
    dst.Exec("CREATE TABLE SortOrderOperTypes(n INTEGER, OperType VARCHAR)");
    dst.Exec("INSERT INTO SortOrderOperTypes VALUES(7, 'old')");
    dst.Exec("CREATE TABLE empty(a VARCHAR)");
    dst.Exec("INSERT INTO empty VALUES('gone')");
    dst.Exec("CREATE TABLE only_here(a)");
    dst.Exec("INSERT INTO only_here VALUES('stays')");

    ASSERT_TRUE(CopyAllTables(src, dst));
    EXPECT_EQ(Rows(dst, "SELECT n, typeof(n), OperType FROM SortOrderOperTypes"),
              QStringList({"1|integer|2", "2|integer|10"}));
    EXPECT_EQ(Query(dst, "SELECT count(*) FROM empty").Rows[0][0], "0");
    EXPECT_EQ(Query(dst, "SELECT a FROM only_here").Rows[0][0], "stays");
    EXPECT_TRUE(recorder.Messages().isEmpty());
}

TEST_F(CopyTables, NullArrivesAsEmptyTextAndQuotesAndCyrillicArriveExactly) {
    src.Exec("CREATE TABLE ParamsValue(OperTypeID INTEGER, place_id VARCHAR, param_id VARCHAR, value VARCHAR)");
    src.Exec("INSERT INTO ParamsValue VALUES('NULL', 'listparams_operation', 'oper_type', NULL)");
    src.Exec("INSERT INTO ParamsValue VALUES(3, 'listparams_operation', 'oper_type', 'Склад ''А'' O''Brien')");
    ASSERT_TRUE(CopyAllTables(src, dst));
    EXPECT_EQ(Rows(dst, "SELECT OperTypeID, value, value IS NULL FROM ParamsValue"),
              QStringList({"NULL||0", "3|Склад 'А' O'Brien|0"}));
}

TEST_F(CopyTables, FailureHalfWayLeavesDestinationAsItWas) {
    // The second table's CREATE statement cannot run on the destination
    // because a view of that name exists there: the copy fails after the first
    // table has already been replaced.
    src.Exec("CREATE TABLE a(x)");
    src.Exec("INSERT INTO a VALUES('new')");
    src.Exec("CREATE TABLE b(y)");
    src.Exec("INSERT INTO b VALUES('new b')");
    dst.Exec("CREATE TABLE a(x)");
    dst.Exec("INSERT INTO a VALUES('old')");
    dst.Exec("CREATE VIEW b AS SELECT 1");

    EXPECT_FALSE(CopyAllTables(src, dst));
    EXPECT_EQ(Query(dst, "SELECT x FROM a").Rows, QList<QStringList>({{"old"}}));
    ASSERT_EQ(recorder.Messages().size(), 1);
    EXPECT_EQ(recorder.Messages()[0].caption, "Error SQLite.[]");
    EXPECT_TRUE(recorder.Messages()[0].text.startsWith("Function: Exec(prepare): DROP TABLE IF EXISTS"));

    // The destination connection is usable and not left inside a transaction.
    dst.Exec("INSERT INTO a VALUES('after')");
    EXPECT_EQ(Query(dst, "SELECT count(*) FROM a").Rows[0][0], "2");
}

TEST_F(CopyTables, ASaveTheFullDiskCannotTakeLeavesTheDestinationAsItWasAndSaysSo) {
    CFullDisk disk;
    CSQLiteConnection target;
    target.OpenConnection(dir.File("target.kxc"));
    target.SetSynchronous(0);
    target.Exec("CREATE TABLE a(x)");
    target.Exec("INSERT INTO a VALUES('old')");
    src.Exec("CREATE TABLE a(x)");
    for (int i = 0; i < 300; ++i) src.Exec(QStringLiteral("INSERT INTO a VALUES('%1')").arg(QString(200, 'n')));

    disk.Fill();
    EXPECT_FALSE(CopyAllTables(src, target));
    EXPECT_GT(disk.RefusedWrites(), 0);
    ASSERT_EQ(recorder.Messages().size(), 1);
    EXPECT_TRUE(recorder.Messages()[0].text.contains("full")) << recorder.Messages()[0].text.toStdString();
    disk.Free();
    EXPECT_FALSE(target.InTransaction());
    EXPECT_EQ(Rows(target, "SELECT x FROM a"), QStringList({"old"}));
}

TEST_F(CopyTables, CopyIntoAFileOnDiskSurvivesReopening) {
    src.Exec("CREATE TABLE m_mainmenu(id INTEGER,name VARCHAR(50),target VARCHAR(20))");
    src.Exec("INSERT INTO m_mainmenu VALUES(8, 'Настройки', 'm_configmenu')");
    ASSERT_TRUE(CopyAllTables(src, dst));
    dst.CloseConnection();
    CSQLiteConnection again;
    again.OpenConnection(dir.File("dst.db"));
    const CSQLiteTable t = Query(again, "SELECT sql FROM sqlite_master WHERE name = 'm_mainmenu'");
    EXPECT_EQ(t.Rows[0][0], "CREATE TABLE m_mainmenu(id INTEGER,name VARCHAR(50),target VARCHAR(20))");
    EXPECT_EQ(Query(again, "SELECT name, target FROM m_mainmenu").Rows[0],
              QStringList({"Настройки", "m_configmenu"}));
}

TEST_F(CopyTables, LibraryBookkeepingTablesAreNotCopied) {
    src.Exec("CREATE TABLE seq(id INTEGER PRIMARY KEY AUTOINCREMENT, v)");
    src.Exec("INSERT INTO seq(v) VALUES('a')");
    ASSERT_TRUE(CopyAllTables(src, dst));
    EXPECT_EQ(Query(dst, "SELECT v FROM seq").Rows[0][0], "a");
}

}  // namespace
