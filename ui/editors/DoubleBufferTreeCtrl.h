#pragma once
// The configurator's tree of operation types and parameter pages. Qt paints
// every widget through a back buffer, so it never flickers and needs no
// drawing surface of its own; what this control adds is the selection
// colouring: once switched on, the selected page keeps the highlight colours
// while another control (an in-place editor, the list) has the focus, so the
// user always sees which page the list belongs to.

#include <QTreeView>

class CDoubleBufferTreeCtrl : public QTreeView {
    Q_OBJECT
public:
    explicit CDoubleBufferTreeCtrl(QWidget* parent = nullptr);

    void SetSelectionColouring(bool on);
    bool SelectionColouring() const { return m_selectionColouring; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void ApplyColouring();

    bool m_selectionColouring = false;
};
