#pragma once
// Which device or socket a port name means. The program hands the component
// Windows names ("COM1".."COM8", "\\.\WCEUSBSH001", "ActiveSync"); they are
// looked up in the [ports] section of the component's settings files
// (parlink.ini, ParlinkSettingsFiles.h; a later file overrides an earlier
// one), key = the name without a leading "\\.\", compared without regard to
// case. Without an entry the defaults hold:
//
//   COMn            /dev/ttyS<n-1>
//   WCEUSBSH001     /dev/ttyUSB0   (also "USB")
//   ActiveSync      /dev/ttyACM0
//
// A value or a name of the form "local:NAME" is a local socket (the terminal
// emulator's --listen NAME); a path beginning with '/' is a device used as it
// stands; any other name is passed to the serial port layer as it stands (it
// knows the system's own names such as "ttyUSB1").

#include <QString>
#include <QStringList>

struct CPortTarget {
    enum class Kind { Serial, LocalSocket };
    Kind kind = Kind::Serial;
    QString address;  // device path or name, or local socket name

    bool operator==(const CPortTarget&) const = default;
};

CPortTarget ResolvePortName(const QString& portName, const QStringList& settingsFiles);

// The built-in default for a Windows port name; empty when there is none.
QString DefaultPortDevice(const QString& key);
