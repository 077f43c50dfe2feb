#include "ui/editors/ListChildEdit.h"

#include "ui/editors/ListChildClose.h"

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPointer>
#include <QTextDocument>
#include <QToolButton>

CListChildEdit::CListChildEdit(int kind, Commit commit, QWidget* parent)
    : QPlainTextEdit(parent), m_kind(kind), m_commit(std::move(commit)) {
    setObjectName(QStringLiteral("id101"));
    setAttribute(Qt::WA_DeleteOnClose, false);  // PostListChildClose deletes it
    setTabChangesFocus(false);
    if (m_kind == MultilineText) {
        setFrameShape(QFrame::Box);
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
    } else {
        // One row over the cell: no frame, no scroll bars, no wrapping.
        setFrameShape(QFrame::NoFrame);
        setLineWrapMode(QPlainTextEdit::NoWrap);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    document()->setDocumentMargin(1);
}

QString CListChildEdit::Value() const {
    QString text = toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

void CListChildEdit::SetValue(const QString& value) {
    setPlainText(value);  // CR LF becomes one line break
    selectAll();
    document()->setModified(false);
}

bool CListChildEdit::Accepts(const QString& typed) const {
    if (m_kind != Integer) return true;
    for (QChar c : typed)
        if (!(c.isDigit() && c.unicode() < 128) && c != QLatin1Char('-')) return false;
    return true;
}

void CListChildEdit::Refuse() {
    QApplication::beep();
    emit refused();
}

void CListChildEdit::CommitIfChanged() {
    if (!document()->isModified()) return;
    // Stored once: the focus change of the close must not store it again.
    document()->setModified(false);
    if (m_commit) m_commit(Value());
}

void CListChildEdit::Close() {
    if (m_closing) return;
    m_closing = true;
    PostListChildClose(this);
}

void CListChildEdit::SetChooser(std::function<QString()> chooser) {
    m_chooser = std::move(chooser);
    if (m_chooserButton) return;
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("id102"));
    button->setText(QStringLiteral("..."));
    // Pressing it must not take the focus: that would end the edit.
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::ArrowCursor);
    connect(button, &QToolButton::clicked, this, &CListChildEdit::Choose);
    m_chooserButton = button;
    QResizeEvent resize(size(), size());
    resizeEvent(&resize);
}

void CListChildEdit::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    if (!m_chooserButton) return;
    const int side = qMin(25, height());
    setViewportMargins(0, 0, side, 0);
    m_chooserButton->setGeometry(width() - side, 0, side, height());
}

void CListChildEdit::Choose() {
    if (m_closing || m_choosing || !m_chooser) return;
    // The chooser is a modal window: the edit loses the focus to it, which
    // must not end the edit under the running choice.
    m_choosing = true;
    QPointer<CListChildEdit> self(this);
    const QString path = m_chooser();
    if (!self) return;
    m_choosing = false;
    setFocus(Qt::OtherFocusReason);
    if (path.isEmpty()) return;
    // Shown as typed: stored with Enter or on leaving, gone with Escape.
    setPlainText(path);
    moveCursor(QTextCursor::End);
    document()->setModified(true);
}

void CListChildEdit::keyPressEvent(QKeyEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        m_cancelled = true;
        Close();
        event->accept();
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // Enter in a multi-line text starts a new line; Ctrl+Enter keeps the text.
    if (enter && (m_kind != MultilineText || (event->modifiers() & Qt::ControlModifier))) {
        CommitIfChanged();
        Close();
        event->accept();
        return;
    }
    // A typed character (not a shortcut, not the Delete key, which types
    // nothing): in an integer edit only digits and "-" get through; backspace
    // and Tab are characters too and are refused with the rest.
    const QString typed = event->text();
    const bool character = !typed.isEmpty() && typed.at(0) != QChar(0x7F) &&
                           !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier));
    if (character && !Accepts(typed)) {
        Refuse();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CListChildEdit::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    // The edit's own context menu takes the focus for a moment; that is not
    // leaving the editor.
    if (event->reason() == Qt::PopupFocusReason || m_closing || m_choosing) return;
    if (!m_cancelled) CommitIfChanged();
    Close();
}

// Pasting is typing too: an integer edit refuses a text that is not digits and "-".
bool CListChildEdit::canInsertFromMimeData(const QMimeData* source) const {
    return source->hasText() && Accepts(source->text()) && QPlainTextEdit::canInsertFromMimeData(source);
}

void CListChildEdit::insertFromMimeData(const QMimeData* source) {
    if (!source->hasText() || !Accepts(source->text())) {
        Refuse();
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}

// Text composed by an input method is typing too.
void CListChildEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (!Accepts(event->commitString())) {
        Refuse();
        event->accept();
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}
