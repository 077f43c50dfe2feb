#pragma once
// The terminal's end of the line: the master side of a pseudo-terminal (the
// program opens the slave as its serial port), a local socket server (the
// program connects with "local:NAME") or a TLS server (TerminalTlsLine.h).
// Non-blocking descriptors for poll().

#include <QString>

#include <memory>

class CTerminalLine {
public:
    virtual ~CTerminalLine() = default;

    // Descriptor to read and write the current connection; -1 when none.
    virtual int DataFd() const = 0;
    // Descriptor that becomes readable when a program connects; -1 if none.
    virtual int ListenFd() const { return -1; }
    // Takes a waiting connection (the previous one is dropped).
    virtual bool Accept() { return false; }
    // The connection ended (socket closed by the program).
    virtual void Disconnect() {}
    // The name the program must be given as its port.
    virtual QString PortName() const = 0;
    // A socket (local or network): nothing is lost or reordered, and there
    // is no serial line's speed to share.
    virtual bool IsSocket() const { return false; }

    // The connection's bytes: Read and Write return the count, 0 when
    // nothing can move now (poll DataFd() again), -1 when the connection
    // ended. Plain descriptors read and write DataFd() as it is.
    virtual qint64 Read(char* data, qint64 size);
    virtual qint64 Write(const char* data, qint64 size);
    // Bytes already read from DataFd() that wait inside the line (TLS
    // records decrypted ahead): readable without a poll.
    virtual bool HasBuffered() const { return false; }
    // Poll events the connection needs besides the caller's own (a TLS
    // read that must first send, or a write that must first receive).
    virtual short ExtraEvents() const { return 0; }

    // A pseudo-terminal: master in raw mode, the slave kept open inside so
    // that the master never sees a hang-up between the program's sessions.
    static std::unique_ptr<CTerminalLine> OpenPty(QString* error);
    // A local socket server; `name` relative to the temporary folder, as the
    // program's local socket looks it up, or an absolute path.
    static std::unique_ptr<CTerminalLine> Listen(const QString& name, QString* error);
};

// Paces bytes to a baud rate (10 bits a byte), as a serial line would.
class CPacer {
public:
    explicit CPacer(int baud = 0);
    bool Enabled() const { return m_rate > 0; }
    // Bytes that may pass now.
    qint64 Allowance(std::int64_t nowMs);
    void Consume(qint64 bytes);
    // When at least one byte may pass again.
    std::int64_t NextAllowanceMs(std::int64_t nowMs) const;
    // Nothing waits for the line now: an idle line saves up no more than a
    // short burst (the catch-up allowance is for time lost while busy).
    void Idle(std::int64_t nowMs);

private:
    double m_rate = 0;  // bytes per ms
    double m_burst = 0;
    double m_idleBurst = 0;
    double m_tokens = 0;
    std::int64_t m_last = -1;
};
