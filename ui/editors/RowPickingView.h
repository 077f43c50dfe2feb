#pragma once
// What the configurator's tree and list share: rows of one height, picked one
// at a time as whole rows, never edited by the view itself (the window opens
// its own editors).

#include <QAbstractItemView>
#include <QTreeView>

inline void MakeRowPickingView(QTreeView* view) {
    view->setUniformRowHeights(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
}
