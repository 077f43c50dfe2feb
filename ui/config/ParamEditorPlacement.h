#pragma once
// Puts the in-place editor a click on a parameter row asks for
// (CConfigModel::BeginParamEdit's request) over the value cell of that row:
// a one-row edit inside the cell, a multi-line edit three rows high, or a
// drop-down list. A "path" gets the one-row edit: the user types the path;
// where the value is a path of this computer the edit also has a "..."
// button that puts a chosen file's path into it. A path on the terminal
// ("\Storage Card\KX\") gets no such button: no file dialog here can name
// one, and a path of this computer must never land in a terminal's setting
// unless the user types it.

#include "config/ViewModels.h"

#include <QRect>

#include <functional>

class QAbstractItemView;
class QFont;
class QWidget;

struct ParamEditorHooks {
    // Stores a committed text (CConfigModel::CommitParamValue).
    std::function<bool(const QString& text)> commit;
    // Asks for a path of this computer for the "..." button; empty when the
    // user cancelled.
    std::function<QString()> choosePath;
};

// A path as the terminal writes it: rooted, without a drive letter.
bool IsTerminalPath(const QString& value);

// Where the editor goes, from the value cell's rectangle (viewport coordinates).
QRect ParamEditorRect(ParamEditorKind kind, const QRect& cell);

// Creates, places, fills and focuses the editor as a child of the list's
// viewport; nullptr when the row opens none.
QWidget* OpenParamEditor(QAbstractItemView& list, const ParamEditRequest& request, const QFont& font,
                         const ParamEditorHooks& hooks);
