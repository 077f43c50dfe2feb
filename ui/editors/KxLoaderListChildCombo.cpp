#include "ui/editors/KxLoaderListChildCombo.h"

#include <QFocusEvent>
#include <QKeyEvent>

CKxLoaderListChildCombo::CKxLoaderListChildCombo(CommitCellCallback commit, const QStringList& items, int current,
                                                 QWidget* parent)
    : QComboBox(parent), m_commit(std::move(commit)) {
    setObjectName(QStringLiteral("id103"));
    setEditable(false);
    addItems(items);
    setCurrentIndex(current);
    connect(this, &QComboBox::currentIndexChanged, this, [this] { m_changed = true; });
}

bool CKxLoaderListChildCombo::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress && !m_end.Done()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Ctrl+Tab is the window's: it leaves the grid.
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && !(key->modifiers() & Qt::ControlModifier)) {
            const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
            // Stored now; only a later choice is a change again.
            m_changed = false;
            m_commit(currentText(), true, back ? CellMove::Previous : CellMove::Next);
            return true;
        }
    }
    return QComboBox::event(event);
}

void CKxLoaderListChildCombo::CommitPending() {
    if (m_end.Done() || !m_changed) return;
    m_changed = false;
    m_commit(currentText(), true, CellMove::Stay);
}

void CKxLoaderListChildCombo::Discard() { m_end.Discard(); }

void CKxLoaderListChildCombo::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    m_end.FocusLost(event, [this] { CommitPending(); });
}
