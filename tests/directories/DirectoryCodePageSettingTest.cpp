// Start-up takes the directory code page from kxloader.ini.

#include "app/KXConfigApp.h"
#include "directories/DirectoryCodePage.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Starts the program with `settings` as the [kxloader.exe] section of its
// kxloader.ini and runs `check` while it is up.
void StartWith(const QByteArray& settings, const std::function<void(const CKXConfigApp&)>& check) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write("kxloader.ini", "[kxloader.exe]\n" + settings));
    CKXConfigApp app;
    app.ProgramFolderOverride = dir.Path();
    app.InitInstance({"kxloader"});
    check(app);
}

TEST(DirectoryCodePageSettingTest, StartUpAppliesTheKeyAndDefaultsToWindows1251) {
    StartWith("DirectoryCodePage=cp866\n", [](const CKXConfigApp& app) {
        EXPECT_EQ(app.Settings.directoryCodePage, QStringLiteral("cp866"));
        EXPECT_FALSE(DirectoryCodec().IsWindows1251());
        EXPECT_EQ(DirectoryCodec().Decode(QByteArray("\x8f")), QStringLiteral("П"));  // cp866
    });
    StartWith("port=COM2\n", [](const CKXConfigApp& app) {
        EXPECT_EQ(app.Settings.directoryCodePage, QStringLiteral("windows-1251"));
        EXPECT_TRUE(DirectoryCodec().IsWindows1251());
    });
    StartWith("DirectoryCodePage=utf-16\n", [](const CKXConfigApp&) {
        EXPECT_TRUE(DirectoryCodec().IsWindows1251());  // separators would not be single bytes
    });
}

}  // namespace
