#pragma once
// The in-place drop-down list of the directory editor's grid (the operation
// type column). Tab stores the shown entry and asks the owner to move on;
// losing the focus stores the entry when the user chose one, then the list
// closes itself. It reports through the same callback as the in-place edit.
// Opening its own list does not count as leaving.

#include <QComboBox>

#include <functional>

class CKxLoaderListChildCombo : public QComboBox {
    Q_OBJECT
public:
    using CommitCell = std::function<void(const QString& text, bool commit, bool advance)>;

    // `current` is selected before the list starts listening for choices.
    CKxLoaderListChildCombo(CommitCell commit, const QStringList& items, int current, QWidget* parent);

    // What losing the focus does (see CKxLoaderListChildEdit::CommitPending).
    void CommitPending();

protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    CommitCell m_commit;
    bool m_changed = false;
    bool m_done = false;
};
