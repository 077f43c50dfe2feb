#include "app/KXConfigApp.h"
#include "app/Settings.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"


#include <gtest/gtest.h>

namespace {

class Startup : public ::testing::Test {
protected:
    CTestDir dir;
};

TEST_F(Startup, DefaultsWhenNoSettingsFilesExist) {
    CKXConfigApp app;
    app.ProgramFolderOverride = dir.Path();
    app.InitInstance({"kxloader"});
    EXPECT_EQ(app.ProgramFolder, dir.Path() + "/");
    EXPECT_EQ(app.Paths.loaderSettings, dir.Path() + "/kxloader.ini");
    EXPECT_EQ(app.Paths.configSettings, dir.Path() + "/kxconfig.ini");
    EXPECT_EQ(app.Settings.port, "COM1");
    EXPECT_EQ(app.Settings.config, "");
    EXPECT_EQ(app.Settings.overwriteJournal, 1);
    EXPECT_EQ(app.Settings.setEdit, 0);
}

TEST_F(Startup, ReadsBothSettingsFiles) {
    ASSERT_TRUE(dir.Write("kxloader.ini",
                          "[kxloader.exe]\nport=USB\nconfig=/data/Склад.kxc\nOverwriteJournal=0\n"));
    ASSERT_TRUE(dir.Write("kxconfig.ini", "[kxloader.exe]\nsetedit=1\n"));
    CKXConfigApp app;
    app.ProgramFolderOverride = dir.Path();
    app.InitInstance({"kxloader"});
    EXPECT_EQ(app.Settings.port, "USB");
    EXPECT_EQ(app.Settings.config, "/data/Склад.kxc");
    EXPECT_EQ(app.Settings.overwriteJournal, 0);
    EXPECT_EQ(app.Settings.setEdit, 1);
}

TEST_F(Startup, AnEmptyPortIsTheSettingAndAnEmptySettingIsCom1ForEveryReader) {
    const CSettingsPaths paths = CSettingsPaths::ForProgramFolder(dir.Path());
    const QString previous = ProgramFolder();
    SetProgramFolder(dir.Path() + "/");
    // No settings file yet.
    EXPECT_EQ(ReadPortSetting(paths), "COM1");
    EXPECT_EQ(ExchangePort(QString()), "COM1");
    // A key without a value names no link: the default, at start-up too.
    ASSERT_TRUE(dir.Write("kxloader.ini", "[kxloader.exe]\nport=\n"));
    EXPECT_EQ(ReadPortSetting(paths), "COM1");
    EXPECT_EQ(ExchangePort(QString()), "COM1");
    CKXConfigApp app;
    app.ProgramFolderOverride = dir.Path();
    app.SetInteractiveRunner([](CKXConfigApp&) {});
    app.InitInstance({"kxloader"});
    EXPECT_EQ(app.Settings.port, "COM1");
    // A set port; a port the window gives wins over it.
    ASSERT_TRUE(dir.Write("kxloader.ini", "[kxloader.exe]\nport=/dev/ttyUSB3\n"));
    EXPECT_EQ(ExchangePort(QString()), "/dev/ttyUSB3");
    EXPECT_EQ(ExchangePort("COM4"), "COM4");
    SetProgramFolder(previous);
}

TEST_F(Startup, AnyArgumentSelectsTheCommandLine) {
    EXPECT_EQ(DecideRunMode(1), RunMode::Interactive);
    EXPECT_EQ(DecideRunMode(2), RunMode::CommandLine);

    int interactive = 0, commandLine = 0;
    QStringList seen;
    CKXConfigApp app;
    app.ProgramFolderOverride = dir.Path();
    app.SetInteractiveRunner([&](CKXConfigApp&) { ++interactive; });
    app.SetCommandLineRunner([&](CKXConfigApp& a, const QStringList& args) {
        ++commandLine;
        seen = args;
        a.ResultCode = 105;
    });
    EXPECT_FALSE(app.InitInstance({"kxloader"}));
    EXPECT_EQ(interactive, 1);
    EXPECT_EQ(commandLine, 0);
    EXPECT_EQ(app.ExitInstance(), 0);

    EXPECT_FALSE(app.InitInstance({"kxloader", "/J"}));
    EXPECT_EQ(commandLine, 1);
    EXPECT_EQ(seen, QStringList({"kxloader", "/J"}));
    EXPECT_EQ(app.Mode, RunMode::CommandLine);
    EXPECT_EQ(app.ExitInstance(), 105);
}

TEST_F(Startup, ExitWritesTheReportOnlyWhenAsked) {
    CKXConfigApp app;
    app.ProgramFolderOverride = dir.Path();
    app.SetCommandLineRunner([&](CKXConfigApp& a, const QStringList&) {
        a.ReportFilePath = dir.File("errors.txt");
        a.ResultCode = 203;
        a.DiagnosticText = "T";
    });
    app.InitInstance({"kxloader", "/x"});
    EXPECT_EQ(app.ExitInstance(), 203);
    EXPECT_EQ(dir.Read("errors.txt"), Cp1251("203;Неизвестный код ошибки;T\r\n"));

    CKXConfigApp quiet;
    quiet.ProgramFolderOverride = dir.Path();
    quiet.SetCommandLineRunner([](CKXConfigApp&, const QStringList&) {});
    quiet.InitInstance({"kxloader", "/c"});
    EXPECT_EQ(quiet.ExitInstance(), 0);
}

}  // namespace
