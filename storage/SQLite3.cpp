#include "storage/SQLite3.h"

#include "platform/Clock.h"
#include "platform/Prompt.h"

#include <sqlite3.h>

namespace SQLite3 {
namespace {

constexpr int kMessageLimit = 4096;

bool StepSucceeded(int rc) { return rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE; }

const void* Utf16(const QString& text) { return text.utf16(); }

QString FromUtf16(const void* text) {
    return text ? QString::fromUtf16(static_cast<const char16_t*>(text)) : QString();
}

// Raises with the connection's own message. The caller still holds `lock` and
// this releases it first, so no exception ever leaves with the lock held.
[[noreturn]] void Raise(std::unique_lock<std::mutex>& lock, const CSQLiteConnection& connection,
                        int rc, const QString& function) {
    const QString message = connection.ErrorMessage();
    lock.unlock();
    throw CSQLiteException(rc, message, function);
}

// The same for a statement that failed to run: the message is read before the
// statement is finalized, which would replace it.
[[noreturn]] void RaiseFinalizing(std::unique_lock<std::mutex>& lock, const CSQLiteConnection& connection,
                                  sqlite3_stmt* stmt, int rc, const QString& function) {
    const QString message = connection.ErrorMessage();
    sqlite3_finalize(stmt);
    lock.unlock();
    throw CSQLiteException(rc, message, function);
}

}  // namespace

QString CSQLiteException::Text() const {
    return QStringLiteral("Function: %1\nErrCode: %2\n\nMessage:\n%3")
        .arg(m_function, QString::number(m_errorCode), m_message);
}

QString CSQLiteException::Caption(const QString& captionArgument) {
    return QStringLiteral("Error SQLite.[%1]").arg(captionArgument);
}

void CSQLiteException::Show(const QString& captionArgument) const {
    Prompt().Error(Text(), Caption(captionArgument));
}

QString Quote(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return quoted;
}

// ---------------------------------------------------------------- connection

CSQLiteConnection::CSQLiteConnection(const QString&) {}

CSQLiteConnection::~CSQLiteConnection() {
    if (m_open) {
        try {
            CloseConnection();
        } catch (const CSQLiteException&) {
            // A statement still open keeps the database busy; close it anyway
            // when the last statement goes.
            std::lock_guard guard(m_lock);
            sqlite3_close_v2(m_db);
        }
    }
}

QString CSQLiteConnection::ErrorMessage() const {
    if (!m_db) return QStringLiteral("Неизвестная ошибка!");
    return QString::fromUtf8(sqlite3_errmsg(m_db)).left(kMessageLimit);
}

void CSQLiteConnection::OpenConnection(const QString& path) {
    if (m_open)
        throw CSQLiteException(-1, QStringLiteral("Error! Connection is already openned!"),
                               QStringLiteral("OpenConnection"));
    std::unique_lock lock(m_lock);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open16(Utf16(path), &db);
    if (rc != SQLITE_OK) {
        // The library hands back a handle even on failure; keep it only for
        // its message, then free it.
        m_db = db;
        const QString message = ErrorMessage();
        sqlite3_close(db);
        m_db = nullptr;
        lock.unlock();
        throw CSQLiteException(rc, message, QStringLiteral("OpenConnection"));
    }
    // Two program instances may work on one project: a statement that finds
    // the file held by the other waits for it instead of failing at once.
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    m_db = db;
    lock.unlock();
    m_open = true;
}

bool CSQLiteConnection::InTransaction() {
    if (!m_open) return false;
    std::lock_guard guard(m_lock);
    return sqlite3_get_autocommit(m_db) == 0;
}

bool CSQLiteConnection::HasFileMoved() {
    if (!m_open) return false;
    std::lock_guard guard(m_lock);
    int moved = 0;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK) return false;
    return moved != 0;
}

void CSQLiteConnection::CloseConnection() {
    if (!m_open)
        throw CSQLiteException(-1, QStringLiteral("Error! Connection is not openned!"),
                               QStringLiteral("CloseConnection"));
    std::unique_lock lock(m_lock);
    const int rc = sqlite3_close(m_db);
    if (rc != SQLITE_OK) Raise(lock, *this, rc, QStringLiteral("CloseConnection"));
    m_db = nullptr;
    lock.unlock();
    m_open = false;
}

void CSQLiteConnection::Exec(const QString& sql) {
    std::unique_lock lock(m_lock);
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare16_v2(m_db, Utf16(sql), -1, &stmt, nullptr);
    if (rc != SQLITE_OK) Raise(lock, *this, rc, QStringLiteral("Exec(prepare): ") + sql);
    if (!stmt) {  // only blanks or a comment: nothing to run
        return;
    }
    rc = sqlite3_step(stmt);
    if (!StepSucceeded(rc)) RaiseFinalizing(lock, *this, stmt, rc, QStringLiteral("Exec(step): ") + sql);
    rc = sqlite3_reset(stmt);
    if (!StepSucceeded(rc)) RaiseFinalizing(lock, *this, stmt, rc, QStringLiteral("Exec(reset): ") + sql);
    rc = sqlite3_finalize(stmt);
    if (rc != SQLITE_OK) Raise(lock, *this, rc, QStringLiteral("Exec(finalize): ") + sql);
}

void CSQLiteConnection::SetSynchronous(int mode) {
    switch (mode) {
    case 0: Exec(QStringLiteral("PRAGMA synchronous = OFF;")); break;
    case 1: Exec(QStringLiteral("PRAGMA synchronous = NORMAL;")); break;
    case 2: Exec(QStringLiteral("PRAGMA synchronous = FULL;")); break;
    default: break;
    }
}

