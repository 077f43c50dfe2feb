#include "ui/config/ParamEditorPlacement.h"

#include "ui/editors/ListChildCombo.h"
#include "ui/editors/ListChildEdit.h"

#include <QAbstractItemView>

QRect ParamEditorRect(ParamEditorKind kind, const QRect& cell) {
    QRect r = cell;
    switch (kind) {
    case ParamEditorKind::Integer:
    case ParamEditorKind::Text:
    case ParamEditorKind::PathButton:
        // Inside the cell's grid lines.
        r.setTop(cell.top() + 1);
        r.setLeft(cell.left() + 1);
        r.setBottom(cell.bottom() - 1);
        break;
    case ParamEditorKind::MultilineText:
        // Three rows high, reaching over the rows below.
        r.setLeft(cell.left() + 1);
        r.setTop(cell.top() + 1);
        r.setHeight(3 * cell.height() - 2);
        break;
    case ParamEditorKind::Combo: r.translate(0, -2); break;
    case ParamEditorKind::None: return QRect();
    }
    return r;
}

bool IsTerminalPath(const QString& value) {
    // "\Storage Card\KX\": rooted without a drive, as the terminal writes
    // its paths; "\\server\share" is a network path of this computer.
    return value.startsWith(QLatin1Char('\\')) && !value.startsWith(QLatin1String("\\\\"));
}

QWidget* OpenParamEditor(QAbstractItemView& list, const ParamEditRequest& request, const QFont& font,
                         const ParamEditorHooks& hooks) {
    if (request.editor == ParamEditorKind::None || !list.model()) return nullptr;
    const QRect cell = list.visualRect(list.model()->index(request.row, 1));
    const QRect place = ParamEditorRect(request.editor, cell);
    QWidget* viewport = list.viewport();
    QWidget* editor = nullptr;
    switch (request.editor) {
    case ParamEditorKind::Integer:
    case ParamEditorKind::Text:
    case ParamEditorKind::MultilineText: {
        auto* edit = new CListChildEdit(request.editKind, hooks.commit, viewport);
        edit->setFont(font);
        edit->SetValue(request.value);
        editor = edit;
        break;
    }
    case ParamEditorKind::Combo: {
        auto* combo = new CListChildCombo(hooks.commit, viewport);
        combo->setFont(font);
        combo->addItems(request.combo.items);
        combo->setCurrentIndex(request.combo.current);
        editor = combo;
        break;
    }
    case ParamEditorKind::PathButton: {
        // A path is typed like a text; a file dialog of this computer can
        // only help where the value is a path of this computer.
        auto* edit = new CListChildEdit(CListChildEdit::Text, hooks.commit, viewport);
        edit->setFont(font);
        edit->SetValue(request.value);
        if (!request.value.isEmpty() && !IsTerminalPath(request.value) && hooks.choosePath)
            edit->SetChooser(hooks.choosePath);
        editor = edit;
        break;
    }
    case ParamEditorKind::None: return nullptr;
    }
    editor->setGeometry(place);
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
    return editor;
}
