#include "ui/editors/ListChildButton.h"

#include "ui/editors/ListChildClose.h"

#include <QFocusEvent>
#include <QPointer>

CListChildButton::CListChildButton(Commit commit, Chooser chooser, QWidget* parent)
    : QPushButton(QStringLiteral("..."), parent), m_commit(std::move(commit)), m_chooser(std::move(chooser)) {
    setObjectName(QStringLiteral("id102"));
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, &CListChildButton::Choose);
}

void CListChildButton::Choose() {
    if (m_closing || m_choosing || !m_chooser) return;
    // The chooser is a modal window: the button loses the focus to it, which
    // must not close the button under the running choice.
    m_choosing = true;
    QPointer<CListChildButton> self(this);
    const Commit commit = m_commit;
    const QString path = m_chooser();
    if (!path.isEmpty() && commit) commit(path);
    if (!self) return;
    m_choosing = false;
    Close();
}

void CListChildButton::Close() {
    if (m_closing) return;
    m_closing = true;
    PostListChildClose(this);
}

void CListChildButton::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason || m_choosing) return;
    Close();
}
