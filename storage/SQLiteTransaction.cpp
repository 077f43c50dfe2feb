#include "storage/SQLiteTransaction.h"

namespace SQLite3 {

CSQLiteTransaction::CSQLiteTransaction(CSQLiteConnection& db, Lock lock) : m_db(db) {
    if (!m_db.IsOpen() || m_db.InTransaction()) return;
    m_db.Exec(lock == Lock::Immediate ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
    m_owner = true;
}

CSQLiteTransaction::~CSQLiteTransaction() { Rollback(); }

void CSQLiteTransaction::Commit() {
    if (!m_owner) return;
    try {
        m_db.Exec(QStringLiteral("COMMIT"));
        m_owner = false;
    } catch (const CSQLiteException&) {
        // A failed COMMIT may leave the transaction open (a busy file): it is
        // ended here, so that no later statement commits it by accident.
        Rollback();
        throw;
    }
}

void CSQLiteTransaction::Rollback() {
    if (!m_owner) return;
    m_owner = false;
    try {
        // After a failed statement or COMMIT the library may have ended it.
        if (m_db.InTransaction()) m_db.Exec(QStringLiteral("ROLLBACK"));
    } catch (const CSQLiteException&) {
        // Nothing is left to undo that the library has not undone.
    }
}

}  // namespace SQLite3