void CSQLiteConnection::DistrustSchema() {
    if (!m_open) return;
    std::lock_guard guard(m_lock);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
}

// ------------------------------------------------------------------ deadline

namespace {
// How many virtual-machine steps run between two looks at the clock: often
// enough to stop within milliseconds, rarely enough to cost nothing.
constexpr int kDeadlineCheckSteps = 1000;
}  // namespace

CStatementDeadline::CStatementDeadline(CSQLiteConnection& connection, std::int64_t deadlineMs)
    : m_connection(connection), m_deadlineMs(deadlineMs) {
    std::lock_guard guard(m_connection.Lock());
    if (m_connection.Handle()) sqlite3_progress_handler(m_connection.Handle(), kDeadlineCheckSteps, &Expired, this);
}

CStatementDeadline::~CStatementDeadline() {
    std::lock_guard guard(m_connection.Lock());
    if (m_connection.Handle()) sqlite3_progress_handler(m_connection.Handle(), 0, nullptr, nullptr);
}

int CStatementDeadline::Expired(void* self) {
    return Clock().NowMs() >= static_cast<CStatementDeadline*>(self)->m_deadlineMs ? 1 : 0;
}

// ----------------------------------------------------------------- statement

CSQLiteStatement::CSQLiteStatement(CSQLiteConnection& connection, const QString& sql)
    : m_connection(connection), m_sql(sql) {
    std::unique_lock lock(m_connection.Lock());
    const int rc = sqlite3_prepare16_v2(m_connection.Handle(), Utf16(sql), -1, &m_stmt, nullptr);
    if (rc != SQLITE_OK) Raise(lock, m_connection, rc, QStringLiteral("Constructor: Create statement"));
    if (!m_stmt) {
        // Blank SQL prepares to nothing; treat it as the misuse it is.
        lock.unlock();
        throw CSQLiteException(SQLITE_MISUSE, QStringLiteral("Empty SQL statement"),
                               QStringLiteral("Constructor: Create statement"));
    }
    m_prepared = true;
}

CSQLiteStatement::~CSQLiteStatement() {
    if (m_prepared) {
        std::lock_guard guard(m_connection.Lock());
        sqlite3_finalize(m_stmt);
    }
}

void CSQLiteStatement::BindText(int index, const QString& text) {
    std::unique_lock lock(m_connection.Lock());
    // SQLITE_TRANSIENT: the library keeps its own copy, so a temporary text
    // bound here can never be read after it is gone.
    const void* value = text.isNull() ? static_cast<const void*>(u"") : Utf16(text);
    const int rc = sqlite3_bind_text16(m_stmt, index, value, -1, SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) Raise(lock, m_connection, rc, QStringLiteral("BindText"));
}

void CSQLiteStatement::BindInt(int index, int value) {
    std::unique_lock lock(m_connection.Lock());
    const int rc = sqlite3_bind_int(m_stmt, index, value);
    if (rc != SQLITE_OK) Raise(lock, m_connection, rc, QStringLiteral("BindInt"));
}

void CSQLiteStatement::BindNull(int index) {
    std::unique_lock lock(m_connection.Lock());
    const int rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK) Raise(lock, m_connection, rc, QStringLiteral("BindNull"));
}

void CSQLiteStatement::StepAll() {
    std::unique_lock lock(m_connection.Lock());
    int rc = sqlite3_step(m_stmt);
    if (!StepSucceeded(rc)) {
        const QString message = m_connection.ErrorMessage();
        sqlite3_reset(m_stmt);  // ready for the next attempt
        lock.unlock();
        throw CSQLiteException(rc, message, QStringLiteral("StepAll()"));
    }
    rc = sqlite3_reset(m_stmt);
    if (!StepSucceeded(rc)) Raise(lock, m_connection, rc, QStringLiteral("StepAll()"));
}

void CSQLiteStatement::StepAll(CSQLiteTable* table) {
    table->Clear();
    std::unique_lock lock(m_connection.Lock());
    int columns = 0;
    int rows = 0;
    for (bool first = true;; first = false) {
        const int rc = sqlite3_step(m_stmt);
        if (!StepSucceeded(rc)) {
            const QString message = m_connection.ErrorMessage();
            sqlite3_reset(m_stmt);
            lock.unlock();
            throw CSQLiteException(rc, message, QStringLiteral("StepAll(&table)"));
        }
        if (first) {
            columns = sqlite3_column_count(m_stmt);
            for (int c = 0; c < columns; ++c)
                table->ColumnNames.append(FromUtf16(sqlite3_column_name16(m_stmt, c)));
        }
        if (rc == SQLITE_ROW) {
            QStringList row;
            row.reserve(columns);
            for (int c = 0; c < columns; ++c) {
                const void* text = sqlite3_column_text16(m_stmt, c);
                row.append(text ? FromUtf16(text) : QString(QLatin1String("")));
            }
            table->Rows.append(std::move(row));
            ++rows;
            continue;
        }
        const int resetRc = sqlite3_reset(m_stmt);
        if (!StepSucceeded(resetRc)) Raise(lock, m_connection, resetRc, QStringLiteral("StepAll(&table)"));
        break;
    }
    lock.unlock();
    table->ColCount = columns;
    table->RowCount = rows;
}

}  // namespace SQLite3
