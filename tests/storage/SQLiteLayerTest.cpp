#include "storage/SQLite3.h"
#include "tests/support/SQLiteQuery.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using namespace SQLite3;

namespace {

class SQLiteLayer : public ::testing::Test {
protected:
    void SetUp() override {
        db.OpenConnection(dir.File("t.db"));
        db.SetSynchronous(0);
        db.Exec("CREATE TABLE t(id INTEGER, name VARCHAR, note VARCHAR)");
    }
    CSQLiteTable Query(const QString& sql) { return ::Query(db, sql); }
    CTestDir dir;
    CSQLiteConnection db;
};

TEST_F(SQLiteLayer, EmptyResultKeepsItsColumns) {
    const CSQLiteTable t = Query("SELECT id, name AS n, note FROM t");
    EXPECT_EQ(t.RowCount, 0);
    EXPECT_EQ(t.ColCount, 3);
    EXPECT_EQ(t.ColumnNames, QStringList({"id", "n", "note"}));
    EXPECT_TRUE(t.Rows.isEmpty());
}

TEST_F(SQLiteLayer, ValuesReadAsTextNullAsEmpty) {
    db.Exec("INSERT INTO t VALUES(42, NULL, 'Склад ''А''')");
    const CSQLiteTable t = Query("SELECT * FROM t");
    ASSERT_EQ(t.RowCount, 1);
    EXPECT_EQ(t.Rows[0], QStringList({"42", "", "Склад 'А'"}));
    EXPECT_FALSE(t.Rows[0][1].isNull());
}

TEST_F(SQLiteLayer, ExecOfASelectProducesNothing) {
    db.Exec("INSERT INTO t VALUES(1, 'a', 'b')");
    EXPECT_NO_THROW(db.Exec("SELECT * FROM t"));
    EXPECT_EQ(Query("SELECT count(*) FROM t").Rows[0][0], "1");
}

TEST_F(SQLiteLayer, MisuseOfOpenAndCloseRaisesMinusOne) {
    try {
        db.OpenConnection(dir.File("other.db"));
        FAIL() << "second open must raise";
    } catch (const CSQLiteException& e) {
        EXPECT_EQ(e.ErrorCode(), -1);
        EXPECT_EQ(e.Message(), "Error! Connection is already openned!");
        EXPECT_EQ(e.Function(), "OpenConnection");
    }
    // The first database is still the open one.
    db.Exec("INSERT INTO t VALUES(1, 'a', 'b')");
    EXPECT_EQ(Query("SELECT name FROM t").Rows[0][0], "a");

    db.CloseConnection();
    EXPECT_FALSE(db.IsOpen());
    try {
        db.CloseConnection();
        FAIL() << "second close must raise";
    } catch (const CSQLiteException& e) {
        EXPECT_EQ(e.ErrorCode(), -1);
        EXPECT_EQ(e.Message(), "Error! Connection is not openned!");
        EXPECT_EQ(e.Function(), "CloseConnection");
    }
    db.OpenConnection(dir.File("t.db"));  // may be opened again
    EXPECT_EQ(Query("SELECT count(*) FROM t").Rows[0][0], "1");
}

TEST_F(SQLiteLayer, FailuresCarryFunctionTextCodeAndLibraryMessage) {
    try {
        db.Exec("INSERT INTO nowhere VALUES(1)");
        FAIL();
    } catch (const CSQLiteException& e) {
        EXPECT_EQ(e.Function(), "Exec(prepare): INSERT INTO nowhere VALUES(1)");
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_EQ(e.Message(), "no such table: nowhere");
    }
    try {
        CSQLiteStatement st(db, "SELEC nonsense");
        FAIL();
    } catch (const CSQLiteException& e) {
        EXPECT_EQ(e.Function(), "Constructor: Create statement");
        EXPECT_TRUE(e.Message().contains("syntax error"));
    }
    db.Exec("CREATE TABLE u(x INTEGER NOT NULL)");
    try {
        db.Exec("INSERT INTO u VALUES(NULL)");
        FAIL();
    } catch (const CSQLiteException& e) {
        EXPECT_EQ(e.Function(), "Exec(step): INSERT INTO u VALUES(NULL)");
        EXPECT_EQ(e.ErrorCode() & 0xff, 19);  // constraint
    }
    CSQLiteStatement bind(db, "INSERT INTO t VALUES(?, ?, ?)");
    EXPECT_THROW(bind.BindInt(9, 1), CSQLiteException);
    try {
        bind.BindText(0, "x");
        FAIL() << "a parameter index of 0 was taken";
    } catch (const CSQLiteException& e) {
        EXPECT_EQ(e.Function(), "BindText");
        EXPECT_EQ(e.ErrorCode(), 25);  // range
    }
}

TEST_F(SQLiteLayer, LockIsFreeAfterAFailedStepAll) {
    db.Exec("CREATE TABLE u(x INTEGER NOT NULL)");
    CSQLiteStatement bad(db, "INSERT INTO u VALUES(NULL)");
    CSQLiteTable table;
    try {
        bad.StepAll(&table);
        FAIL();
    } catch (const CSQLiteException& e) {
        EXPECT_EQ(e.Function(), "StepAll(&table)");
    }
    // The lock must not be held: another thread gets it at once.
    bool locked = false;
    std::thread other([&] {
        locked = db.Lock().try_lock();
        if (locked) db.Lock().unlock();
    });
    other.join();
    EXPECT_TRUE(locked);
    db.Exec("INSERT INTO t VALUES(1, 'still', 'works')");
    EXPECT_EQ(Query("SELECT name FROM t").Rows[0][0], "still");
}

TEST_F(SQLiteLayer, StepAllOnceIsReusableForRepeatedInserts) {
    CSQLiteStatement insert(db, "INSERT INTO t(id, name, note) VALUES(?, ?, ?)");
    for (int i = 1; i <= 3; ++i) {
        insert.BindInt(1, i);
        insert.BindText(2, QString("имя %1").arg(i));
        insert.BindText(3, QString("O'Brien"));
        insert.StepAll();
    }
    const CSQLiteTable t = Query("SELECT id, name, note FROM t ORDER BY id");
    ASSERT_EQ(t.RowCount, 3);
    EXPECT_EQ(t.Rows[2], QStringList({"3", "имя 3", "O'Brien"}));
    try {
        CSQLiteStatement failing(db, "INSERT INTO t(id) SELECT abs(-9223372036854775807 - 1)");
        failing.StepAll();
        FAIL();
    } catch (const CSQLiteException& e) {
        EXPECT_EQ(e.Function(), "StepAll()");
    }
}

TEST_F(SQLiteLayer, SetSynchronousModes) {
    db.SetSynchronous(2);
    EXPECT_EQ(Query("PRAGMA synchronous").Rows[0][0], "2");
    db.SetSynchronous(3);  // nothing
    EXPECT_EQ(Query("PRAGMA synchronous").Rows[0][0], "2");
    db.SetSynchronous(1);
    EXPECT_EQ(Query("PRAGMA synchronous").Rows[0][0], "1");
    db.SetSynchronous(0);
    EXPECT_EQ(Query("PRAGMA synchronous").Rows[0][0], "0");
}

TEST(SQLiteException, DefaultsTextAndShowThroughThePrompt) {
    const CSQLiteException plain;
    EXPECT_EQ(plain.ErrorCode(), -1);
    EXPECT_EQ(plain.Message(), "Неизвестная ошибка!");
    EXPECT_EQ(plain.Function(), "Неизвестная функция");

    CRecordingPrompt recorder;
    CScopedPrompt scope(recorder);
    CSQLiteException(1, "no such table: x", "Exec(prepare): SELECT").Show("OpenConfigFile");
    ASSERT_EQ(recorder.Messages().size(), 1);
    EXPECT_TRUE(IsMessage(recorder.Messages()[0],
                          "Function: Exec(prepare): SELECT\nErrCode: 1\n\nMessage:\nno such table: x",
                          "Error SQLite.[OpenConfigFile]", PromptIcon::Error));
}

TEST(SQLiteConnection, OpeningANonDatabaseFailsOnFirstUse) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write("junk.kxc", QByteArray(4096, 'x')));
    CSQLiteConnection db;
    db.OpenConnection(dir.File("junk.kxc"));
    EXPECT_THROW(db.Exec("SELECT * FROM sqlite_master"), CSQLiteException);
    EXPECT_EQ(dir.Read("junk.kxc"), QByteArray(4096, 'x'));
}

TEST(SQLiteConnection, OpenFailureLeavesItClosed) {
    CSQLiteConnection db;
    EXPECT_THROW(db.OpenConnection("/no/such/folder/x.db"), CSQLiteException);
    EXPECT_FALSE(db.IsOpen());
}

}  // namespace
