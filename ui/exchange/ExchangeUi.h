#pragma once
// Small pieces the exchange windows share: their progress bars and the
// disabled "Отмена" button.

#include <QtGlobal>

class QProgressBar;
class QPushButton;
class QWidget;

// A progress bar without text, named `objectName`, empty.
QProgressBar* MakeProgressBar(QWidget* parent, const QString& objectName);
// `value` of `total` on the bar; with `counted` the bar also reads
// "12 345 из 100 000" (records of the total), else it shows no text. A total
// of 0 shows an empty bar rather than a busy one.
void ShowBar(QProgressBar* bar, qint64 value, qint64 total, bool counted);
// The "Отмена" button of a window that cannot be cancelled: shown, disabled.
QPushButton* MakeDisabledCancel(QWidget* parent);
