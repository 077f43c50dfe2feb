// The line that says why a port could not be opened, and when it advises
// joining the serial ports' group.

#include "exchange/ParlinkSession.h"
#include "tests/support/TestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

const QString kHint = " - serial ports belong to the group \"dialout\": sudo usermod -aG dialout $USER, then log in again";

TEST(PortProblem, TheDialoutHintComesOnlyWhereJoiningTheGroupHelps) {
    const PortOpenProblem problem{"/dev/ttyS0", "Permission denied"};
    const QString line = "cannot open the port COM1 (/dev/ttyS0): Permission denied";
    DeviceAccess serial{.exists = true, .openable = false, .group = "dialout", .processInGroup = false};
    EXPECT_EQ(PortOpenFailureDetail("COM1", problem, serial), line + kHint);

    // Another user's pseudo-terminal: its group is not dialout, joining it cannot help.
    const PortOpenProblem pty{"/dev/pts/7", "Permission denied"};
    const DeviceAccess othersPty{.exists = true, .openable = false, .group = "tty", .processInGroup = false};
    EXPECT_EQ(PortOpenFailureDetail("/dev/pts/7", pty, othersPty), "cannot open the port /dev/pts/7: Permission denied");

    // Already in the group (the device's mode is the matter), a device that may be
    // opened (busy, say), or none at all: no hint either.
    serial.processInGroup = true;
    EXPECT_EQ(PortOpenFailureDetail("COM1", problem, serial), line);
    serial = {.exists = true, .openable = true, .group = "dialout", .processInGroup = false};
    EXPECT_EQ(PortOpenFailureDetail("COM1", problem, serial), line);
    EXPECT_EQ(PortOpenFailureDetail("COM1", {"/dev/ttyS9", "No such file or directory"}, DeviceAccess{}),
              "cannot open the port COM1 (/dev/ttyS9): No such file or directory");
}

TEST(PortProblem, DeviceAccessIsReadFromTheFileSystem) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write("device", ""));
    const DeviceAccess access = DeviceAccessOf(dir.File("device"));
    EXPECT_TRUE(access.exists);
    EXPECT_TRUE(access.openable);
    EXPECT_EQ(access.group, QFileInfo(dir.File("device")).group());
    EXPECT_TRUE(access.processInGroup);  // a file this process made has its group
    EXPECT_FALSE(DeviceAccessOf(dir.File("none")).exists);
    EXPECT_FALSE(DeviceAccessOf("ttyUSB1").exists);  // not a path: nothing to look at
}

}  // namespace
