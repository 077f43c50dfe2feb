#include "storage/CopyTables.h"

namespace SQLite3 {
namespace {

void CopyOneTable(CSQLiteConnection& source, CSQLiteConnection& destination,
                  const QString& name, const QString& createSql) {
    const QString quotedName = QuoteIdentifier(name);
    destination.Exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(quotedName));
    destination.Exec(createSql);

    CSQLiteTable data;
    {
        CSQLiteStatement select(source, QStringLiteral("SELECT * FROM %1").arg(quotedName));
        select.StepAll(&data);
    }
    if (data.RowCount == 0) return;

    // "(c1, c2) VALUES(?, ?)": every value is bound as text, exactly as it
    // was read, so apostrophes and any other character arrive unchanged.
    QStringList columns, placeholders;
    for (const QString& column : data.ColumnNames) {
        columns << QuoteIdentifier(column);
        placeholders << QStringLiteral("?");
    }
    const QString sql = QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                            .arg(quotedName, columns.join(QLatin1String(", ")),
                                 placeholders.join(QLatin1String(", ")));
    CSQLiteStatement insert(destination, sql);
    for (const QStringList& row : data.Rows) {
        for (int c = 0; c < row.size(); ++c) insert.BindText(c + 1, row[c]);
        insert.StepAll();
    }
}

// Keeps one read transaction open on the source for the whole copy, so that
// a save another program commits meanwhile is seen either entirely or not at
// all: without it every table is read in a transaction of its own and a copy
// can mix two saves. A source already inside a transaction is left as it is.
class CReadTransaction {
public:
    explicit CReadTransaction(CSQLiteConnection& db) : m_db(db) {
        if (m_db.InTransaction()) return;
        m_db.Exec(QStringLiteral("BEGIN"));
        m_began = true;
    }
    ~CReadTransaction() {
        if (!m_began) return;
        try {
            m_db.Exec(QStringLiteral("ROLLBACK"));  // nothing was written: only the read lock ends
        } catch (const CSQLiteException&) {
            // The library has already ended it.
        }
    }
    CReadTransaction(const CReadTransaction&) = delete;
    CReadTransaction& operator=(const CReadTransaction&) = delete;

private:
    CSQLiteConnection& m_db;
    bool m_began = false;
};

}  // namespace

QString QuoteIdentifier(const QString& name) {
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

void CopyAllTablesOrThrow(CSQLiteConnection& source, CSQLiteConnection& destination) {
    CReadTransaction snapshot(source);
    CSQLiteTable tables;
    {
        CSQLiteStatement list(source,
                              QStringLiteral("SELECT tbl_name, sql FROM sqlite_master WHERE type = 'table'"));
        list.StepAll(&tables);
    }
    if (tables.RowCount == 0) return;

    // The write lock is taken at once: a transaction that first reads and
    // only later asks for the write lock can find another program's save
    // waiting for its read lock, and one of the two then fails at once
    // instead of waiting its turn.
    destination.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        for (const QStringList& table : tables.Rows) {
            // The library's own bookkeeping tables (sqlite_sequence, ...) are
            // created by the library itself and cannot be created by hand.
            if (table[0].startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive)) continue;
            CopyOneTable(source, destination, table[0], table[1]);
        }
        destination.Exec(QStringLiteral("COMMIT"));
    } catch (const CSQLiteException&) {
        try {
            destination.Exec(QStringLiteral("ROLLBACK"));
        } catch (const CSQLiteException&) {
            // The library has already rolled back on its own.
        }
        throw;
    }
}

bool CopyAllTables(CSQLiteConnection& source, CSQLiteConnection& destination) {
    try {
        CopyAllTablesOrThrow(source, destination);
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

}  // namespace SQLite3
