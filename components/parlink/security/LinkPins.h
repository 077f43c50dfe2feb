#pragma once
// Pinned certificates of the other side.
//
// A terminal names each program it is paired with by the name in the
// program's certificate, one a line (pins.txt):
//
//   NAME SHA256-HEX
//
// The program knows each terminal by its certificate; the address is only
// where to find it (link-pins.txt):
//
//   SHA256-HEX HOST:PORT
//
// HOST:PORT is where the terminal was paired: a port name without a
// fingerprint expects the terminal last paired there. A port name may also
// name the fingerprint ("tcp:HOST:PORT#HEX", PortNames.h): then the terminal
// is accepted at that address whatever address it was paired at, and only
// when it presents that certificate. Files of the earlier shape
// ("HOST:PORT SHA256-HEX", keyed by the address) are read as the same pins
// and rewritten in this shape.
//
// In both files lines that are empty, begin with '#' or do not have their
// shape are skipped. Files are written whole, owner-only (TlsIdentity.h).

#include <QByteArray>
#include <QList>
#include <QString>

struct CLinkPin {
    QString name;            // no blanks; at most 300 characters
    QByteArray fingerprint;  // 32 bytes

    bool operator==(const CLinkPin&) const = default;
};

QList<CLinkPin> ParseLinkPins(const QByteArray& text);
QByteArray FormatLinkPins(const QList<CLinkPin>& pins);

// The pins in `path`; no file means no pins. False when it cannot be read.
bool ReadLinkPins(const QString& path, QList<CLinkPin>* pins, QString* error);
// Adds `pin`, dropping an earlier one of the same name (re-pairing replaces
// it), and stores the file whole.
bool StoreLinkPin(const QString& path, const CLinkPin& pin, QString* error);

struct CTerminalPin {
    QByteArray fingerprint;  // 32 bytes: the terminal
    QString address;         // "host:port" where it was paired

    bool operator==(const CTerminalPin&) const = default;
};

// One pin a fingerprint (a later line replaces an earlier one);
// `earlierShape` tells whether any line had the address first.
QList<CTerminalPin> ParseTerminalPins(const QByteArray& text, bool* earlierShape = nullptr);
QByteArray FormatTerminalPins(const QList<CTerminalPin>& pins);
// The program's pins in `path`; no file means no pins. A file of the earlier
// shape is rewritten in the current one (when that fails it is still read).
// False when it cannot be read.
bool ReadTerminalPins(const QString& path, QList<CTerminalPin>* pins, QString* error);
// Adds `pin`, dropping an earlier one of the same certificate (a terminal
// paired again, perhaps at a new address), and stores the file whole.
bool StoreTerminalPin(const QString& path, const CTerminalPin& pin, QString* error);

// The pin whose certificate the terminal reached at `address` must present:
// with `expectedHex` (the fingerprint a port name gives, 16 to 64 hex digits,
// the start of it being enough) the one pin whose fingerprint begins so,
// wherever it was paired; without, the pin last paired at `address`. Null
// when there is none (or the digits fit more than one pin).
const CTerminalPin* ExpectedTerminalPin(const QList<CTerminalPin>& pins, const QString& address,
                                        const QString& expectedHex);
