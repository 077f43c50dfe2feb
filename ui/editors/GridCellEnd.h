#pragma once
// How the directory grid's in-place editors (the edit and the drop-down list)
// end. Losing the focus to a pop-up of the editor's own or to another window
// is not leaving the cell; leaving it reports what is pending and closes the
// editor. A discarded editor closes without reporting anything. Once ended,
// the editor reports nothing more.

#include <functional>

class QFocusEvent;
class QWidget;

class CGridCellEnd {
public:
    explicit CGridCellEnd(QWidget* editor) : m_editor(editor) {}

    bool Done() const { return m_done; }
    void Discard();
    // After the editor's own handling of `event`; `reportPending` reports
    // a change not yet reported.
    void FocusLost(const QFocusEvent* event, const std::function<void()>& reportPending);

private:
    QWidget* m_editor;
    bool m_done = false;
};
