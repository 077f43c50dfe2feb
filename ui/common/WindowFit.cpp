#include "ui/common/WindowFit.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace {

// Room left for the frame the window manager draws around a window (title
// bar, borders), when the window is not on screen yet and cannot tell.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 40;
const char* const kFittedProperty = "kxFitted";

QScreen* ScreenOf(QWidget* window) {
    if (QWidget* parent = window->parentWidget())
        if (QScreen* screen = parent->screen()) return screen;
    if (QScreen* screen = window->screen()) return screen;
    return QGuiApplication::primaryScreen();
}


class CWindowFitter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && object->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(object);
            const Qt::WindowType type = widget->windowType();
            if (widget->isWindow() && (type == Qt::Window || type == Qt::Dialog) &&
                !widget->property(kFittedProperty).toBool()) {
                widget->setProperty(kFittedProperty, true);
                FitWindowToScreen(widget);
            }
        }
        return false;
    }
};

}  // namespace

int TitleBarWidth(const QString& title) {
    QFont font = QApplication::font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(title) * 5 / 4 + 8 * metrics.height();
}

void FitWindowToScreen(QWidget* window) {
    const QScreen* screen = ScreenOf(window);
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    QMargins frame = window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
    if (frame.isNull()) frame = QMargins(kFrameWidth / 2, kFrameHeight - kFrameWidth / 2, kFrameWidth / 2, kFrameWidth / 2);
    const QSize room(qMax(1, area.width() - frame.left() - frame.right()),
                     qMax(1, area.height() - frame.top() - frame.bottom()));
    QSize size = window->size();
    size.setWidth(qMax(size.width(), qMin(TitleBarWidth(window->windowTitle()), room.width())));
    size = size.boundedTo(room).expandedTo(window->minimumSize()).boundedTo(window->maximumSize());
    if (size != window->size()) window->resize(size);
}

void InstallWindowFitting() {
    if (qApp) qApp->installEventFilter(new CWindowFitter(qApp));
}
