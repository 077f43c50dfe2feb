#include "ui/editors/KxLoaderListChildEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>

CKxLoaderListChildEdit::CKxLoaderListChildEdit(CommitCellCallback commit, QWidget* parent)
    : QLineEdit(parent), m_commit(std::move(commit)) {
    setObjectName(QStringLiteral("id101"));
    setFrame(false);
}

bool CKxLoaderListChildEdit::event(QEvent* event) {
    // Ctrl+Delete deletes the row, as everywhere in the grid, rather than a word.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && (key->modifiers() & Qt::ControlModifier)) return QWidget::event(event);
    }
    // Tab must reach the edit before the window moves the focus with it;
    // Ctrl+Tab is the window's (it leaves the grid).
    if (event->type() == QEvent::KeyPress && !(static_cast<QKeyEvent*>(event)->modifiers() & Qt::ControlModifier)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Backtab || (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier))) {
            Report(CellMove::Previous);
            return true;
        }
        if (key->key() == Qt::Key_Tab) {
            Report(CellMove::Next);
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Report(CellMove::Stay);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CKxLoaderListChildEdit::Report(CellMove move) {
    if (m_end.Done()) return;
    if (!isModified()) {
        m_commit(QString(), false, move);
        return;
    }
    // The stored text is no longer a change: typing on after Enter (or after
    // Tab in the last cell, where nothing else opens) makes a new change,
    // which leaving the edit then stores as well.
    setModified(false);
    m_commit(text(), true, move);
}

void CKxLoaderListChildEdit::CommitPending() {
    if (m_end.Done() || !isModified()) return;
    setModified(false);
    m_commit(text(), true, CellMove::Stay);
}

void CKxLoaderListChildEdit::ShowStored(const QString& stored) {
    if (m_end.Done() || isModified() || text() == stored) return;
    const int cursor = cursorPosition();
    setText(stored);
    setCursorPosition(cursor);
    setModified(false);
}

void CKxLoaderListChildEdit::Discard() { m_end.Discard(); }

void CKxLoaderListChildEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    m_end.FocusLost(event, [this] { CommitPending(); });
}
