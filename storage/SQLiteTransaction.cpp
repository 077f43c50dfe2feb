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
    m_owner = false;
    try {
        m_db.Exec(QStringLiteral("COMMIT"));
    } catch (const CSQLiteException&) {
        // A failed COMMIT may leave the transaction open (a busy file): it is
        // ended here, so that no later statement commits it by accident.
        try {
            if (m_db.InTransaction()) m_db.Exec(QStringLiteral("ROLLBACK"));
        } catch (const CSQLiteException&) {
            // The library has ended it on its own.
        }
        throw;
    }
}

void CSQLiteTransaction::Rollback() {
    if (!m_owner) return;
    m_owner = false;
    try {
        m_db.Exec(QStringLiteral("ROLLBACK"));
    } catch (const CSQLiteException&) {
        // The library has already ended it (after a failed statement).
    }
}

}  // namespace SQLite3
