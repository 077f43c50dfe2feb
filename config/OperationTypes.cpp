// Operation types: add, copy, delete, reorder, reset a page to its defaults,
// and the configurator buttons that drive them.

#include "config/ConfigInternal.h"
#include "config/ConfigModel.h"
#include "platform/LeadingInteger.h"
#include "platform/Prompt.h"

using namespace SQLite3;
using namespace ConfigInternal;
using ConfigSql::Format;

namespace {

const QString kCaptionError = QStringLiteral("Ошибка!");
const QString kCaptionAttention = QStringLiteral("Внимание!");
const QString kSelectForMove = QStringLiteral(
    "Выделите сначала тип операции.\nДальше кнопками с изображением треугольных стрелок можете изменять "
    "порядок операций!");

QString OperTypeIdOf(const QStandardItem* item) {
    ParamNodeInfo info;
    CParamTree::Info(item, &info);
    return info.operationTypeId;
}

}  // namespace

int CConfigModel::CheckOperationTypeName(const QString& name) {
    if (name == kNull) return 2;
    try {
        return QueryFirstRow(m_working,
                             Format(u"SELECT OperTypeID FROM ParamsValue WHERE place_id = 'listparams_operation' AND "
                                    u"param_id = 'oper_type' AND value = '%s'",
                                    {name}),
                             nullptr)
                   ? 1
                   : 0;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return 10;
    }
}

int CConfigModel::NewOperationTypeId() {
    const CSQLiteTable t = Query(
        m_working, QStringLiteral("SELECT case when(max(OperType)) is null then 1 else "
                                  "max(cast(OperType as INTEGER))+1 end FROM SortOrderOperTypes"));
    return LeadingInteger(t.Rows[0][0]);
}

int CConfigModel::NewOperationTypePosition() {
    const CSQLiteTable t = Query(
        m_working,
        QStringLiteral("SELECT case when(max(n)) is null then 0 else max(n) end FROM SortOrderOperTypes"));
    return LeadingInteger(t.Rows[0][0]) + 1;
}

bool CConfigModel::AddOperationType(const QString& name, QString* id) {
    try {
        CSQLiteTransaction templateBatch(m_template);
        CSQLiteTransaction batch(m_working);
        const QString newId = QString::number(NewOperationTypeId());
        if (id) *id = newId;
        AppendToOperationTypeOrder(newId);
        const CSQLiteTable op = Query(
            m_template, QStringLiteral("SELECT table_nodes, table_listparams FROM nodes_root WHERE name = '__OPERATION'"));
        if (op.RowCount > 0) {
            const QString children = op.Rows[0][0];
            const QString listTable = op.Rows[0][1];
            InsertDefaultValues(listTable, newId);
            m_working.Exec(Format(
                u"UPDATE ParamsValue SET value = '%s' WHERE OperTypeID = %s AND place_id = '%s' AND param_id = 'oper_type'",
                {name, newId, listTable}));
            InsertOperationDefaults(children, newId);
        }
        batch.Commit();
        templateBatch.Commit();
    } catch (const CSQLiteException& e) {
        e.Show(QString());
    }
    // Whatever part has been written is in the working copy: the tree must show it.
    m_modified = true;
    return true;
}

void CConfigModel::AppendToOperationTypeOrder(const QString& id) {
    m_working.Exec(Format(u"INSERT INTO SortOrderOperTypes(n, OperType) VALUES(%i, '%s')",
                          {QString::number(NewOperationTypePosition()), id}));
}

bool CConfigModel::WorkingChangeFailed(const CSQLiteException& failure) {
    failure.Show(QString());
    // The tree is drawn again from the working copy, whatever the failed change left there.
    m_modified = true;
    return false;
}

bool CConfigModel::CopyOperationType(CParamTree& tree, QStandardItem* item, const QString& name, QString* id) {
    Q_UNUSED(tree);
    if (!IsOperationItem(item)) {
        Prompt().Warning(QStringLiteral("Выделите сначала тип операции!\nА затем нажмите кнопку копирования!"),
                         kCaptionAttention);
        return false;
    }
    const QString source = OperTypeIdOf(item);
    try {
        CSQLiteTransaction batch(m_working);
        const QString newId = QString::number(NewOperationTypeId());
        if (id) *id = newId;
        m_working.Exec(Format(u"INSERT INTO ParamsValue SELECT '%s', pv.place_id, pv.param_id, pv.value FROM "
                              u"ParamsValue pv WHERE pv.OperTypeID = '%s'",
                              {newId, source}));
        m_working.Exec(Format(
            u"UPDATE ParamsValue SET value = '%s' WHERE OperTypeID = '%s' AND place_id = '%s' AND param_id = '%s'",
            {name, newId, kOperationList, kOperTypeParam}));
        AppendToOperationTypeOrder(newId);
        batch.Commit();
        m_modified = true;
        return true;
    } catch (const CSQLiteException& e) {
        return WorkingChangeFailed(e);
    }
}

