#include "app/WindowDisplay.h"

#include <QStringList>

namespace {
bool Set(const QProcessEnvironment& environment, const char* name) {
    return !environment.value(QString::fromLatin1(name)).isEmpty();
}
}  // namespace

bool WindowDisplayAvailable(const QProcessEnvironment& environment, QString* why) {
    const bool x11 = Set(environment, "DISPLAY");
    const bool wayland = Set(environment, "WAYLAND_DISPLAY");
    // Qt tries the platforms of a ';'-separated list in turn.
    const QStringList platforms =
        environment.value(QStringLiteral("QT_QPA_PLATFORM")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (platforms.isEmpty()) {
        if (x11 || wayland) return true;
        *why = QStringLiteral("не заданы DISPLAY и WAYLAND_DISPLAY");
        return false;
    }
    for (const QString& entry : platforms) {
        const QString platform = entry.section(QLatin1Char(':'), 0, 0).trimmed();  // "xcb:arguments"
        if (platform == QLatin1String("xcb")) {
            if (x11) return true;
        } else if (platform.startsWith(QLatin1String("wayland"))) {
            if (wayland) return true;
        } else {
            return true;  // offscreen, vnc, eglfs, linuxfb ...: needs no display server
        }
    }
    *why = QStringLiteral("QT_QPA_PLATFORM=%1, а %2 не задан")
               .arg(environment.value(QStringLiteral("QT_QPA_PLATFORM")),
                    platforms.first().startsWith(QLatin1String("wayland")) ? QStringLiteral("WAYLAND_DISPLAY")
                                                                            : QStringLiteral("DISPLAY"));
    return false;
}

QString NoDisplayMessage(const QString& why) {
    return QStringLiteral("kxloader: главному окну нужен графический дисплей (%1); пакетный режим без окна: "
                          "kxloader КЛЮЧ [КЛЮЧ...], справка: kxloader --help\n")
        .arg(why);
}
