// The window tests need one QApplication for the whole program. They run on
// the offscreen platform (also when the test list is read at build time), so
// no display is needed; KX_UI_TESTS_ON_SCREEN=1 shows them on the desktop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("KX_UI_TESTS_ON_SCREEN"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
