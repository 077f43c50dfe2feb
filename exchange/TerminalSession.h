#pragma once
// One session with the terminal that reads its identity: the terminal
// information button, the connection check of the configuration upload and
// the /i switch of the command line.

#include <QString>
#include <QStringList>

// The terminal's identity after a successful ConnectTerminal. Fields the
// terminal did not send stay empty.
struct TerminalInfo {
    QString program;           // "--s" field 1
    QString programVersion;    // "--s" field 2
    QString firstHField;       // "--h" field 1 (kept, never shown)
    QString terminal;          // "--h" field 2
    QString deviceId;          // "--h" field 3
    QString componentVersion;  // GetComponentVersion
    QString protocolVersion;   // GetProtocolVersion
};

class TerminalSession {
public:
    bool showMessages = true;              // error boxes on failure
    QString caption = QStringLiteral("KXLoader");
    TerminalInfo info;
    // After a failure: one line a person can act on (the port, the reason).
    QString failureDetail;

    // Opens a session on `port`, asks "--s" and "--h", reads the component's
    // versions and closes. Returns 0, or 1-4 (ExchangeCodes.h).
    int ConnectTerminal(const QString& port);
};

// "Программа: ...\nDeviceID: ..." as the information box and the /i file show it.
QString TerminalInfoText(const TerminalInfo& info);
// The same with "Серийный номер" for the DeviceID, as the connection check shows it.
QString TerminalCheckText(const TerminalInfo& info);
