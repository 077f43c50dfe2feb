// The window-size tests run on a small desktop of their own: the offscreen
// platform given one screen of 1280 x 1024 pixels, at the screen scale of
// KX_TEST_SCALE (default 2, so the windows see 640 x 512), with the window
// fitting the program itself installs at start-up.

#include "ui/common/WindowFit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QLocale>
#include <QTemporaryFile>

int main(int argc, char** argv) {
    const QByteArray scale = qEnvironmentVariableIsEmpty("KX_TEST_SCALE") ? QByteArray("2") : qgetenv("KX_TEST_SCALE");
    qputenv("QT_SCALE_FACTOR", scale);
    QTemporaryFile screens;
    if (!screens.open()) return 2;
    screens.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1280, "height": 1024,
                                   "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screens.flush();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens.fileName()));
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QApplication app(argc, argv);
    app.setFont(QFont(QStringLiteral("Tahoma"), 10));
    InstallWindowFitting();
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
