#include "ui/editors/GridCellEnd.h"

#include <QFocusEvent>
#include <QWidget>

void CGridCellEnd::Discard() {
    m_done = true;
    m_editor->hide();
    m_editor->deleteLater();
}

void CGridCellEnd::FocusLost(const QFocusEvent* event, const std::function<void()>& reportPending) {
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason) return;
    reportPending();
    m_done = true;
    m_editor->deleteLater();
}
