#pragma once
// Small helpers shared by the files of the configuration model.

#include "config/SqlText.h"
#include "storage/SQLite3.h"

#include <QString>

namespace ConfigInternal {

inline const QString kNull = QStringLiteral("NULL");
inline const QString kOperationNode = QStringLiteral("__OPERATION");
inline const QString kOperationList = QStringLiteral("listparams_operation");
inline const QString kOperTypeParam = QStringLiteral("oper_type");

// Runs a query and returns its whole result.
inline SQLite3::CSQLiteTable Query(SQLite3::CSQLiteConnection& db, const QString& sql) {
    SQLite3::CSQLiteTable table;
    SQLite3::CSQLiteStatement statement(db, sql);
    statement.StepAll(&table);
    return table;
}

// A cell by position; the empty text for a missing one, so a template table
// with fewer columns than expected reads as empty cells instead of failing.
inline QString Cell(const QStringList& row, int column) {
    return column < row.size() ? row[column] : QString(QLatin1String(""));
}

// Raises when a template table lacks the columns the default walks read by
// position (default_value at 3, param_id at 5).
void RequireColumns(const SQLite3::CSQLiteTable& table, int count, const QString& tableName);

}  // namespace ConfigInternal
