#include "ui/config/ConfigGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSide = 16;

QPainterPath Triangle(QPointF a, QPointF b, QPointF c) {
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    return path;
}

// A triangle pointing right (or left) with its tip at x.
QPainterPath Arrow(double x, bool right) {
    const double base = right ? x - 5 : x + 5;
    return Triangle(QPointF(base, 3), QPointF(x, 8), QPointF(base, 13));
}

void Draw(QPainter& p, ConfigGlyph glyph, const QColor& colour) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(colour);
    switch (glyph) {
    case ConfigGlyph::Plus:
        p.drawLine(QPointF(3, 8), QPointF(13, 8));
        p.drawLine(QPointF(8, 3), QPointF(8, 13));
        break;
    case ConfigGlyph::Minus: p.drawLine(QPointF(3, 8), QPointF(13, 8)); break;
    case ConfigGlyph::Copy:
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colour, 1.2));
        p.drawRect(QRectF(2.5, 2.5, 8, 9));
        p.drawRect(QRectF(5.5, 5.5, 8, 9));
        break;
    case ConfigGlyph::Up:
        p.setPen(Qt::NoPen);
        p.drawPath(Triangle(QPointF(2, 12), QPointF(8, 4), QPointF(14, 12)));
        break;
    case ConfigGlyph::Down:
        p.setPen(Qt::NoPen);
        p.drawPath(Triangle(QPointF(2, 4), QPointF(8, 12), QPointF(14, 4)));
        break;
    case ConfigGlyph::Right:
    case ConfigGlyph::Left:
        p.setPen(Qt::NoPen);
        p.drawPath(Arrow(glyph == ConfigGlyph::Right ? 11 : 5, glyph == ConfigGlyph::Right));
        break;
    case ConfigGlyph::DoubleRight:
    case ConfigGlyph::DoubleLeft: {
        const bool right = glyph == ConfigGlyph::DoubleRight;
        p.setPen(Qt::NoPen);
        p.drawPath(Arrow(right ? 8 : 3, right));
        p.drawPath(Arrow(right ? 14 : 9, right));
        break;
    }
    }
}

}  // namespace

QIcon ConfigGlyphIcon(ConfigGlyph glyph, const QColor& colour) {
    QIcon icon;
    // Two resolutions, so high-density screens get sharp edges.
    for (int scale : {1, 2}) {
        QPixmap pixmap(kSide * scale, kSide * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        Draw(painter, glyph, colour);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
