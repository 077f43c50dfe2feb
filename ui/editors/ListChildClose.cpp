#include "ui/editors/ListChildClose.h"

#include <QAbstractScrollArea>
#include <QMetaObject>
#include <QWidget>

namespace {

QAbstractScrollArea* OwningView(QWidget* editor) {
    for (QWidget* w = editor->parentWidget(); w; w = w->parentWidget())
        if (auto* view = qobject_cast<QAbstractScrollArea*>(w)) return view;
    return nullptr;
}

}  // namespace

void PostListChildClose(QWidget* editor) {
    // The editor is the context: once it is gone the request is dropped.
    QMetaObject::invokeMethod(
        editor,
        [editor] {
            if (editor->hasFocus())
                if (QAbstractScrollArea* view = OwningView(editor)) view->setFocus(Qt::OtherFocusReason);
            editor->hide();
            editor->deleteLater();
        },
        Qt::QueuedConnection);
}
