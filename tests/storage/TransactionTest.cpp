// One transaction on a connection: kept only by Commit, whose failure is
// raised, and rolled back by the destructor otherwise.

#include "storage/SQLiteTransaction.h"
#include "tests/storage/FullDisk.h"
#include "tests/support/SQLiteQuery.h"
#include "tests/support/TestSupport.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

using namespace SQLite3;

namespace {

class Transaction : public ::testing::Test {
protected:
    void SetUp() override {
        db.OpenConnection(dir.File("t.db"));
        db.SetSynchronous(0);
        db.Exec("CREATE TABLE t(a)");
        db.Exec("INSERT INTO t VALUES('kept')");
    }
    QStringList Stored() { return Rows(db, "SELECT a FROM t"); }
    // Enough rows that the file must grow to hold them.
    void InsertMany() {
        for (int i = 0; i < 200; ++i) db.Exec(QStringLiteral("INSERT INTO t VALUES('%1')").arg(QString(200, 'x')));
    }

    CTestDir dir;
    CFullDisk disk;
    CSQLiteConnection db;
};

TEST_F(Transaction, WorkEndedWithoutCommitIsRolledBackAndCommittedWorkStays) {
    {
        CSQLiteTransaction t(db);
        EXPECT_TRUE(t.IsOwner());
        db.Exec("INSERT INTO t VALUES('dropped')");
    }
    EXPECT_FALSE(db.InTransaction());
    EXPECT_EQ(Stored(), QStringList({"kept"}));
    {
        CSQLiteTransaction t(db, CSQLiteTransaction::Lock::Immediate);
        db.Exec("INSERT INTO t VALUES('added')");
        t.Commit();
        EXPECT_FALSE(t.IsOwner());
    }
    EXPECT_EQ(Stored(), QStringList({"kept", "added"}));
}

TEST_F(Transaction, ACommitTheFullDiskRefusesIsRaisedAndKeepsNothing) {
    // The journal in memory, as the working copy keeps it: no statement
    // writes to the disk, COMMIT writes everything.
    Query(db, "PRAGMA journal_mode = MEMORY");
    disk.Fill();
    CSQLiteTransaction t(db);
    InsertMany();  // the pages wait in memory: only COMMIT writes them
    try {
        t.Commit();
        FAIL() << "a commit the disk could not hold went unnoticed";
    } catch (const CSQLiteException& e) {
        EXPECT_EQ(e.ErrorCode() & 0xff, SQLITE_FULL);
        EXPECT_TRUE(e.Message().contains("full")) << e.Message().toStdString();
    }
    EXPECT_GT(disk.RefusedWrites(), 0);
    EXPECT_FALSE(db.InTransaction());
    disk.Free();
    EXPECT_EQ(Stored(), QStringList({"kept"}));
}

TEST_F(Transaction, AnOpenTransactionIsJoinedAndItsOwnerDecides) {
    CSQLiteTransaction outer(db);
    {
        CSQLiteTransaction inner(db);
        EXPECT_FALSE(inner.IsOwner());
        db.Exec("INSERT INTO t VALUES('inner')");
        inner.Commit();
        EXPECT_TRUE(db.InTransaction());
    }
    // The inner one's end rolled nothing back either.
    EXPECT_EQ(Stored(), QStringList({"kept", "inner"}));
    outer.Rollback();
    EXPECT_EQ(Stored(), QStringList({"kept"}));
}

}  // namespace