bool CConfigModel::DeleteOperationType(CParamTree& tree, QStandardItem* item) {
    if (!IsOperationItem(item)) {
        Prompt().Warning(QStringLiteral("Выделите сначала тип операции!\nА затем нажмите кнопку с изображением "
                                        "минус для удаления!"),
                         kCaptionAttention);
        return false;
    }
    if (!Prompt().AskYesNo(QStringLiteral("Вы действительно хотите удалить этот тип операции?"), kCaptionAttention))
        return false;
    const QString operTypeId = OperTypeIdOf(item);
    try {
        // Both deletions or neither: a type without its values, or values
        // without their type, would stay in the configuration for good.
        CSQLiteTransaction batch(m_working);
        m_working.Exec(Format(u"DELETE FROM ParamsValue WHERE OperTypeID = '%s'", {operTypeId}));
        m_working.Exec(Format(u"DELETE FROM SortOrderOperTypes WHERE OperType = '%s'", {operTypeId}));
        batch.Commit();
    } catch (const CSQLiteException& e) {
        return WorkingChangeFailed(e);
    }
    // The item goes with its children and its record; no item stays selected.
    tree.Select(nullptr);
    QStandardItem* parent = item->parent() ? item->parent() : tree.Root();
    parent->removeRow(item->row());
    m_modified = true;
    return true;
}

bool CConfigModel::MoveOperationType(CParamTree& tree, QStandardItem* item, QString* id, bool up) {
    if (!IsOperationItem(item)) {
        Prompt().Warning(kSelectForMove, kCaptionAttention);
        return false;
    }
    const QString operTypeId = OperTypeIdOf(item);
    try {
        const CSQLiteTable end = Query(m_working, up ? QStringLiteral("SELECT min(n) FROM SortOrderOperTypes")
                                                     : QStringLiteral("SELECT max(n) FROM SortOrderOperTypes"));
        const CSQLiteTable cur =
            Query(m_working, Format(u"SELECT n FROM SortOrderOperTypes WHERE OperType = '%s'", {operTypeId}));
        if (cur.RowCount == 0) return false;
        const int current = LeadingInteger(cur.Rows[0][0]);
        if (end.RowCount == 0 || current == LeadingInteger(end.Rows[0][0])) {
            // Already at that end: nothing to do and nothing to say.
            tree.RequestFocus();
            return false;
        }
        const CSQLiteTable neighbour = Query(
            m_working, up ? Format(u"SELECT max(n) FROM SortOrderOperTypes WHERE n < %i", {QString::number(current)})
                          : Format(u"SELECT min(n) FROM SortOrderOperTypes WHERE n > %i", {QString::number(current)}));
        const QString neighbourText = neighbour.RowCount > 0 ? neighbour.Rows[0][0] : QString();
        const int next = LeadingInteger(neighbourText);
        const CSQLiteTable other = Query(
            m_working, up ? Format(u"SELECT OperType FROM SortOrderOperTypes WHERE n = %s", {ConfigSql::Number(neighbourText)})
                          : Format(u"SELECT OperType FROM SortOrderOperTypes WHERE n = %i", {QString::number(next)}));
        if (other.RowCount == 0) return false;
        const QString otherId = other.Rows[0][0];
        m_working.Exec(Format(u"UPDATE SortOrderOperTypes SET OperType = '%s' WHERE n = %i",
                              {operTypeId, QString::number(next)}));
        m_working.Exec(Format(u"UPDATE SortOrderOperTypes SET OperType = '%s' WHERE n = %i",
                              {otherId, QString::number(current)}));
        if (id) *id = operTypeId;
        m_modified = true;
        return true;
    } catch (const CSQLiteException& e) {
        return WorkingChangeFailed(e);
    }
}

bool CConfigModel::MoveOperationTypeUp(CParamTree& tree, QStandardItem* item, QString* id) {
    return MoveOperationType(tree, item, id, true);
}

