#include "ui/exchange/TransferAnimation.h"

#include <QPainter>

CTransferAnimation::CTransferAnimation(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("animation"));
    setMinimumSize(sizeHint());
    m_timer.setInterval(90);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kFrames;
        update();
    });
}

void CTransferAnimation::Play() { m_timer.start(); }

void CTransferAnimation::Stop() {
    m_timer.stop();
    m_frame = 0;
    update();
}

void CTransferAnimation::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    const QColor ink = palette().color(QPalette::WindowText);
    const qreal h = area.height();

    // The computer: a screen on a stand.
    const QRectF screen(area.left(), area.top() + h * 0.15, h * 0.55, h * 0.45);
    p.setPen(QPen(ink, 1.5));
    p.setBrush(QColor(0x9f, 0xc5, 0xe8));
    p.drawRoundedRect(screen, 3, 3);
    p.drawLine(QPointF(screen.center().x(), screen.bottom()), QPointF(screen.center().x(), screen.bottom() + h * 0.12));
    p.drawLine(QPointF(screen.left() + h * 0.1, screen.bottom() + h * 0.12),
               QPointF(screen.right() - h * 0.1, screen.bottom() + h * 0.12));

    // The hand-held terminal: a tall body with a small screen.
    const QRectF body(area.right() - h * 0.35, area.top() + h * 0.05, h * 0.35, h * 0.85);
    p.setBrush(QColor(0xd0, 0xd0, 0xd0));
    p.drawRoundedRect(body, 4, 4);
    p.setBrush(QColor(0xb6, 0xe3, 0xa8));
    p.drawRect(body.adjusted(h * 0.05, h * 0.07, -h * 0.05, -h * 0.45));

    // A page on its way from the computer to the terminal.
    const qreal from = screen.right() + 4, to = body.left() - 4 - h * 0.18;
    const qreal x = from + (to - from) * m_frame / (kFrames - 1);
    const QRectF page(x, area.top() + h * 0.3, h * 0.18, h * 0.24);
    p.setBrush(Qt::white);
    p.drawRect(page);
    for (int line = 1; line <= 3; ++line) {
        const qreal y = page.top() + page.height() * line / 4.0;
        p.drawLine(QPointF(page.left() + 2, y), QPointF(page.right() - 2, y));
    }
}
