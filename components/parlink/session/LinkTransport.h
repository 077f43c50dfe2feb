#pragma once
// The byte pipes a session runs over: a serial device (a real port or a
// pseudo-terminal) through QSerialPort, a local socket through
// QLocalSocket, or TLS over TCP (TcpTransport.h). Used only from the session's own I/O thread; every wait is
// bounded, nothing needs an event loop.

#include "components/parlink/security/PortNames.h"

#include <QByteArray>
#include <QString>

#include <cstring>
#include <memory>

class ILinkTransport {
public:
    virtual ~ILinkTransport() = default;
    virtual bool Open(QString* error) = 0;
    virtual void Close() = 0;
    // Queues bytes and writes as many as the device takes at once.
    virtual void Write(const QByteArray& bytes) = 0;
    // The same for bytes the caller is done with: `bytes` comes back empty,
    // perhaps with memory of the transport's to fill next (a socket's queue
    // then takes them without a copy).
    virtual void WriteTaking(QByteArray& bytes) {
        Write(bytes);
        bytes.resize(0);
    }
    virtual qint64 PendingWrite() const = 0;
    // Waits up to `ms` for input (writing queued bytes meanwhile) and returns
    // whatever has arrived (possibly nothing).
    virtual QByteArray Wait(int ms) = 0;

    // Where WaitInto puts what it reads: room for up to `size` bytes, then
    // how many of them were filled.
    class IReadSink {
    public:
        virtual char* Space(qsizetype size) = 0;
        virtual void Filled(qsizetype n) = 0;
        // Bytes that are already in a buffer of their own.
        void Put(QByteArrayView bytes) {
            if (bytes.isEmpty()) return;
            std::memcpy(Space(bytes.size()), bytes.data(), static_cast<std::size_t>(bytes.size()));
            Filled(bytes.size());
        }

    protected:
        ~IReadSink() = default;
    };
    // Wait, reading into the sink's own memory (a socket's bytes go from the
    // TLS library straight to the frame decoder); the bytes read.
    virtual qsizetype WaitInto(int ms, IReadSink& sink) {
        const QByteArray got = Wait(ms);
        sink.Put(got);
        return got.size();
    }
    // A descriptor whose turning readable ends a wait early (the session's
    // caller queued something; CWakeSignal); the wait leaves draining it to
    // its owner. A transport that cannot poll it waits out its time.
    virtual void SetWakeFd(int fd) { (void)fd; }
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
