// The version text and the about box that shows it.

#include "platform/ProgramInformation.h"
#include "ui/common/AboutDlg.h"
#include "ui/common/FileVersionInfo.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

TEST(VersionText, ShowsTheBuildNumberOnlyWhenSetAndAppendsTheSpecialBuild) {
    EXPECT_EQ(CFileVersionInfo(1, 2, 3, 0, QString()).VersionText(), "1.2.3");
    EXPECT_EQ(CFileVersionInfo(1, 2, 3, 4, QString()).VersionText(), "1.2.3.4");
    EXPECT_EQ(CFileVersionInfo(2, 0, 10, 7, "beta").VersionText(), "2.0.10.7 beta");
    // Each part keeps its own byte of the packed version.
    EXPECT_EQ(CFileVersionInfo(1, 2, 3, 4, QString()).PackedVersion(), 0x01020304u);
    EXPECT_EQ(CFileVersionInfo(300, 2, 3, 4, QString()).PackedVersion() >> 24, 300u & 0xFF);
    // The windows and --version show this build's version the same way.
    EXPECT_EQ(CFileVersionInfo().VersionText(), ProgramVersion());
    EXPECT_EQ(ProgramVersionLine("kxloader"), "kxloader (KXConfig) " + CFileVersionInfo().VersionText() + "\n");
}

TEST(AboutBox, OpensFromTheWindowMenuWithTheProgramVersionAndClosesWithOk) {
    QWidget window;
    AddAboutToWindowMenu(&window);
    auto* about = window.findChild<QAction*>("id16");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), "О KXLoader");

    QString caption, shown;
    bool closedByOk = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        shown = box->findChild<QLabel*>("versionText")->text();
        QTest::mouseClick(box->findChild<QPushButton*>("id1"), Qt::LeftButton);
        closedByOk = !box->isVisible();
    });
    about->trigger();
    EXPECT_EQ(caption, "О KxLoader");
    EXPECT_EQ(shown, CFileVersionInfo().VersionText());
    EXPECT_TRUE(closedByOk);
}
