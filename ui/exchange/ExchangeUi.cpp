#include "ui/exchange/ExchangeUi.h"

#include "ui/common/Buttons.h"

#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <climits>

QProgressBar* MakeProgressBar(QWidget* parent, const QString& objectName) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(objectName);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

void ShowBar(QProgressBar* bar, qint64 value, qint64 total, bool counted) {
    total = std::max<qint64>(total, 0);
    value = std::clamp<qint64>(value, 0, total);
    // A bar counts in int: larger totals are scaled down, the text keeps the
    // true figures. An empty range would turn a Qt bar into a busy indicator.
    const qint64 scale = total > INT_MAX ? total / INT_MAX + 1 : 1;
    const int range = static_cast<int>(std::max<qint64>(total / scale, 1));
    // The text first: whoever watches the value sees the bar whole.
    bar->setTextVisible(counted);
    if (counted) {
        // Figures as the program's Russian texts write them: "128 890".
        const QLocale locale(QLocale::Russian, QLocale::Russia);
        bar->setFormat(QStringLiteral("%1 из %2").arg(locale.toString(value), locale.toString(total)));
    }
    if (bar->maximum() != range || bar->minimum() != 0) bar->setRange(0, range);
    bar->setValue(static_cast<int>(value / scale));
}

QPushButton* MakeDisabledCancel(QWidget* parent) {
    QPushButton* cancel = MakeButton(parent, QStringLiteral("Отмена"), QStringLiteral("id2"));
    cancel->setEnabled(false);
    return cancel;
}
