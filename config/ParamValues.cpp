// Parameter values: the list of a page, reading a value, the in-place editor a
// row opens, committing an edited value, and the combo source of operations.

#include "config/ConfigInternal.h"
#include "config/ConfigModel.h"
#include "directories/DirectoryFields.h"
#include "directories/OperationLine.h"
#include "platform/Prompt.h"

#include <QHash>

using namespace SQLite3;
using namespace ConfigInternal;
using ConfigSql::Format;
using ConfigSql::Number;

namespace {

// A non-negative decimal index, as a combo box reports its choice.
bool ParseIndex(const QString& text, int* index) {
    if (text.isEmpty() || text.size() > 9) return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    *index = text.toInt();
    return true;
}

void SetCell(QStandardItemModel& list, int row, int column, const QString& text) {
    auto* cell = new QStandardItem(text);
    cell->setEditable(false);
    list.setItem(row, column, cell);
}

}  // namespace

namespace ConfigInternal {

ParamType ParseParamType(const QString& type) {
    static const QHash<QString, ParamType> kTypes = {
        {QStringLiteral("text"), ParamType::Text},       {QStringLiteral("multiline text"), ParamType::MultilineText},
        {QStringLiteral("integer"), ParamType::Integer}, {QStringLiteral("path"), ParamType::Path},
        {QStringLiteral("combobox"), ParamType::Combobox}};
    return kTypes.value(type, ParamType::Unknown);
}

bool ShownParamValue(CSQLiteConnection& templateDb, ParamType type, const QString& sourceTable,
                     const QString& value, QString* shown) {
    shown->clear();
    if (IsPlainParamType(type)) {
        *shown = value;
        return true;
    }
    if (type != ParamType::Combobox) return false;
    QStringList choice;
    if (!QueryFirstRow(templateDb, Format(u"SELECT name FROM %s WHERE id = %s", {sourceTable, Number(value)}),
                       &choice))
        return false;
    *shown = choice[0];
    return true;
}

}  // namespace ConfigInternal

bool CConfigModel::ReadParamValue(const QString& listTable, const QString& paramId, const QString& operTypeId,
                                  QString* value) {
    if (value) value->clear();
    try {
        QStringList first;
        if (!QueryFirstRow(
                m_working,
                Format(u"SELECT OperTypeID, value FROM ParamsValue WHERE param_id = '%s' AND place_id = '%s'",
                       {paramId, listTable}),
                &first))
            return false;
        if (first[0] == kNull) {
            // A global parameter: the same value whatever type asks.
            if (value) *value = first[1];
            return true;
        }
        QStringList own;
        if (!QueryFirstRow(m_working,
                           Format(u"SELECT OperTypeID, value FROM ParamsValue WHERE param_id = '%s' AND place_id = '%s' "
                                  u"AND OperTypeID = '%s'",
                                  {paramId, listTable, operTypeId}),
                           &own))
            return false;
        if (value) *value = own[1];
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        throw;
    }
}

