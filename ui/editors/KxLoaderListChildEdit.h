#pragma once
// The in-place edit of the directory editor's grid. It reports to its owner
// through one callback, CommitCell(text, commit, move):
//  - Enter stores a changed text (commit true) and leaves the edit open;
//    on an unchanged text it reports (empty, false, Stay);
//  - Tab does the same and asks for the next cell, Shift+Tab for the one
//    before (the owner opens that cell's edit, which takes the focus);
//  - losing the focus stores a changed text not yet reported, then the edit
//    closes itself.
// Neither Enter nor Tab becomes part of the text. Focus that only goes to a
// pop-up (the edit's own context menu) or to another window does not count
// as leaving.

#include "ui/editors/CellMove.h"
#include "ui/editors/GridCellEnd.h"

#include <QLineEdit>

class CKxLoaderListChildEdit : public QLineEdit {
    Q_OBJECT
public:
    CKxLoaderListChildEdit(CommitCellCallback commit, QWidget* parent);

    // What losing the focus does, for an owner that closes without moving
    // the focus (Escape on the window): reports a pending change once.
    void CommitPending();
    // The cell now holds `stored` (the owner may have changed what was typed,
    // a ';' for one): the edit shows it, as an unchanged text. Text typed
    // since the report is left alone.
    void ShowStored(const QString& stored);
    // The cell is gone: the edit closes without reporting anything.
    void Discard();

protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Report(CellMove move);

    CommitCellCallback m_commit;
    CGridCellEnd m_end{this};
};
