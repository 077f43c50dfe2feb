#pragma once
// Reading what a database holds, for checks: a whole result, its first cell,
// its rows as texts. A statement that fails throws, as in the program.

#include "storage/SQLite3.h"

#include <QString>
#include <QStringList>

inline SQLite3::CSQLiteTable Query(SQLite3::CSQLiteConnection& db, const QString& sql) {
    SQLite3::CSQLiteTable table;
    SQLite3::CSQLiteStatement(db, sql).StepAll(&table);
    return table;
}

// The first cell of a query, "" when it returns no row.
inline QString Scalar(SQLite3::CSQLiteConnection& db, const QString& sql) {
    const SQLite3::CSQLiteTable table = Query(db, sql);
    return table.RowCount > 0 ? table.Rows[0][0] : QString();
}

// The first cell of a query on the database file at `path`.
inline QString Scalar(const QString& path, const QString& sql) {
    SQLite3::CSQLiteConnection db;
    db.OpenConnection(path);
    return Scalar(db, sql);
}

// Every row of a query joined as "a|b" texts.
inline QStringList Rows(SQLite3::CSQLiteConnection& db, const QString& sql) {
    QStringList rows;
    for (const QStringList& row : Query(db, sql).Rows) rows << row.join(QLatin1Char('|'));
    return rows;
}
