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
// emulator's --listen NAME); "tcp:HOST:PORT" a terminal on the network (host
// name, IPv4 address or [IPv6 address], TLS with a paired terminal, see
// TcpTransport.h), and "tcp:HOST:PORT#HEX" the paired terminal whose
// certificate's SHA-256 begins with the 16 to 64 hex digits HEX, found at
// that address (LinkPins.h); a path beginning with '/' is a device used as it
// stands; any other name is passed to the serial port layer as it stands (it
// knows the system's own names such as "ttyUSB1").

#include <QString>
#include <QStringList>

struct CPortTarget {
    enum class Kind { Serial, LocalSocket, Tcp };
    Kind kind = Kind::Serial;
    QString address;  // device path or name, local socket name, or TCP host (empty: a malformed tcp: name)
    quint16 tcpPort = 0;
    QString fingerprint;  // tcp: the hex digits after '#', lower-case; empty when the name gives none

    bool operator==(const CPortTarget&) const = default;
};

// The parts of a "tcp:HOST:PORT" name (the prefix in any case). HOST: a host
// name or IPv4 address (letters, digits, '-', '.', '_', at most 253) or an
// IPv6 address in brackets; PORT: 1..65535 in decimal (0 too when
// `allowPortZero`, for a server that takes any free port). False for any
// other text; `host` comes back lower-case and without brackets.
bool ParseTcpPortName(const QString& name, QString* host, quint16* port, bool allowPortZero = false);
// The name of a TCP target as pins and messages show it: "host:port",
// "[v6::addr]:port".
QString TcpEndpointText(const QString& host, quint16 port);

CPortTarget ResolvePortName(const QString& portName, const QStringList& settingsFiles);

// The built-in default for a Windows port name; empty when there is none.
QString DefaultPortDevice(const QString& key);
