#pragma once
// One transaction on a connection: begun by the object, kept only by an
// explicit Commit, rolled back by the destructor otherwise.

#include "storage/SQLite3.h"

namespace SQLite3 {

class CSQLiteTransaction {
public:
    enum class Lock {
        // BEGIN: the file is locked by the first statement that needs it.
        Deferred,
        // BEGIN IMMEDIATE: the write lock at once. A transaction that reads
        // first and asks for the write lock later can find another program's
        // save waiting for its read lock; one of the two then fails at once
        // instead of waiting its turn.
        Immediate,
    };

    // Begins a transaction; raises CSQLiteException when BEGIN fails. On a
    // connection already inside a transaction nothing begins: the work joins
    // the open one, whose owner decides, and Commit and Rollback here do
    // nothing. On a connection that is not open nothing begins either (the
    // statements then fail by themselves).
    explicit CSQLiteTransaction(CSQLiteConnection& db, Lock lock = Lock::Deferred);
    // Rolls back what was not committed. Never raises.
    ~CSQLiteTransaction();
    CSQLiteTransaction(const CSQLiteTransaction&) = delete;
    CSQLiteTransaction& operator=(const CSQLiteTransaction&) = delete;

    // Makes the work permanent. Raises CSQLiteException when COMMIT fails (a
    // full disk, a file another program holds): then nothing of the
    // transaction is kept, and the caller must not report the work as done.
    void Commit();
    // Undoes the work now. Never raises.
    void Rollback();
    // Whether this object began the transaction and has not ended it yet.
    bool IsOwner() const { return m_owner; }

private:
    CSQLiteConnection& m_db;
    bool m_owner = false;
};

}  // namespace SQLite3
