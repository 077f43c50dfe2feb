#pragma once
// Window sizes given in dialog units, the font-relative unit the windows'
// layouts were drawn in: a horizontal unit is a quarter of the font's average
// character width (taken over the 52 Latin letters), a vertical unit an eighth
// of its height. Layouts built with these sizes keep their proportions on any
// font and screen.

#include <QFont>
#include <QSize>

class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    int X(int units) const { return (units * m_baseX + 2) / 4; }
    int Y(int units) const { return (units * m_baseY + 4) / 8; }
    QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

private:
    int m_baseX = 0;
    int m_baseY = 0;
};
