#pragma once
// The configurator's in-place drop-down list over the value cell of a
// "combobox" parameter. It stores the chosen position (as "%i" text) when it
// loses the focus, and only after the user chose an entry; Escape closes it
// without storing. It closes itself and deletes itself when it is gone.

#include <QComboBox>

#include <functional>

class CListChildCombo : public QComboBox {
    Q_OBJECT
public:
    using Commit = std::function<bool(const QString& text)>;

    CListChildCombo(Commit commit, QWidget* parent);

    bool IsChanged() const { return m_changed; }
    bool IsCancelled() const { return m_cancelled; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Close();

    Commit m_commit;
    bool m_changed = false;
    bool m_cancelled = false;
    bool m_closing = false;
};
