#pragma once
// The program's SQLite access layer: a connection that serialises every library
// call on it, a prepared statement, a result materialised as text, and one
// exception type raised by every failing call. Text crosses the library
// interface as UTF-16.

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <mutex>

struct sqlite3;
struct sqlite3_stmt;

namespace SQLite3 {

class CSQLiteException {
public:
    CSQLiteException() = default;
    CSQLiteException(int errorCode, QString message, QString function)
        : m_errorCode(errorCode), m_message(std::move(message)), m_function(std::move(function)) {}

    int ErrorCode() const { return m_errorCode; }
    const QString& Message() const { return m_message; }
    const QString& Function() const { return m_function; }

    // "Function: %s\nErrCode: %i\n\nMessage:\n%s"
    QString Text() const;
    // "Error SQLite.[%s]"
    static QString Caption(const QString& captionArgument);
    // A modal error box through the process prompt, with no owner window.
    void Show(const QString& captionArgument) const;

private:
    int m_errorCode = -1;
    QString m_message = QStringLiteral("Неизвестная ошибка!");
    QString m_function = QStringLiteral("Неизвестная функция");
};

// A whole result: column names and rows of texts (SQL NULL reads as "").
struct CSQLiteTable {
    int RowCount = 0;
    int ColCount = 0;
    QStringList ColumnNames;
    QList<QStringList> Rows;

    void Clear() {
        RowCount = 0;
        ColCount = 0;
        ColumnNames.clear();
        Rows.clear();
    }
};

// How long a statement waits for another connection or program that holds
// the database file before it fails with "database is locked".
inline constexpr int kBusyTimeoutMs = 3000;

class CSQLiteConnection {
public:
    // The library is linked into the program; the name is kept for callers
    // that still pass the library file they once loaded.
    explicit CSQLiteConnection(const QString& libraryFile = QStringLiteral("sqlite_dll.dll"));
    ~CSQLiteConnection();
    CSQLiteConnection(const CSQLiteConnection&) = delete;
    CSQLiteConnection& operator=(const CSQLiteConnection&) = delete;

    bool IsLibraryLoaded() const { return true; }
    void OpenConnection(const QString& path);
    void CloseConnection();
    bool IsOpen() const { return m_open; }
    // Inside a transaction begun on this connection (BEGIN without its end).
    bool InTransaction();
    // The file this connection has open is no longer the file at its path:
    // deleted, renamed or replaced by another program since it was opened.
    // Writing then only goes into the orphaned file (or fails), never to the path.
    bool HasFileMoved();
    // Prepares, steps once, resets and finalizes one statement.
    void Exec(const QString& sql);
    // 0 OFF, 1 NORMAL, 2 FULL; anything else does nothing.
    void SetSynchronous(int mode);
    // For a database that comes from outside (a project someone sent): the
    // functions its schema names are not run from views or triggers, and
    // statements cannot write into the library's own structures.
    void DistrustSchema();

    // For the statement class and for code that must call the library directly
    // under the connection's lock.
    sqlite3* Handle() const { return m_db; }
    std::mutex& Lock() { return m_lock; }
    // The connection's current error message as text (the caller holds the lock).
    QString ErrorMessage() const;

private:
    sqlite3* m_db = nullptr;
    bool m_open = false;
    std::mutex m_lock;
};

class CSQLiteStatement {
public:
    CSQLiteStatement(CSQLiteConnection& connection, const QString& sql);
    ~CSQLiteStatement();
    CSQLiteStatement(const CSQLiteStatement&) = delete;
    CSQLiteStatement& operator=(const CSQLiteStatement&) = delete;

    // 1-based parameter index. The text is copied by the library, so the caller
    // may release it at once.
    void BindText(int index, const QString& text);
    void BindInt(int index, int value);
    // Binds SQL NULL.
    void BindNull(int index);
    // Steps exactly once (a produced row is discarded), then resets.
    void StepAll();
    // Steps to completion, collecting every row; then resets.
    void StepAll(CSQLiteTable* table);

    const QString& Sql() const { return m_sql; }

private:
    CSQLiteConnection& m_connection;
    sqlite3_stmt* m_stmt = nullptr;
    QString m_sql;
    bool m_prepared = false;
};

// Stops every statement on a connection that is still running when the
// process clock (platform/Clock.h) reaches `deadlineMs`: it then fails with
// SQLITE_INTERRUPT (9). A file that would keep a statement busy without limit
// is refused instead of hanging the program. Ends with the object.
class CStatementDeadline {
public:
    CStatementDeadline(CSQLiteConnection& connection, std::int64_t deadlineMs);
    ~CStatementDeadline();
    CStatementDeadline(const CStatementDeadline&) = delete;
    CStatementDeadline& operator=(const CStatementDeadline&) = delete;

private:
    static int Expired(void* self);
    CSQLiteConnection& m_connection;
    std::int64_t m_deadlineMs;
};

// Doubles every apostrophe so that a text can stand between apostrophes in SQL.
QString Quote(const QString& text);

}  // namespace SQLite3
