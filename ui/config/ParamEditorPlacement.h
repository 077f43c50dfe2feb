#pragma once
// Puts the in-place editor a click on a parameter row asks for
// (CConfigModel::BeginParamEdit's request) over the value cell of that row:
// a one-row edit inside the cell, a multi-line edit three rows high, a
// drop-down list, or a "..." button at the right end of the cell.

#include "config/ViewModels.h"

#include <QRect>

#include <functional>

class QAbstractItemView;
class QFont;
class QWidget;

struct ParamEditorHooks {
    // Stores a committed text (CConfigModel::CommitParamValue).
    std::function<bool(const QString& text)> commit;
    // Asks for a path for the "..." button; empty when the user cancelled.
    std::function<QString()> choosePath;
};

// Where the editor goes, from the value cell's rectangle (viewport coordinates).
QRect ParamEditorRect(ParamEditorKind kind, const QRect& cell);

// Creates, places, fills and focuses the editor as a child of the list's
// viewport; nullptr when the row opens none.
QWidget* OpenParamEditor(QAbstractItemView& list, const ParamEditRequest& request, const QFont& font,
                         const ParamEditorHooks& hooks);
