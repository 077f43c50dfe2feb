#include "ui/editors/KxLoaderListChildEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>

CKxLoaderListChildEdit::CKxLoaderListChildEdit(CommitCell commit, QWidget* parent)
    : QLineEdit(parent), m_commit(std::move(commit)) {
    setObjectName(QStringLiteral("id101"));
    setFrame(false);
}

bool CKxLoaderListChildEdit::event(QEvent* event) {
    // Tab must reach the edit before the window moves the focus with it.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            Report(true);
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Report(false);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CKxLoaderListChildEdit::Report(bool advance) {
    if (!isModified()) {
        m_commit(QString(), false, advance);
        return;
    }
    // The stored text is no longer a change: typing on after Enter (or after
    // Tab in the last cell, where nothing else opens) makes a new change,
    // which leaving the edit then stores as well.
    setModified(false);
    m_commit(text(), true, advance);
}

void CKxLoaderListChildEdit::CommitPending() {
    if (m_done || !isModified()) return;
    setModified(false);
    m_commit(text(), true, false);
}

void CKxLoaderListChildEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason) return;
    CommitPending();
    m_done = true;
    deleteLater();
}
