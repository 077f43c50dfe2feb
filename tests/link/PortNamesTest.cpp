// Port names as the program gives them, mapped to devices and sockets.

#include "components/parlink/session/ParlinkSettingsFiles.h"
#include "components/parlink/security/PortNames.h"
#include "components/parlink/session/LinkSession.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

CPortTarget Serial(const QString& a) { return {CPortTarget::Kind::Serial, a, 0, QString()}; }
CPortTarget Local(const QString& a) { return {CPortTarget::Kind::LocalSocket, a, 0, QString()}; }

// Each name resolves, with the settings `files`, to its target.
struct Resolved {
    const char* name;
    CPortTarget target;
};
void ExpectResolved(const QStringList& files, std::initializer_list<Resolved> cases) {
    for (const Resolved& c : cases) EXPECT_EQ(ResolvePortName(QString::fromUtf8(c.name), files), c.target) << c.name;
}

}  // namespace

TEST(PortNames, WindowsNamesHaveDocumentedDefaults) {
    const QStringList none;
    ExpectResolved(none, {{"COM1", Serial("/dev/ttyS0")},
                          {"COM8", Serial("/dev/ttyS7")},
                          {"com3", Serial("/dev/ttyS2")},
                          {"\\\\.\\WCEUSBSH001", Serial("/dev/ttyUSB0")},
                          {"ActiveSync", Serial("/dev/ttyACM0")},
                          {"/dev/pts/7", Serial("/dev/pts/7")},
                          {"local:demo", Local("demo")},
                          {"ttyUSB1", Serial("ttyUSB1")},
                          {"COM0", Serial("COM0")}});
}

TEST(PortNames, SettingsFileOverridesTheDefaults) {
    CTestDir dir;
    const QStringList ini{dir.File(QStringLiteral("parlink.ini"))};
    ASSERT_TRUE(dir.Write(QStringLiteral("parlink.ini"),
                          "[ports]\nCOM3=/dev/ttyUSB5\nWCEUSBSH001=local:usb-demo\nActiveSync=\n"));
    ExpectResolved(ini, {{"COM3", Serial("/dev/ttyUSB5")},
                         {"\\\\.\\WCEUSBSH001", Local("usb-demo")}});
    // An empty value keeps the default; other names are untouched.
    ExpectResolved(ini, {{"ActiveSync", Serial("/dev/ttyACM0")},
                         {"COM4", Serial("/dev/ttyS3")}});
}

TEST(PortNames, TheUsersFileIsReadOverTheAdministratorsKeyByKey) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write(QStringLiteral("etc.ini"),
                          "[ports]\nCOM1=/dev/ttyUSB3\nCOM2=/dev/ttyUSB4\n[link]\nLinkTimeoutMs=1500\nWindow=8\n"));
    ASSERT_TRUE(dir.Write(QStringLiteral("user.ini"), "[ports]\nCOM2=local:mine\n[link]\nWindow=4\n"));
    const QStringList files{dir.File(QStringLiteral("etc.ini")), dir.File(QStringLiteral("user.ini"))};
    ExpectResolved(files, {{"COM1", Serial("/dev/ttyUSB3")},
                           {"COM2", Local("mine")},
                           {"COM3", Serial("/dev/ttyS2")}});
    const CLinkSettings s = CLinkSettings::Load(files);
    EXPECT_EQ(s.linkTimeoutMs, 1500);
    EXPECT_EQ(s.endpoint.window, 4);
    // A missing user file leaves the administrator's settings.
    const QStringList adminOnly{files[0], dir.File(QStringLiteral("missing.ini"))};
    EXPECT_EQ(ResolvePortName(QStringLiteral("COM2"), adminOnly), Serial(QStringLiteral("/dev/ttyUSB4")));
    EXPECT_EQ(CLinkSettings::Load(adminOnly).endpoint.window, 8);
}

TEST(PortNames, SettingsFilesFollowTheLayoutOfTheLibrary) {
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), QStringLiteral("/home/anna"));
    // Portable: beside the library only.
    EXPECT_EQ(ParlinkSettingsFiles(QStringLiteral("/opt/kx/bin/"), env), QStringList({"/opt/kx/bin/parlink.ini"}));
    // Installed under /usr: the administrator's in /etc, then the user's.
    EXPECT_EQ(ParlinkSettingsFiles(QStringLiteral("/usr/lib/kxconfig/"), env),
              QStringList({"/etc/kxconfig/parlink.ini", "/home/anna/.config/kxconfig/parlink.ini"}));
    // Any other prefix keeps its own etc/; XDG_CONFIG_HOME moves the user's.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("/srv/cfg"));
    EXPECT_EQ(ParlinkSettingsFiles(QStringLiteral("/usr/local/lib/kxconfig/"), env),
              QStringList({"/usr/local/etc/kxconfig/parlink.ini", "/srv/cfg/kxconfig/parlink.ini"}));
    EXPECT_TRUE(ParlinkSettingsFiles(QString(), env).isEmpty());
}

TEST(PortNames, LinkSettingsAreReadAndBounded) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write(QStringLiteral("parlink.ini"),
                          "[link]\nLinkTimeoutMs=1500\nWindow=100000\nFramePayload=abc\n"));
    const CLinkSettings s = CLinkSettings::Load({dir.File(QStringLiteral("parlink.ini"))});
    EXPECT_EQ(s.linkTimeoutMs, 1500);
    EXPECT_EQ(s.endpoint.window, 256);
    EXPECT_EQ(s.endpoint.maxPayload, CLinkSettings().endpoint.maxPayload);  // not a number: default
    EXPECT_EQ(s.answerTimeoutMs, CLinkSettings().answerTimeoutMs);
    EXPECT_EQ(s.EffectiveLinkTimeoutMs(), 1500);
}

TEST(PortNames, SlowLinesGetALongerLinkTimeout) {
    CLinkSettings s;
    s.baudRate = 2400;  // a full frame takes more than 4 s on the line
    EXPECT_GT(s.EffectiveLinkTimeoutMs(), 9000);
    s.baudRate = 115200;
    EXPECT_EQ(s.EffectiveLinkTimeoutMs(), s.linkTimeoutMs);
}
