#pragma once
// The configurator's in-place edit over the value cell of a parameter row.
// Kind 1 ("integer") takes digits and "-" only, kind 3 ("text", also "path")
// any text on one row, kind 4 ("multiline text") several rows. Enter stores
// the text in kinds 1 and 3 and starts a new line in kind 4, where Ctrl+Enter
// stores it; Escape closes without storing; losing the focus stores a changed
// text and never an unchanged one. The editor closes itself after each of
// these and deletes itself when it is gone. A path edit may carry a "..."
// button at its right end: what it chooses is put into the edit as typed
// text, for the user to check, and stored as any typed text is.

#include <QPlainTextEdit>

class QAbstractButton;

#include <functional>

class CListChildEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    enum Kind { Integer = 1, Text = 3, MultilineText = 4 };
    // Receives the text to store; the editor does not care about the answer.
    using Commit = std::function<bool(const QString& text)>;

    CListChildEdit(int kind, Commit commit, QWidget* parent);

    int EditKind() const { return m_kind; }
    bool IsCancelled() const { return m_cancelled; }
    // The value as stored: line breaks as CR LF, the form the terminal and the
    // configuration report use for a multi-line value.
    QString Value() const;
    // Puts the stored value in and selects all of it; an unchanged edit.
    void SetValue(const QString& value);
    // Adds the "..." button (id 102): `chooser` asks for a path, empty when
    // the user cancelled.
    void SetChooser(std::function<QString()> chooser);
    QAbstractButton* ChooserButton() const { return m_chooserButton; }

signals:
    // A typed or pasted character was refused (and the desktop beeped).
    void refused();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    bool Accepts(const QString& typed) const;
    void Refuse();
    void CommitIfChanged();
    void Close();
    void Choose();

    const int m_kind;
    Commit m_commit;
    bool m_cancelled = false;
    bool m_closing = false;
    bool m_choosing = false;
    std::function<QString()> m_chooser;
    QAbstractButton* m_chooserButton = nullptr;
};
