// The project tables, the rows of a new configuration, the walks that fill in
// parameter values from the template's defaults, and the small lookups.

#include "config/ConfigInternal.h"
#include "config/ConfigModel.h"
#include "config/ProjectTables.h"
#include "platform/LeadingInteger.h"

using namespace SQLite3;
using namespace ConfigInternal;
using ConfigSql::Format;

#include <sqlite3.h>


namespace ConfigInternal {

bool QueryFirstRow(CSQLiteConnection& db, const QString& sql, QStringList* row) {
    std::unique_lock lock(db.Lock());
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare16_v2(db.Handle(), sql.utf16(), -1, &stmt, nullptr);
    if (rc != SQLITE_OK || !stmt) {
        const QString message = rc != SQLITE_OK ? db.ErrorMessage() : QStringLiteral("Empty SQL statement");
        lock.unlock();
        throw CSQLiteException(rc != SQLITE_OK ? rc : SQLITE_MISUSE, message,
                               QStringLiteral("Constructor: Create statement"));
    }
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW && row) {
        row->clear();
        const int columns = sqlite3_column_count(stmt);
        for (int c = 0; c < columns; ++c) {
            const void* text = sqlite3_column_text16(stmt, c);
            row->append(text ? QString::fromUtf16(static_cast<const char16_t*>(text)) : QString(QLatin1String("")));
        }
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        const QString message = db.ErrorMessage();
        sqlite3_finalize(stmt);
        lock.unlock();
        throw CSQLiteException(rc, message, QStringLiteral("StepAll(&table)"));
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_ROW;
}

std::vector<TemplateNode> ReadTemplateNodes(CSQLiteConnection& templateDb, const QString& nodeTable) {
    const CSQLiteTable table = Query(templateDb, Format(u"SELECT * FROM %s", {nodeTable}));
    std::vector<TemplateNode> nodes;
    nodes.reserve(static_cast<size_t>(table.RowCount));
    for (const QStringList& row : table.Rows) nodes.push_back({Cell(row, 0), Cell(row, 1), Cell(row, 2), Cell(row, 3)});
    return nodes;
}

bool ShownLookup(CSQLiteConnection& db, const QString& sql, QString* cell) {
    try {
        QStringList row;
        if (!QueryFirstRow(db, sql, &row)) return false;
        if (cell) *cell = row[0];
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

bool CommitShown(CSQLiteTransaction& transaction) {
    try {
        transaction.Commit();
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

void RequireColumns(const CSQLiteTable& table, int count, const QString& tableName) {
    if (table.ColCount >= count || table.RowCount == 0) return;
    throw CSQLiteException(
        -1,
        QStringLiteral("Таблица %1 шаблона содержит %2 столбцов, нужно не меньше %3.")
            .arg(tableName)
            .arg(table.ColCount)
            .arg(count),
        QStringLiteral("SELECT * FROM ") + tableName);
}

}  // namespace ConfigInternal

namespace {

struct MenuPointName {
    int id;
    const char16_t* name;
};

// Inserted in this order (7 before 6): the order the terminal has always had.
constexpr MenuPointName kChoiceNames[] = {
    {1, u"Операции"},   {2, u"Исполнители"}, {3, u"Адреса"},      {4, u"Документы"},
    {5, u"Товары"},     {7, u"Информация"},  {6, u"Журнал"},      {8, u"Настройки"},
    {9, u"Удаление шк"}, {10, u"Отчет факт/план"},
};

// Point 9 is not on the default menu.
constexpr int kDefaultMenu[] = {1, 2, 3, 4, 5, 6, 7, 8, 10};

const QString kInsertValue = QStringLiteral(
    "INSERT INTO ParamsValue(OperTypeID, place_id, param_id, value) VALUES('%s', '%s', '%s', '%s')");

}  // namespace

CConfigModel::CConfigModel() = default;

CConfigModel::~CConfigModel() {
    try {
        Close();
    } catch (...) {
        // Closing at the end of the run must never throw out of a destructor.
    }
}

bool CConfigModel::IsLibraryLoaded() const {
    return m_template.IsLibraryLoaded() && m_working.IsLibraryLoaded();
}

bool CConfigModel::CreateSchema() {
    // Thousands of statements: one file lock for all of them, not one each.
    CSQLiteTransaction templateBatch(m_template);
    CSQLiteTransaction batch(m_working);
    m_working.Exec(ProjectTables::Table(QStringLiteral("ParamsValue")).createSql);
    m_working.Exec(ProjectTables::Table(QStringLiteral("SortOrderOperTypes")).createSql);
    CreateWorkingIndex();
    if (!InsertGlobalDefaults(QStringLiteral("nodes_root"))) return false;

    m_working.Exec(ProjectTables::Table(QStringLiteral("ChoiceNames")).createSql);
    for (const MenuPointName& point : kChoiceNames) {
        m_working.Exec(Format(u"INSERT INTO ChoiceNames(point_id, point_name) VALUES(%i, '%s')",
                              {QString::number(point.id), QString::fromUtf16(point.name)}));
    }

    m_working.Exec(ProjectTables::Table(QStringLiteral("m_mainmenu")).createSql);
    for (int id : kDefaultMenu) {
        QString name;
        GetChoiceName(id, &name);
        const QString sql =
            id == 8 ? Format(u"INSERT INTO m_mainmenu(id, name, target) VALUES(%i, '%s', 'm_configmenu')",
                             {QString::number(id), name})
                    : Format(u"INSERT INTO m_mainmenu(id, name, target) VALUES(%i, '%s', '')",
                             {QString::number(id), name});
        m_working.Exec(sql);
    }
    batch.Commit();
    templateBatch.Commit();
    return true;
}

void CConfigModel::CreateWorkingIndex() {
    // Every value lookup asks for one (place_id, param_id[, OperTypeID]);
    // without an index each is a scan of the whole table, which makes building
    // the tree of a large configuration quadratic. The indexes live in the
    // working copy only: saving copies tables, not indexes.
    //
    // A lookup takes the first matching row, and the working copy must answer
    // as the project file does, in stored row order. An index hands out rows
    // of equal keys in stored order but orders the rest by its columns, and
    // integer type ids sort before the text "NULL". So each lookup must find
    // an index whose columns it fixes completely: (place_id, param_id) for
    // the lookups without a type, and (OperTypeID, place_id, param_id) for
    // those with one - with the type first, a lookup without a type cannot
    // use that index and come back in type order.
    try {
        m_working.Exec(QStringLiteral("CREATE INDEX IF NOT EXISTS kx_ParamsValue_param ON "
                                      "ParamsValue(place_id, param_id)"));
        m_working.Exec(QStringLiteral("CREATE INDEX IF NOT EXISTS kx_ParamsValue_typed ON "
                                      "ParamsValue(OperTypeID, place_id, param_id)"));
    } catch (const CSQLiteException&) {
        // Only a matter of speed.
    }
}

void CConfigModel::EnsureDefaultValues(const QString& listTable, const QString& operTypeId) {
    if (listTable.isEmpty()) return;
    if (listTable == kOperationList && operTypeId == kNull) return;
    try {
        const CSQLiteTable params = Query(m_template, Format(u"SELECT * FROM %s", {listTable}));
        RequireColumns(params, 6, listTable);
        for (const QStringList& row : params.Rows) {
            const QString defaultValue = row[3];
            const QString paramId = row[5];
            const bool exists = QueryFirstRow(
                m_working,
                Format(u"SELECT value FROM ParamsValue WHERE OperTypeID = '%s' AND place_id = '%s' AND param_id = '%s'",
                       {operTypeId, listTable, paramId}),
                nullptr);
            if (!exists) {
                m_working.Exec(Format(kInsertValue, {operTypeId, listTable, paramId, defaultValue}));
                m_modified = true;
            }
        }
    } catch (const CSQLiteException& e) {
        e.Show(QString());
    }
}

bool CConfigModel::InsertDefaultValues(const QString& listTable, const QString& operTypeId) {
    try {
        const CSQLiteTable params = Query(m_template, Format(u"SELECT * FROM %s", {listTable}));
        RequireColumns(params, 6, listTable);
        for (const QStringList& row : params.Rows)
            m_working.Exec(Format(kInsertValue, {operTypeId, listTable, row[5], row[3]}));
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

bool CConfigModel::InsertOperationDefaults(const QString& nodeTable, const QString& operTypeId) {
    std::vector<TemplateNode> nodes;
    if (!ReadNodesShown(nodeTable, &nodes)) return false;
    for (const TemplateNode& node : nodes)
        if (!node.listTable.isEmpty() && !InsertDefaultValues(node.listTable, operTypeId)) return false;
    for (const TemplateNode& node : nodes)
        if (!node.children.isEmpty() && !InsertOperationDefaults(node.children, operTypeId)) return false;
    return true;
}

bool CConfigModel::InsertGlobalDefaults(const QString& nodeTable) {
    std::vector<TemplateNode> nodes;
    if (!ReadNodesShown(nodeTable, &nodes)) return false;
    for (const TemplateNode& node : nodes)
        if (!node.listTable.isEmpty() && node.name != kOperationNode && !InsertDefaultValues(node.listTable, kNull))
            return false;
    for (const TemplateNode& node : nodes)
        if (node.name != kOperationNode && !node.children.isEmpty() && !InsertGlobalDefaults(node.children))
            return false;
    return true;
}

bool CConfigModel::ReadNodesShown(const QString& nodeTable, std::vector<TemplateNode>* nodes) {
    try {
        *nodes = ReadTemplateNodes(m_template, nodeTable);
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

// ------------------------------------------------------------------ lookups

bool CConfigModel::IsUploadJournalIdOn() {
    try {
        QStringList row;
        return QueryFirstRow(m_working,
                             QStringLiteral("SELECT value FROM ParamsValue WHERE place_id = 'listparams_options' AND "
                                            "param_id = 'p_upload_journal_id'"),
                             &row) &&
               LeadingInteger(row[0]) != 0;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

bool CConfigModel::FillOperationTypeCombo(IComboBox& combo, const QString& currentName) {
    try {
        const CSQLiteTable t = Query(
            m_working,
            QStringLiteral("SELECT value FROM ParamsValue WHERE place_id = 'listparams_operation' AND "
                           "param_id = 'oper_type'"));
        int selected = 0;
        for (int i = 0; i < t.RowCount; ++i) {
            combo.AddItem(t.Rows[i][0]);
            if (t.Rows[i][0] == currentName) selected = i;
        }
        combo.SetCurrentIndex(selected);
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

QStringList CConfigModel::GetOperationTypeNameList() {
    CComboItems names;
    FillOperationTypeCombo(names, QString());
    return names.items;
}

namespace {

// An operation type is an "oper_type" row of the operation parameters, its id
// in OperTypeID and its name in value: the column `wanted` of the row whose
// column `known` holds `given`.
bool OperationTypeLookup(CSQLiteConnection& db, const QString& wanted, const QString& known, const QString& given,
                         QString* found) {
    return ShownLookup(db,
                       Format(u"SELECT %s FROM ParamsValue WHERE place_id = 'listparams_operation' AND "
                              u"param_id = 'oper_type' AND %s = '%s'",
                              {wanted, known, given}),
                       found);
}

}  // namespace

bool CConfigModel::GetOperationTypeName(const QString& id, QString* name) {
    return OperationTypeLookup(m_working, QStringLiteral("value"), QStringLiteral("OperTypeID"), id, name);
}

bool CConfigModel::GetOperationTypeId(const QString& name, QString* id) {
    return OperationTypeLookup(m_working, QStringLiteral("OperTypeID"), QStringLiteral("value"), name, id);
}

bool CConfigModel::GetChoiceName(int point, QString* name) {
    return ShownLookup(
        m_working, Format(u"SELECT point_name FROM ChoiceNames WHERE point_id = %i", {QString::number(point)}), name);
}

bool CConfigModel::SetChoiceName(int point, const QString& name) {
    try {
        m_working.Exec(Format(u"UPDATE ChoiceNames SET point_name = '%s' WHERE point_id = %i",
                              {name, QString::number(point)}));
        m_modified = true;
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}
