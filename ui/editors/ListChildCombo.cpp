#include "ui/editors/ListChildCombo.h"

#include "ui/editors/ListChildClose.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QAbstractItemView>

CListChildCombo::CListChildCombo(Commit commit, QWidget* parent) : QComboBox(parent), m_commit(std::move(commit)) {
    setObjectName(QStringLiteral("id103"));
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
    // Only a choice by the user counts, not filling the list or selecting the
    // stored value.
    connect(this, &QComboBox::activated, this, [this] { m_changed = true; });
}

void CListChildCombo::Close() {
    if (m_closing) return;
    m_closing = true;
    PostListChildClose(this);
}

void CListChildCombo::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        m_cancelled = true;
        Close();
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void CListChildCombo::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    // The drop-down list takes the focus while it is open; the editor is still
    // in use then.
    if (event->reason() == Qt::PopupFocusReason || view()->isVisible() || m_closing) return;
    if (!m_cancelled && m_changed && m_commit) m_commit(QString::asprintf("%i", currentIndex()));
    Close();
}
