#pragma once
// The in-place drop-down list of the directory editor's grid (the operation
// type column). Tab stores the shown entry and asks the owner to move on
// (Shift+Tab to the cell before); losing the focus stores the entry when the
// user chose one, then the list closes itself. It reports through the same
// callback as the in-place edit. Opening its own list does not count as
// leaving.

#include "ui/editors/CellMove.h"
#include "ui/editors/GridCellEnd.h"

#include <QComboBox>

class CKxLoaderListChildCombo : public QComboBox {
    Q_OBJECT
public:
    // `current` is selected before the list starts listening for choices.
    CKxLoaderListChildCombo(CommitCellCallback commit, const QStringList& items, int current, QWidget* parent);

    // What losing the focus does (see CKxLoaderListChildEdit::CommitPending).
    void CommitPending();
    // The cell is gone: the list closes without reporting anything.
    void Discard();

protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    CommitCellCallback m_commit;
    bool m_changed = false;
    CGridCellEnd m_end{this};
};
