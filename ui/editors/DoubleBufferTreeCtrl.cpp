#include "ui/editors/DoubleBufferTreeCtrl.h"

#include "ui/editors/RowPickingView.h"

#include <QEvent>
#include <QHeaderView>

CDoubleBufferTreeCtrl::CDoubleBufferTreeCtrl(QWidget* parent) : QTreeView(parent) {
    MakeRowPickingView(this);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setExpandsOnDoubleClick(true);
}

void CDoubleBufferTreeCtrl::SetSelectionColouring(bool on) {
    m_selectionColouring = on;
    ApplyColouring();
}

void CDoubleBufferTreeCtrl::ApplyColouring() {
    QPalette colours = palette();
    const QPalette::ColorGroup unfocused = m_selectionColouring ? QPalette::Active : QPalette::Inactive;
    const QPalette standard = QPalette();
    // The inactive group takes the active highlight (or its own again when off).
    colours.setColor(QPalette::Inactive, QPalette::Highlight, standard.color(unfocused, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     standard.color(unfocused, QPalette::HighlightedText));
    setPalette(colours);
}

void CDoubleBufferTreeCtrl::changeEvent(QEvent* event) {
    QTreeView::changeEvent(event);
    // A new desktop palette brings new highlight colours.
    if (event->type() == QEvent::ApplicationPaletteChange && m_selectionColouring) ApplyColouring();
}
