// Port names as the program gives them, mapped to devices and sockets.

#include "components/parlink/PortNames.h"
#include "components/parlink/LinkSession.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

CPortTarget Serial(const QString& a) { return {CPortTarget::Kind::Serial, a}; }
CPortTarget Local(const QString& a) { return {CPortTarget::Kind::LocalSocket, a}; }

}  // namespace

TEST(PortNames, WindowsNamesHaveDocumentedDefaults) {
    const QString none;
    EXPECT_EQ(ResolvePortName(QStringLiteral("COM1"), none), Serial(QStringLiteral("/dev/ttyS0")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("COM8"), none), Serial(QStringLiteral("/dev/ttyS7")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("com3"), none), Serial(QStringLiteral("/dev/ttyS2")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("\\\\.\\WCEUSBSH001"), none), Serial(QStringLiteral("/dev/ttyUSB0")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("ActiveSync"), none), Serial(QStringLiteral("/dev/ttyACM0")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("/dev/pts/7"), none), Serial(QStringLiteral("/dev/pts/7")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("local:demo"), none), Local(QStringLiteral("demo")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("ttyUSB1"), none), Serial(QStringLiteral("ttyUSB1")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("COM0"), none), Serial(QStringLiteral("COM0")));
}

TEST(PortNames, SettingsFileOverridesTheDefaults) {
    CTestDir dir;
    const QString ini = dir.File(QStringLiteral("parlink.ini"));
    ASSERT_TRUE(dir.Write(QStringLiteral("parlink.ini"),
                          "[ports]\nCOM3=/dev/ttyUSB5\nWCEUSBSH001=local:usb-demo\nActiveSync=\n"));
    EXPECT_EQ(ResolvePortName(QStringLiteral("COM3"), ini), Serial(QStringLiteral("/dev/ttyUSB5")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("\\\\.\\WCEUSBSH001"), ini), Local(QStringLiteral("usb-demo")));
    // An empty value keeps the default; other names are untouched.
    EXPECT_EQ(ResolvePortName(QStringLiteral("ActiveSync"), ini), Serial(QStringLiteral("/dev/ttyACM0")));
    EXPECT_EQ(ResolvePortName(QStringLiteral("COM4"), ini), Serial(QStringLiteral("/dev/ttyS3")));
}

TEST(PortNames, LinkSettingsAreReadAndBounded) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write(QStringLiteral("parlink.ini"),
                          "[link]\nLinkTimeoutMs=1500\nWindow=100000\nFramePayload=abc\n"));
    const CLinkSettings s = CLinkSettings::Load(dir.File(QStringLiteral("parlink.ini")));
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
