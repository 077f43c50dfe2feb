// Start-up takes the directory code page from kxloader.ini.

#include "app/KXConfigApp.h"
#include "directories/DirectoryCodePage.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(DirectoryCodePageSettingTest, StartUpAppliesTheKeyAndDefaultsToWindows1251) {
    CTestDir dir;
    {
        ASSERT_TRUE(dir.Write("kxloader.ini", "[kxloader.exe]\nDirectoryCodePage=cp866\n"));
        CKXConfigApp app;
        app.ProgramFolderOverride = dir.Path();
        app.InitInstance({"kxloader"});
        EXPECT_EQ(app.Settings.directoryCodePage, QStringLiteral("cp866"));
        EXPECT_FALSE(DirectoryCodec().IsWindows1251());
        EXPECT_EQ(DirectoryCodec().Decode(QByteArray("\x8f")), QStringLiteral("П"));  // cp866
    }
    {
        ASSERT_TRUE(dir.Write("kxloader.ini", "[kxloader.exe]\nport=COM2\n"));
        CKXConfigApp app;
        app.ProgramFolderOverride = dir.Path();
        app.InitInstance({"kxloader"});
        EXPECT_EQ(app.Settings.directoryCodePage, QStringLiteral("windows-1251"));
        EXPECT_TRUE(DirectoryCodec().IsWindows1251());
    }
    {
        ASSERT_TRUE(dir.Write("kxloader.ini", "[kxloader.exe]\nDirectoryCodePage=utf-16\n"));
        CKXConfigApp app;
        app.ProgramFolderOverride = dir.Path();
        app.InitInstance({"kxloader"});
        EXPECT_TRUE(DirectoryCodec().IsWindows1251());  // separators would not be single bytes
    }
}

}  // namespace
