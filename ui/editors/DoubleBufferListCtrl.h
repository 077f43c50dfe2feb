#pragma once
// The configurator's parameter list: a report view with the columns
// "Параметр" and "Значение", one row per parameter, at least 19 pixels high
// (higher when the font needs it). A click on a row, F2 or Enter asks for the
// row's in-place editor; a click below the last row asks for nothing. Qt
// paints through a back buffer, so the list redraws without flicker as it is.

#include <QTreeView>

class CDoubleBufferListCtrl : public QTreeView {
    Q_OBJECT
public:
    static constexpr int kMinimumRowHeight = 19;

    explicit CDoubleBufferListCtrl(QWidget* parent = nullptr);

    // The row height in use for the current font.
    int RowHeight() const;

signals:
    void editRequested(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
