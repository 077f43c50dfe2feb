// The parameter tree: the template's page tree with one subtree per operation
// type where the template has its "__OPERATION" node.

#include "config/ConfigInternal.h"
#include "config/ConfigModel.h"

using namespace SQLite3;
using namespace ConfigInternal;
using ConfigSql::Format;

namespace {

QStandardItem* AppendItem(QStandardItem* parent, const QString& text, const ParamNodeInfo& info) {
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    CParamTree::SetInfo(item, info);
    parent->appendRow(item);
    return item;
}

}  // namespace

bool CConfigModel::RebuildParamTree(CParamTree& tree) {
    tree.Clear();
    m_editContext = ParamEditContext();
    try {
        CSQLiteTransaction templateBatch(m_template);
        CSQLiteTransaction batch(m_working);
        const bool built = BuildParamTree(tree, tree.Root(), QStringLiteral("nodes_root"), kNull, kNull);
        // The walk writes only the template's defaults for pages that had
        // none, which the next walk writes again: a failed commit is shown,
        // and the tree still shows the configuration as it stands.
        CommitShown(batch);
        CommitShown(templateBatch);
        return built;
    } catch (const CSQLiteException&) {
        // Already shown by the level that failed; the tree keeps what was built.
        return false;
    }
}

bool CConfigModel::BuildParamTree(CParamTree& tree, QStandardItem* parent, const QString& nodeTable,
                                  const QString& operationName, const QString& operTypeId) {
    try {
        for (const TemplateNode& node : ReadTemplateNodes(m_template, nodeTable)) {
            const QString& children = node.children;
            const QString& listTable = node.listTable;
            const QString& caption = node.caption;
            if (node.name == kOperationNode) {
                const CSQLiteTable types = Query(m_working, kOperationTypesInOrder);
                for (const QStringList& type : types.Rows) {
                    const QString& id = type[0];
                    const QString& typeName = type[1];
                    QStandardItem* item = AppendItem(parent, QStringLiteral("%1 (%2)").arg(typeName, id),
                                                     {nodeTable, caption, listTable, typeName, id});
                    EnsureDefaultValues(listTable, id);
                    if (!BuildParamTree(tree, item, children, typeName, id)) return false;
                }
                continue;
            }
            QStandardItem* item =
                AppendItem(parent, node.name, {nodeTable, caption, listTable, operationName, operTypeId});
            EnsureDefaultValues(listTable, operTypeId);
            if (!children.isEmpty() && !BuildParamTree(tree, item, children, operationName, operTypeId))
                return false;
        }
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        throw;
    }
}

void CConfigModel::ShowNodeCaption(ITextBox& captionBox, const QStandardItem* item) {
    ParamNodeInfo info;
    CParamTree::Info(item, &info);
    captionBox.SetText(info.caption);
}

void CConfigModel::SelectOperationItem(CParamTree& tree, const QString& operTypeId) {
    for (QStandardItem* item : tree.AllItems()) {
        ParamNodeInfo info;
        if (CParamTree::Info(item, &info) && info.operationTypeId == operTypeId &&
            info.listTable == kOperationList) {
            tree.Select(item);
            return;
        }
    }
    tree.Select(nullptr);
}

bool CConfigModel::IsOperationItem(const QStandardItem* item) {
    ParamNodeInfo info;
    if (!CParamTree::Info(item, &info)) return false;
    return info.operationTypeId != kNull && info.listTable == kOperationList;
}