bool CConfigModel::MoveOperationTypeDown(CParamTree& tree, QStandardItem* item, QString* id) {
    return MoveOperationType(tree, item, id, false);
}

bool CConfigModel::LoadPageDefaults(QStandardItem* item) {
    ParamNodeInfo info;
    if (!CParamTree::Info(item, &info)) return false;
    if (info.operationTypeId != kNull && info.listTable == kOperationList) {
        Prompt().Warning(QStringLiteral("Для этой страницы нельзя загрузить дефолтные значения..."), kCaptionAttention);
        return false;
    }
    if (info.listTable.isEmpty()) return true;
    try {
        CSQLiteTransaction batch(m_working);
        const CSQLiteTable params =
            Query(m_template, Format(u"SELECT default_value, param_id FROM %s", {info.listTable}));
        for (const QStringList& row : params.Rows) {
            m_working.Exec(Format(u"UPDATE ParamsValue SET value = '%s'WHERE OperTypeID = '%s' AND place_id = '%s' "
                                  u"AND param_id = '%s'",
                                  {row[0], info.operationTypeId, info.listTable, row[1]}));
        }
        batch.Commit();
        m_modified = true;
        return true;
    } catch (const CSQLiteException& e) {
        return WorkingChangeFailed(e);
    }
}

// ------------------------------------------------------ configurator buttons

bool CConfigModel::AfterOperationTypeChange(CParamTree& tree, bool done, const QString& id) {
    if (!done) return false;
    RebuildParamTree(tree);
    SelectOperationItem(tree, id);
    tree.RequestFocus();
    return true;
}

bool CConfigModel::AcceptOperationTypeName(const QString& name) {
    switch (CheckOperationTypeName(name)) {
    case 0: return true;
    case 1:
        Prompt().Warning(QStringLiteral("Тип операции с таким именем уже существует!"), kCaptionError);
        return false;
    case 2: Prompt().Warning(QStringLiteral("Зарезервированное имя!"), kCaptionError); return false;
    default: return false;  // the lookup failed and has shown why
    }
}

bool CConfigModel::OnAddOperationType(CParamTree& tree, const NameInput& input) {
    if (!RequireConfiguration()) return false;
    QString name;
    if (!input || !input(QStringLiteral("Новый тип операции"), QStringLiteral("Введите название:"), &name))
        return false;
    if (!AcceptOperationTypeName(name)) return false;
    QString id;
    return AfterOperationTypeChange(tree, AddOperationType(name, &id), id);
}

bool CConfigModel::OnCopyOperationType(CParamTree& tree, const NameInput& input) {
    if (!RequireConfiguration()) return false;
    QStandardItem* item = tree.SelectedItem();
    if (!IsOperationItem(item)) {
        Prompt().Warning(QStringLiteral("Выделите сначала тип операции!\nА затем нажмите кнопку копирования!"),
                         kCaptionAttention);
        return false;
    }
    QString name;
    if (!input ||
        !input(QStringLiteral("Новый тип операции (копирование)"), QStringLiteral("Введите название:"), &name))
        return false;
    if (!AcceptOperationTypeName(name)) return false;
    QString id;
    return AfterOperationTypeChange(tree, CopyOperationType(tree, item, name, &id), id);
}

bool CConfigModel::OnDeleteOperationType(CParamTree& tree) {
    if (!RequireConfiguration()) return false;
    return DeleteOperationType(tree, tree.SelectedItem());
}

bool CConfigModel::OnMoveOperationTypeUp(CParamTree& tree) {
    if (!RequireConfiguration()) return false;
    QString id;
    return AfterOperationTypeChange(tree, MoveOperationTypeUp(tree, tree.SelectedItem(), &id), id);
}

bool CConfigModel::OnMoveOperationTypeDown(CParamTree& tree) {
    if (!RequireConfiguration()) return false;
    QString id;
    return AfterOperationTypeChange(tree, MoveOperationTypeDown(tree, tree.SelectedItem(), &id), id);
}

bool CConfigModel::OnLoadPageDefaults(CParamTree& tree) {
    if (!RequireConfiguration()) return false;
    if (Prompt().Message(QStringLiteral("Вы действительно хотите восстановить дефолтные значения только на этой "
                                        "странице?"),
                         kCaptionAttention, PromptIcon::Question, PromptButtons::YesNo) != AnswerYes)
        return false;
    return LoadPageDefaults(tree.SelectedItem());
}
