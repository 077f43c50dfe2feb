#pragma once
// Small helpers shared by the files of the configuration model.

#include "config/SqlText.h"
#include "storage/SQLite3.h"
#include "storage/SQLiteTransaction.h"

#include <QString>

#include <vector>

namespace ConfigInternal {

inline const QString kNull = QStringLiteral("NULL");
inline const QString kOperationNode = QStringLiteral("__OPERATION");
inline const QString kOperationList = QStringLiteral("listparams_operation");
inline const QString kOperTypeParam = QStringLiteral("oper_type");

// The operation types with their names, in the order the user gave them.
inline const QString kOperationTypesInOrder = QStringLiteral(
    "SELECT pv.OperTypeID, pv.value FROM ParamsValue pv JOIN SortOrderOperTypes soo ON pv.OperTypeID = "
    "soo.OperType WHERE pv.param_id = 'oper_type' ORDER BY soo.n ");

// Runs a query and returns its whole result.
inline SQLite3::CSQLiteTable Query(SQLite3::CSQLiteConnection& db, const QString& sql) {
    SQLite3::CSQLiteTable table;
    SQLite3::CSQLiteStatement statement(db, sql);
    statement.StepAll(&table);
    return table;
}

// Runs a query for its first row only (every lookup of the model uses the first
// matching row): stops stepping there instead of reading every match. False
// when there is no row. Raises like the statement class does.
bool QueryFirstRow(SQLite3::CSQLiteConnection& db, const QString& sql, QStringList* row);

// One row of a template's page table: the page, the table of its child
// pages, the table of its parameters and its caption (the empty text where a
// column is missing).
struct TemplateNode {
    QString name;
    QString children;
    QString listTable;
    QString caption;
};

// The rows of the page table `nodeTable`. Raises like the statement class does.
std::vector<TemplateNode> ReadTemplateNodes(SQLite3::CSQLiteConnection& templateDb, const QString& nodeTable);

// The first cell of the first row of a query, into `cell` when given. False
// when there is no row or the statement failed; a failure is shown to the user.
bool ShownLookup(SQLite3::CSQLiteConnection& db, const QString& sql, QString* cell);

// Commits `transaction`; a failed commit is shown to the user and gives false.
// For walks whose own failures are shown by the level that failed.
bool CommitShown(SQLite3::CSQLiteTransaction& transaction);

// A cell by position; the empty text for a missing one, so a template table
// with fewer columns than expected reads as empty cells instead of failing.
inline QString Cell(const QStringList& row, int column) {
    return column < row.size() ? row[column] : QString(QLatin1String(""));
}

// The types of a template's parameter, as its "type" column names them.
// Values of the plain types are stored and shown as they are; a combo box
// stores the id of its choice in its source table and shows the choice's name.
enum class ParamType { Text, MultilineText, Integer, Path, Combobox, Unknown };
ParamType ParseParamType(const QString& type);
inline bool IsPlainParamType(ParamType type) {
    return type == ParamType::Text || type == ParamType::MultilineText || type == ParamType::Integer ||
           type == ParamType::Path;
}

// The text the stored `value` of a parameter shows as (in the parameter list
// and in the printed report): the value of a plain type, the name of a combo
// box's choice looked up in `sourceTable` of the template. False, with an empty
// text, for an unknown type or a choice the source table does not have.
bool ShownParamValue(SQLite3::CSQLiteConnection& templateDb, ParamType type, const QString& sourceTable,
                     const QString& value, QString* shown);

// Raises when a template table lacks the columns the default walks read by
// position (default_value at 3, param_id at 5).
void RequireColumns(const SQLite3::CSQLiteTable& table, int count, const QString& tableName);

}  // namespace ConfigInternal
