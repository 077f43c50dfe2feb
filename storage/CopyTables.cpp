#include "storage/CopyTables.h"

#include "storage/SQLiteTransaction.h"

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

}  // namespace

QString QuoteIdentifier(const QString& name) {
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

void CopyAllTablesOrThrow(CSQLiteConnection& source, CSQLiteConnection& destination) {
    // One read transaction on the source for the whole copy, so that a save
    // another program commits meanwhile is seen either entirely or not at
    // all: without it every table is read in a transaction of its own and a
    // copy can mix two saves. Nothing is written to the source: it ends by
    // rollback, which only gives up the read lock.
    CSQLiteTransaction snapshot(source);
    CSQLiteTable tables;
    {
        CSQLiteStatement list(source,
                              QStringLiteral("SELECT tbl_name, sql FROM sqlite_master WHERE type = 'table'"));
        list.StepAll(&tables);
    }
    if (tables.RowCount == 0) return;

    CSQLiteTransaction copy(destination, CSQLiteTransaction::Lock::Immediate);
    for (const QStringList& table : tables.Rows) {
        // The library's own bookkeeping tables (sqlite_sequence, ...) are
        // created by the library itself and cannot be created by hand.
        if (table[0].startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive)) continue;
        CopyOneTable(source, destination, table[0], table[1]);
    }
    copy.Commit();
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
