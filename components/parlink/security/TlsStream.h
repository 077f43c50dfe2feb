#pragma once
// TLS 1.3 straight on a connected, non-blocking TCP socket, both ends of
// the network link: OpenSSL reads and writes the descriptor itself. Records
// are encrypted from the caller's bytes into the kernel's socket buffer and
// decrypted from it into the caller's buffer, with no byte buffered between
// (Qt's TLS socket copied every byte through two buffers of its own on each
// side, more than the cipher cost).
//
// Each side presents its own self-signed certificate (TlsIdentity.h) and
// asks for the peer's without checking it against any authority: the caller
// compares PeerFingerprint() with its pin before it trusts a byte.
// No session tickets: every session is a full handshake with both
// certificates. Nothing here blocks; the caller polls Fd() for WantedEvents().

#include "components/parlink/security/TlsIdentity.h"

#include <QByteArray>
#include <QString>

#include <memory>

class CTlsStream {
public:
    enum class Role { Client, Server };
    // What a call that could not go on waits for (poll events).
    enum class EWait { Nothing, Read, Write };

    ~CTlsStream();
    CTlsStream(const CTlsStream&) = delete;
    CTlsStream& operator=(const CTlsStream&) = delete;

    // A stream over `fd` (made non-blocking here; owned from now on, closed
    // by the destructor even on failure). Null with the reason in `error`
    // when the identity does not load into the TLS library.
    static std::unique_ptr<CTlsStream> Make(Role role, int fd, const CTlsIdentity& identity, QString* error);

    // One step of the handshake: true once it is complete; false while it
    // waits (WantedEvents()) or after it failed (Failed()).
    bool Handshake();
    // After the handshake: SHA-256 of the peer certificate's DER bytes (as
    // CertificateFingerprint), empty when it presented none; its common name.
    QByteArray PeerFingerprint() const;
    QString PeerCommonName() const;

    // Up to `size` decrypted bytes: the count, 0 when none are there yet
    // (see WantedEvents()), -1 when the peer closed or the stream failed.
    qint64 Read(char* data, qint64 size);
    // Takes up to `size` bytes, a record at a time as the socket takes
    // them: the count, 0 when the socket is full (see WriteWants()), -1 on
    // failure. After a write that stopped short, the next one must start
    // with the bytes not taken (it may bring more).
    qint64 Write(const char* data, qint64 size);
    // The last read filled the caller's buffer and more is inside the
    // library (decrypted, or records read ahead): read again before polling,
    // the socket may have nothing more to say.
    bool HasBuffered() const;
    // What the last write that stopped short waits for (Nothing once a
    // write went through).
    EWait WriteWants() const { return m_writeWants; }
    // Poll events for all that waits: the last read or handshake step that
    // found nothing, and a write that stopped short, each kept apart so that
    // a read finding nothing never hides a write that waits for room.
    short WantedEvents() const;
    bool Failed() const { return m_failed; }
    bool PeerClosed() const { return m_closed; }
    QString ErrorText() const { return m_error; }
    int Fd() const { return m_fd; }
    // Tells the peer the stream ends (close_notify), without waiting.
    void Shutdown();

private:
    // The most plaintext one TLS record carries.
    static constexpr qint64 kRecordPlain = 16384;

    CTlsStream() = default;
    // Sorts out SSL_get_error after a call that returned `result`, into
    // what that call waits for.
    void Settle(int result, const char* what, EWait* wants);

    struct CSsl;
    std::unique_ptr<CSsl> m_ssl;
    int m_fd = -1;
    EWait m_readWants = EWait::Nothing;  // of the last read or handshake step
    EWait m_writeWants = EWait::Nothing;
    qint64 m_retryAtLeast = 0;
    bool m_mayHaveMore = false;  // the last read stopped with the caller's buffer full  // a write that waited: its record's bytes
    bool m_failed = false;
    bool m_closed = false;
    QString m_error;
};

// Connects to host:port within `timeoutMs` (every address the name has, in
// turn) and completes a client handshake with `identity`. Null with the
// reason in `error`; nothing is sent on the TLS stream yet.
std::unique_ptr<CTlsStream> ConnectTlsStream(const QString& host, quint16 port, const CTlsIdentity& identity,
                                             int timeoutMs, QString* error);

// Waits (poll) up to `ms` for what `stream` wants; false on a poll error.
bool WaitForTlsStream(const CTlsStream& stream, int ms);
