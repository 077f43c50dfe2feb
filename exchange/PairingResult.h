#pragma once
// How one pairing of this program with a network terminal ended: what the
// component that pairs returns and what the program reports. The program maps
// the outcome to its result code (app/LinkPairing.h).

#include <QByteArray>
#include <QString>

enum class EPairResult {
    Paired,
    NotNetworkPort,          // the port name is not (and does not map to) tcp:HOST:PORT
    BadCode,                 // not a code of 6 digits
    NotReached,              // no TLS session (refused, unreachable, not our protocol)
    NoCode,                  // the terminal takes no attempt now (pairing not open, or too soon after the last)
    WrongCode,               // the code (or the certificates seen) did not match
    Failed,                  // the connection broke or a file could not be written
    ComponentNotRegistered,  // no link component in components.ini
    ComponentCannotPair,     // the component's library cannot be loaded, or it does not pair
};

struct CPairOutcome {
    EPairResult result = EPairResult::Failed;
    QString text;             // what happened, for the user
    QByteArray fingerprint;   // the terminal's certificate, when paired
};
