#pragma once
// Window sizes given in dialog units (a quarter of the font's average
// character width across, an eighth of its height down), so a window keeps
// its proportions on any font and screen.

#include <QFontMetrics>
#include <QSize>

inline QSize DialogUnits(const QFontMetrics& metrics, int width, int height) {
    return {width * metrics.averageCharWidth() / 4, height * metrics.height() / 8};
}
