#pragma once
// The configurator's "..." button at the right end of the value cell of a
// "path" parameter. Pressing it asks for a path (the chooser given at
// creation); a chosen path is stored, a cancelled choice stores nothing. The
// button closes when it loses the focus or after the choice, and deletes
// itself when it is gone.

#include <QPushButton>

#include <functional>

class CListChildButton : public QPushButton {
    Q_OBJECT
public:
    using Commit = std::function<bool(const QString& text)>;
    // Returns the chosen path, empty when the user cancelled.
    using Chooser = std::function<QString()>;

    CListChildButton(Commit commit, Chooser chooser, QWidget* parent);

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Choose();
    void Close();

    Commit m_commit;
    Chooser m_chooser;
    bool m_choosing = false;
    bool m_closing = false;
};
