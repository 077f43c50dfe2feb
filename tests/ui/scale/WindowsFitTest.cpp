// Every window of the program on a small desktop at a large screen scale:
// it opens inside the available screen, wide enough for its title, and its
// layout lets it be made smaller than that screen.

#include "config/ConfigModel.h"
#include "directories/DirectoryFiles.h"
#include "tests/ui/main/UiFixture.h"
#include "ui/common/AboutDlg.h"
#include "ui/common/WindowFit.h"
#include "ui/config/ConfigMenuAlliasesDlg.h"
#include "ui/config/ConfigMenuDlg.h"
#include "ui/config/KXConfigDlg.h"
#include "ui/config/StdInputDlg.h"
#include "ui/directories/EditDirGridDlg.h"
#include "ui/exchange/CheckTerminalDlg.h"
#include "ui/exchange/LoadConfigToTerminalDlg.h"
#include "ui/exchange/LoadingConfigToTerminalDlg.h"
#include "ui/exchange/RecvJournalDlg.h"
#include "ui/exchange/UploadingDirDlg.h"
#include "ui/main/DirsDlg.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTest>

namespace {

const QFont kFont(QStringLiteral("Tahoma"), 10);

class WindowsFit : public CUiFixture {
protected:
    void SetUp() override {
        CUiFixture::SetUp();
        // The configurator rewrites a table of the template: a copy of its own,
        // never the build's through the fixture's link.
        const QString copy = programFolder + QStringLiteral("KXConfigFMT.db");
        ASSERT_TRUE(QFile::remove(copy));
        ASSERT_TRUE(QFile::copy(QStringLiteral(KX_PROGRAM_DIR "/KXConfigFMT.db"), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        RememberProject();
        SetProjectPath(project);
        const QString files = QStringLiteral(KX_PROGRAM_DIR "/demo/files/");
        for (const char* name : {"demo_opers.ux3", "demo_wares.ux7"})
            ASSERT_TRUE(QFile::copy(files + QLatin1String(name), dir.File(QStringLiteral("demo/files/")) + name));
        ASSERT_TRUE(model.LoadConfigFileFMT());
    }
    void TearDown() override {
        model.Close();
        CUiFixture::TearDown();
    }

    // Shows `window` and checks it against the screen it is on.
    static void CheckFits(QWidget* window) {
        window->show();
        const QScreen* screen = window->screen();
        ASSERT_NE(screen, nullptr);
        const QRect available = screen->availableGeometry();
        SCOPED_TRACE(window->objectName().toStdString() + " on " + std::to_string(available.width()) + "x" +
                     std::to_string(available.height()) + " at scale " +
                     std::to_string(screen->devicePixelRatio()));
        ASSERT_LE(available.width(), 1280 / screen->devicePixelRatio() + 1);  // the small desktop is in use
        const QRect placed = window->frameGeometry();
        EXPECT_TRUE(available.contains(placed))
            << placed.x() << "," << placed.y() << " " << placed.width() << "x" << placed.height();
        // Its layout lets it be made smaller than the screen...
        const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize());
        EXPECT_LE(least.width(), available.width()) << least.width();
        EXPECT_LE(least.height(), available.height()) << least.height();
        // ...and its title has room across it, or the window is already as
        // wide as the screen allows.
        EXPECT_TRUE(window->width() >= TitleBarWidth(window->windowTitle()) ||
                    window->width() >= available.width() * 9 / 10)
            << window->width() << " for " << window->windowTitle().toStdString();
    }

    CConfigModel model;
};

}  // namespace

TEST_F(WindowsFit, MainWindow) {
    CDirsDlg window(kFont);
    CheckFits(&window);
    // The main window is the widest of all: its least width must leave the
    // window manager's frame room and still fit when the desktop's font is a
    // tenth wider than the one here, or its close box ends up off screen.
    const int available = window.screen()->availableGeometry().width();
    const int least = window.minimumSizeHint().expandedTo(window.minimumSize()).width();
    EXPECT_LE(least * 11 / 10 + 16, available) << least << " of " << available;
    EXPECT_LE(window.frameGeometry().right(), window.screen()->availableGeometry().right());
}

TEST_F(WindowsFit, Configurator) {
    CKXConfigDlg window(model, kFont);
    CheckFits(&window);
}

TEST_F(WindowsFit, DirectoryEditor) {
    CEditDirGridDlg window(&model, kFont);
    window.SetKind(Wares);
    CheckFits(&window);
}

TEST_F(WindowsFit, MenuEditorAndItsNames) {
    CConfigMenuDlg menu(model, kFont);
    CheckFits(&menu);
    CConfigMenuAlliasesDlg names(model, kFont, &menu);
    CheckFits(&names);
}

TEST_F(WindowsFit, NameInputAndAboutBox) {
    CStdInputDlg input(QStringLiteral("Новый тип операции"), QStringLiteral("Название:"), QString(), kFont);
    CheckFits(&input);
    CAboutDlg about;
    CheckFits(&about);
}

TEST_F(WindowsFit, ExchangeWindows) {
    {
        CUploadingDirDlg upload;  // nothing chosen: ends without the terminal
        CheckFits(&upload);
    }
    {
        CRecvJournalDlg journal(QStringLiteral("KXLoader"), false, true);
        CheckFits(&journal);  // gone before its download starts
    }
    {
        CCheckTerminalDlg check([] { return 0; });
        CheckFits(&check);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !check.IsWorking(); }));
    }
    {
        CLoadConfigToTerminalDlg load(model, QStringLiteral("COM1"));
        CheckFits(&load);
        CLoadingConfigToTerminalDlg wait(model, QStringLiteral("COM1"), -1, &load);
        CheckFits(&wait);  // gone before its work starts
    }
}
