#pragma once
// The byte pipes a session runs over: a serial device (a real port or a
// pseudo-terminal) through QSerialPort, a local socket through
// QLocalSocket, or TLS over TCP (TcpTransport.h). Used only from the session's own I/O thread; every wait is
// bounded, nothing needs an event loop.

#include "components/parlink/security/PortNames.h"

#include <QByteArray>
#include <QString>

#include <memory>

class ILinkTransport {
public:
    virtual ~ILinkTransport() = default;
    virtual bool Open(QString* error) = 0;
    virtual void Close() = 0;
    // Queues bytes and writes as many as the device takes at once.
    virtual void Write(const QByteArray& bytes) = 0;
    virtual qint64 PendingWrite() const = 0;
    // Waits up to `ms` for input (writing queued bytes meanwhile) and returns
    // whatever has arrived (possibly nothing).
    virtual QByteArray Wait(int ms) = 0;
    // The device failed or the peer hung up: nothing more will come.
    virtual bool Broken() const = 0;
    virtual QString ErrorText() const = 0;
    // After a failed Open: the device is there and ours to use, but another
    // program has it open now (a serial port's lock).
    virtual bool InUse() const { return false; }
};

struct CTransportOptions {
    int baudRate = 115200;
    int connectTimeoutMs = 2000;
    // Network ports: the folder of this program's key and pins (ends with '/').
    QString identityFolder;
};

std::unique_ptr<ILinkTransport> MakeLinkTransport(const CPortTarget& target,
                                                  const CTransportOptions& options);
