#pragma once
// The in-place edit of the directory editor's grid. It reports to its owner
// through one callback, CommitCell(text, commit, advance):
//  - Enter stores a changed text (commit true) and leaves the edit open;
//    on an unchanged text it reports (empty, false, false);
//  - Tab does the same with advance true, so the owner moves to the next
//    cell (the owner opens the next edit, which takes the focus);
//  - losing the focus stores a changed text not yet reported, then the edit
//    closes itself.
// Neither Enter nor Tab becomes part of the text. Focus that only goes to a
// pop-up (the edit's own context menu) or to another window does not count
// as leaving.

#include <QLineEdit>

#include <functional>

class CKxLoaderListChildEdit : public QLineEdit {
    Q_OBJECT
public:
    using CommitCell = std::function<void(const QString& text, bool commit, bool advance)>;

    CKxLoaderListChildEdit(CommitCell commit, QWidget* parent);

    // What losing the focus does, for an owner that closes without moving
    // the focus (Escape on the window): reports a pending change once.
    void CommitPending();

protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Report(bool advance);

    CommitCell m_commit;
    bool m_done = false;
};
