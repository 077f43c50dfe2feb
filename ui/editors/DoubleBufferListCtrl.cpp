#include "ui/editors/DoubleBufferListCtrl.h"

#include "ui/editors/RowPickingView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyledItemDelegate>

namespace {

// Rows of one height, and a multi-line value shown on its one row.
class CParamRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QString displayText(const QVariant& value, const QLocale& locale) const override {
        QString text = QStyledItemDelegate::displayText(value, locale);
        text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        text.replace(QChar(QChar::LineSeparator), QLatin1Char(' '));
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        return text;
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const auto* view = static_cast<const CDoubleBufferListCtrl*>(parent());
        size.setHeight(view->RowHeight());
        return size;
    }
};

}  // namespace

CDoubleBufferListCtrl::CDoubleBufferListCtrl(QWidget* parent) : QTreeView(parent) {
    MakeRowPickingView(this);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setItemDelegate(new CParamRowDelegate(this));
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(false);
}

int CDoubleBufferListCtrl::RowHeight() const {
    return qMax(kMinimumRowHeight, fontMetrics().height() + 4);
}

void CDoubleBufferListCtrl::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_F2 || key == Qt::Key_Return || key == Qt::Key_Enter) && currentIndex().isValid()) {
        emit editRequested(currentIndex().row());
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}