bool CConfigModel::ShowParamList(QStandardItemModel& list, const QStandardItem* item) {
    ParamNodeInfo info;
    CParamTree::Info(item, &info);
    list.removeRows(0, list.rowCount());
    if (list.columnCount() < 2) list.setColumnCount(2);
    if (info.listTable.isEmpty()) return true;
    try {
        CSQLiteTransaction templateBatch(m_template);
        CSQLiteTransaction batch(m_working);
        const CSQLiteTable params =
            Query(m_template, Format(u"SELECT name, param_id, type, source_data FROM %s", {info.listTable}));
        for (int i = 0; i < params.RowCount; ++i) {
            const QStringList& row = params.Rows[i];
            const QString& type = row[2];
            list.insertRow(i);
            SetCell(list, i, 0, row[0]);
            QString value, shown;
            if (ReadParamValue(info.listTable, row[1], info.operationTypeId, &value))
                ShownParamValue(m_template, ParseParamType(type), row[3], value, &shown);
            SetCell(list, i, 1, shown);
        }
        batch.Commit();
        templateBatch.Commit();
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

bool CConfigModel::BeginParamEdit(CParamTree& tree, QStandardItemModel& list, int row, QStandardItem* item,
                                  ITextBox* helpBox, ParamEditRequest* request) {
    ParamEditRequest local;
    ParamEditRequest& r = request ? *request : local;
    r = ParamEditRequest();
    ParamNodeInfo info;
    CParamTree::Info(item, &info);
    if (row < 0 || info.listTable.isEmpty()) return false;
    try {
        const CSQLiteTable params = Query(
            m_template, Format(u"SELECT name, param_id, type, source_data, param_help_text FROM %s LIMIT 1 OFFSET %i",
                               {info.listTable, QString::number(row)}));
        if (params.RowCount == 0) return false;
        const QStringList& p = params.Rows[0];
        r.row = row;
        r.name = p[0];
        r.paramId = p[1];
        r.type = p[2];
        r.sourceData = p[3];
        r.helpText = p[4];
        if (helpBox) helpBox->SetText(r.helpText);

        m_editContext.tree = &tree;
        m_editContext.list = &list;
        m_editContext.row = row;
        m_editContext.item = item ? QPersistentModelIndex(item->index()) : QPersistentModelIndex();

        if (!ReadParamValue(info.listTable, r.paramId, info.operationTypeId, &r.value)) return false;

        switch (ParseParamType(r.type)) {
        case ParamType::Integer:
        case ParamType::Text: {
            const bool integer = ParseParamType(r.type) == ParamType::Integer;
            r.editor = integer ? ParamEditorKind::Integer : ParamEditorKind::Text;
            r.editKind = integer ? 1 : 3;
            r.controlId = 101;
            break;
        }
        case ParamType::MultilineText:
            r.editor = ParamEditorKind::MultilineText;
            r.editKind = 4;
            r.controlId = 101;
            break;
        case ParamType::Combobox:
            r.editor = ParamEditorKind::Combo;
            r.controlId = 103;
            FillParamCombo(r.combo, r.sourceData, r.value);
            break;
        case ParamType::Path:
            r.editor = ParamEditorKind::PathButton;
            r.controlId = 102;
            break;
        case ParamType::Unknown:
            break;
        }
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

void CConfigModel::FillParamCombo(IComboBox& combo, const QString& sourceTable, const QString& storedValue) {
    try {
        const CSQLiteTable choices = Query(m_template, Format(u"SELECT name, id FROM %s", {sourceTable}));
        int selected = 0;
        for (int k = 0; k < choices.RowCount; ++k) {
            combo.AddItem(choices.Rows[k][0]);
            if (choices.Rows[k][1] == storedValue) selected = k;
        }
        combo.SetCurrentIndex(selected);
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        throw;
    }
}

bool CConfigModel::CommitParamValue(const QString& text) {
    const ParamEditContext context = m_editContext;
    if (!context.tree || !context.list || !context.item.isValid()) return false;
    const auto* treeModel = qobject_cast<const QStandardItemModel*>(context.item.model());
    QStandardItem* item = treeModel ? treeModel->itemFromIndex(context.item) : nullptr;
    ParamNodeInfo info;
    if (!CParamTree::Info(item, &info)) return false;
    try {
        const CSQLiteTable params = Query(
            m_template, Format(u"SELECT name, param_id, type, source_data FROM %s LIMIT 1 OFFSET %i",
                               {info.listTable, QString::number(context.row)}));
        if (params.RowCount == 0) return false;
        const QString paramId = params.Rows[0][1];
        const ParamType type = ParseParamType(params.Rows[0][2]);
        const QString source = params.Rows[0][3];

        if (info.listTable == kOperationList && paramId == kOperTypeParam) {
            // Renaming an operation type: the name must stay unique and may not
            // be the reserved one, or the directories could no longer tell the
            // types apart.
            if (text != info.operationName && !AcceptOperationTypeName(text)) return false;
            m_working.Exec(Format(u"UPDATE ParamsValue SET value = '%s' WHERE OperTypeID = '%s' AND place_id = "
                                  u"'listparams_operation' AND param_id = 'oper_type'",
                                  {text, info.operationTypeId}));
            item->setText(QStringLiteral("%1 (%2)").arg(text, info.operationTypeId));
            info.operationName = text;
            CParamTree::SetInfo(item, info);
        }

        if (IsPlainParamType(type)) {
            m_working.Exec(Format(u"UPDATE ParamsValue SET value = '%s' WHERE param_id = '%s' AND place_id = '%s' "
                                  u"AND OperTypeID = '%s'",
                                  {text, paramId, info.listTable, info.operationTypeId}));
            SetCell(*context.list, context.row, 1, text);
        } else if (type == ParamType::Combobox) {
            int index = 0;
            if (!ParseIndex(text, &index)) return false;
            const CSQLiteTable choice = Query(
                m_template,
                Format(u"SELECT id, name FROM %s LIMIT 1 OFFSET %s", {source, QString::number(index)}));
            if (choice.RowCount == 0) return false;
            m_working.Exec(Format(u"UPDATE ParamsValue SET value = %s WHERE param_id = '%s' AND place_id = '%s' AND "
                                  u"OperTypeID = '%s'",
                                  {Number(choice.Rows[0][0]), paramId, info.listTable, info.operationTypeId}));
            SetCell(*context.list, context.row, 1, choice.Rows[0][1]);
        }
        m_modified = true;
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

bool CConfigModel::MakeTableComboSourceOperations(const QString& operationsFile) {
    try {
        m_template.Exec(QStringLiteral("DROP TABLE IF EXISTS combosource_operations"));
        m_template.Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS combosource_operations(id INTEGER, name VARCHAR(100))"));
        m_template.Exec(QStringLiteral("INSERT INTO combosource_operations(id, name) VALUES('0', '')"));

        CSQLiteTransaction batch(m_template);
        // A line too short for a choice makes the file damaged, and the
        // choices read so far stay.
        bool damaged = false;
        const bool opened = ForEachDirectoryLine(operationsFile, [this, &damaged](const QStringList& fields) {
            if (fields.size() < OperationLine::kChoiceFields) {
                damaged = true;
                return false;
            }
            m_template.Exec(Format(u"INSERT INTO combosource_operations(id, name) VALUES(%s, '%s')",
                                   {Number(fields[OperationLine::kId]), fields[OperationLine::kName]}));
            return true;
        });
        batch.Commit();
        if (!opened) return false;
        if (damaged) {
            Prompt().Warning(QStringLiteral("Ошибка!\nФайл операций поврежден или содержит неправильные данные!"),
                             QStringLiteral("KXLoader"));
            return false;
        }
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QStringLiteral("MakeTableComboSourceOperations"));
        return false;
    }
}
