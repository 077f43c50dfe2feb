#include "config/ViewModels.h"

CParamTree::CParamTree() : m_selection(&m_model) { m_model.setColumnCount(1); }

QStandardItem* CParamTree::SelectedItem() const {
    const QModelIndex current = m_selection.currentIndex();
    if (!current.isValid()) return nullptr;
    return m_model.itemFromIndex(current);
}

void CParamTree::Select(QStandardItem* item) {
    if (!item) {
        m_selection.clear();
        return;
    }
    m_selection.setCurrentIndex(item->index(), QItemSelectionModel::ClearAndSelect);
}

void CParamTree::Clear() {
    m_selection.clear();
    m_model.removeRows(0, m_model.rowCount());
}

void CParamTree::RequestFocus() {
    ++m_focusRequests;
    if (onFocusRequest) onFocusRequest();
}

static void Collect(QStandardItem* parent, QList<QStandardItem*>& out) {
    for (int r = 0; r < parent->rowCount(); ++r) {
        QStandardItem* child = parent->child(r);
        if (!child) continue;
        out << child;
        Collect(child, out);
    }
}

QList<QStandardItem*> CParamTree::AllItems() const {
    QList<QStandardItem*> items;
    Collect(m_model.invisibleRootItem(), items);
    return items;
}

bool CParamTree::Info(const QStandardItem* item, ParamNodeInfo* info) {
    if (!item) return false;
    const QVariant data = item->data(kParamNodeInfoRole);
    if (data.metaType() != QMetaType::fromType<ParamNodeInfo>()) return false;
    if (info) *info = data.value<ParamNodeInfo>();
    return true;
}

void CParamTree::SetInfo(QStandardItem* item, const ParamNodeInfo& info) {
    item->setData(QVariant::fromValue(info), kParamNodeInfoRole);
}
