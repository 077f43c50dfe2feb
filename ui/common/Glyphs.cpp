#include "ui/common/Glyphs.h"

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

void Draw(QPainter& p, Glyph glyph, const QColor& colour) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(colour);
    switch (glyph) {
    case Glyph::Plus:
        p.drawLine(QPointF(3, 8), QPointF(13, 8));
        p.drawLine(QPointF(8, 3), QPointF(8, 13));
        break;
    case Glyph::Minus: p.drawLine(QPointF(3, 8), QPointF(13, 8)); break;
    case Glyph::Clear:
        p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 1.5, 11, 13));
        p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::SquareCap));
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
        break;
    case Glyph::Copy:
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colour, 1.2));
        p.drawRect(QRectF(2.5, 2.5, 8, 9));
        p.drawRect(QRectF(5.5, 5.5, 8, 9));
        break;
    case Glyph::Up:
        p.setPen(Qt::NoPen);
        p.drawPath(Triangle(QPointF(2, 12), QPointF(8, 4), QPointF(14, 12)));
        break;
    case Glyph::Down:
        p.setPen(Qt::NoPen);
        p.drawPath(Triangle(QPointF(2, 4), QPointF(8, 12), QPointF(14, 4)));
        break;
    case Glyph::Right:
    case Glyph::Left:
        p.setPen(Qt::NoPen);
        p.drawPath(Arrow(glyph == Glyph::Right ? 11 : 5, glyph == Glyph::Right));
        break;
    case Glyph::DoubleRight:
    case Glyph::DoubleLeft: {
        const bool right = glyph == Glyph::DoubleRight;
        p.setPen(Qt::NoPen);
        p.drawPath(Arrow(right ? 8 : 3, right));
        p.drawPath(Arrow(right ? 14 : 9, right));
        break;
    }
    }
}

}  // namespace

QIcon GlyphIcon(Glyph glyph, const QColor& colour) {
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
