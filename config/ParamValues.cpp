// Parameter values: the list of a page, reading a value, the in-place editor a
// row opens, committing an edited value, and the combo source of operations.

#include "config/ConfigInternal.h"
#include "config/ConfigModel.h"
#include "directories/DirectoryCodePage.h"
#include "directories/DirectoryEncoding.h"
#include "platform/Prompt.h"

#include <QFile>

using namespace SQLite3;
using namespace ConfigInternal;
using ConfigSql::Format;
using ConfigSql::Number;

namespace {

bool IsPlainType(const QString& type) {
    return type == QLatin1String("text") || type == QLatin1String("multiline text") ||
           type == QLatin1String("integer") || type == QLatin1String("path");
}

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
        CStatementBatch templateBatch(m_template);
        CStatementBatch batch(m_working);
        const CSQLiteTable params =
            Query(m_template, Format(u"SELECT name, param_id, type, source_data FROM %s", {info.listTable}));
        for (int i = 0; i < params.RowCount; ++i) {
            const QStringList& row = params.Rows[i];
            const QString& type = row[2];
            list.insertRow(i);
            SetCell(list, i, 0, row[0]);
            QString value, shown;
            if (ReadParamValue(info.listTable, row[1], info.operationTypeId, &value)) {
                if (IsPlainType(type)) {
                    shown = value;
                } else if (type == QLatin1String("combobox")) {
                    QStringList choice;
                    if (QueryFirstRow(m_template, Format(u"SELECT name FROM %s WHERE id = %s", {row[3], Number(value)}),
                                      &choice))
                        shown = choice[0];
                }
            }
            SetCell(list, i, 1, shown);
        }
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

        if (r.type == QLatin1String("integer") || r.type == QLatin1String("text")) {
            const bool integer = r.type == QLatin1String("integer");
            r.editor = integer ? ParamEditorKind::Integer : ParamEditorKind::Text;
            r.editKind = integer ? 1 : 3;
            r.controlId = 101;
        } else if (r.type == QLatin1String("multiline text")) {
            r.editor = ParamEditorKind::MultilineText;
            r.editKind = 4;
            r.controlId = 101;
        } else if (r.type == QLatin1String("combobox")) {
            r.editor = ParamEditorKind::Combo;
            r.controlId = 103;
            FillParamCombo(r.combo, r.sourceData, r.value);
        } else if (r.type == QLatin1String("path")) {
            r.editor = ParamEditorKind::PathButton;
            r.controlId = 102;
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
        const QString type = params.Rows[0][2];
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

        if (IsPlainType(type)) {
            m_working.Exec(Format(u"UPDATE ParamsValue SET value = '%s' WHERE param_id = '%s' AND place_id = '%s' "
                                  u"AND OperTypeID = '%s'",
                                  {text, paramId, info.listTable, info.operationTypeId}));
            SetCell(*context.list, context.row, 1, text);
        } else if (type == QLatin1String("combobox")) {
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
    QFile file;
    try {
        m_template.Exec(QStringLiteral("DROP TABLE IF EXISTS combosource_operations"));
        m_template.Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS combosource_operations(id INTEGER, name VARCHAR(100))"));
        m_template.Exec(QStringLiteral("INSERT INTO combosource_operations(id, name) VALUES('0', '')"));

        file.setFileName(operationsFile);
        if (operationsFile.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
        CStatementBatch batch(m_template);
        // The directory files are single-byte text of the directory code page,
        // or UTF-8 when made so on Linux: the editor's rule decides.
        const DirectoryFileEncoding encoding = DetectFileEncoding(operationsFile, DirectoryCodec());
        char buffer[1024];
        bool first = true;
        for (;;) {
            const qint64 length = file.readLine(buffer, sizeof buffer);
            if (length <= 0) break;
            QByteArrayView bytes(buffer, length);
            if (first) bytes = WithoutBom(bytes, encoding);
            first = false;
            const QString line = encoding.codec.Decode(bytes.data(), bytes.size());
            const QStringList fields = line.split(QLatin1Char(';'));
            if (fields.size() < 4) {
                file.close();
                Prompt().Warning(
                    QStringLiteral("Ошибка!\nФайл операций поврежден или содержит неправильные данные!"),
                    QStringLiteral("KXLoader"));
                return false;
            }
            m_template.Exec(Format(u"INSERT INTO combosource_operations(id, name) VALUES(%s, '%s')",
                                   {Number(fields[0]), fields[2]}));
        }
        file.close();
        return true;
    } catch (const CSQLiteException& e) {
        file.close();
        e.Show(QStringLiteral("MakeTableComboSourceOperations"));
        return false;
    }
}
