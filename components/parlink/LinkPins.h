#pragma once
// Pinned certificates of the other side, one a line:
//
//   NAME SHA256-HEX
//
// The program names each terminal by its "host:port" (a terminal that moves
// to another address is paired again there); a terminal names each program
// by the name in its certificate. Lines that are empty, begin with '#' or do
// not have this shape are skipped. The file is written whole, owner-only
// (TlsIdentity.h).

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
