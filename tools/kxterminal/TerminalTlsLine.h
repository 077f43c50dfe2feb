#pragma once
// The terminal on the network: a TLS 1.3 server on ADDR:PORT (--listen-tcp).
// A thread of its own accepts connections, completes the handshake, checks
// the program's certificate against the pins and runs pairings
// (LinkTls.h, Pairing.h, TerminalPairing.h). Only a paired program's session
// reaches the emulator's loop, as a plain byte stream through a socket pair:
// the device never sees a byte from anyone else.

#include "tools/kxterminal/TerminalLine.h"
#include "tools/kxterminal/TerminalPairing.h"

#include <memory>

class CTlsLineFront;

class CTlsTerminalLine final : public CTerminalLine {
public:
    ~CTlsTerminalLine() override;

    // `address`: "HOST:PORT" as in a tcp: port name, port 0 for any free one.
    // `windowFd`: readable when the person at the terminal asks for pairing
    // (-1: never).
    static std::unique_ptr<CTlsTerminalLine> Listen(const QString& address, CTerminalPairing& pairing, int windowFd,
                                                    QString* error);

    int DataFd() const override { return m_conn; }
    bool IsSocket() const override { return true; }
    int ListenFd() const override;
    bool Accept() override;
    void Disconnect() override;
    // "tcp:HOST:PORT" with the port actually listened on.
    QString PortName() const override { return m_portName; }

private:
    CTlsTerminalLine() = default;

    std::unique_ptr<CTlsLineFront> m_front;
    int m_conn = -1;
    QString m_portName;
};
