#pragma once
// The terminal on the network: a TLS 1.3 server on ADDR:PORT (--listen-tcp).
// A thread of its own accepts connections, completes the handshake, checks
// the program's certificate against the pins and runs pairings
// (LinkTls.h, Pairing.h, TerminalPairing.h). Only a paired program's session
// reaches the emulator's loop: its TLS stream, handed over whole once the
// greeting passed, which the loop then reads and writes itself (no thread
// in between). The device never sees a byte from anyone else.

#include "tools/kxterminal/TerminalLine.h"
#include "tools/kxterminal/TerminalPairing.h"

#include <QByteArray>

#include <memory>

class CTlsLineFront;
class CTlsStream;

class CTlsTerminalLine final : public CTerminalLine {
public:
    ~CTlsTerminalLine() override;

    // `address`: "HOST:PORT" as in a tcp: port name, port 0 for any free one.
    // `windowFd`: readable when the person at the terminal asks for pairing
    // (-1: never).
    static std::unique_ptr<CTlsTerminalLine> Listen(const QString& address, CTerminalPairing& pairing, int windowFd,
                                                    QString* error);

    int DataFd() const override;
    bool IsSocket() const override { return true; }
    qint64 Read(char* data, qint64 size) override;
    qint64 Write(const char* data, qint64 size) override;
    bool HasBuffered() const override;
    short ExtraEvents() const override;
    int ListenFd() const override;
    bool Accept() override;
    void Disconnect() override;
    // "tcp:HOST:PORT" with the port actually listened on.
    QString PortName() const override { return m_portName; }

private:
    CTlsTerminalLine() = default;
    // Writes the session's acceptance: 1 once it is out, 0 while the socket
    // is full, -1 when the stream failed.
    qint64 FlushAcceptance();

    std::unique_ptr<CTlsLineFront> m_front;
    std::unique_ptr<CTlsStream> m_conn;
    QByteArray m_input;   // the program's bytes that came with its greeting
    QByteArray m_output;  // the acceptance, until it is written
    QString m_portName;
};
