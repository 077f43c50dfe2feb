#include "components/parlink/session/TcpTransport.h"

#include "components/parlink/security/LinkPins.h"
#include "components/parlink/security/LinkTls.h"
#include "components/parlink/security/TlsStream.h"

#include <QDeadlineTimer>

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

class CTcpTransport final : public ILinkTransport {
public:
    CTcpTransport(const CPortTarget& target, const CTransportOptions& options)
        : m_target(target), m_options(options) {}

    bool Open(QString* error) override {
        const QString where = TcpEndpointText(m_target.address, m_target.tcpPort);
        if (m_target.address.isEmpty()) return Fail(error, QStringLiteral("not a network port name (tcp:HOST:PORT)"));
        if (m_options.identityFolder.isEmpty())
            return Fail(error, QStringLiteral("no folder for the link's key and pins"));
        CTlsIdentity identity;
        QString why;
        if (!LinkTls::LoadProgramIdentity(m_options.identityFolder, &identity, &why)) return Fail(error, why);
        QList<CTerminalPin> pins;
        if (!ReadTerminalPins(m_options.identityFolder + QLatin1String(LinkTls::kProgramPinsFile), &pins, &why))
            return Fail(error, why);
        // Not even a connection to a terminal this program does not know.
        const CTerminalPin* pin = ExpectedTerminalPin(pins, where, m_target.fingerprint);
        if (!pin && !m_target.fingerprint.isEmpty())
            return Fail(error, QStringLiteral("no terminal paired with this computer has the certificate %1 that the "
                                              "port name gives: pair it first")
                                   .arg(m_target.fingerprint));
        if (!pin)
            return Fail(error, QStringLiteral("the terminal at %1 is not paired with this computer: pair it first").arg(where));
        const int timeoutMs = std::max(m_options.connectTimeoutMs, kHandshakeMs);
        m_stream = ConnectTlsStream(m_target.address, m_target.tcpPort, identity, timeoutMs, &why);
        if (!m_stream) return Fail(error, why);
        if (m_stream->PeerFingerprint() != pin->fingerprint) {
            m_stream.reset();
            return Fail(error, QStringLiteral("the terminal at %1 presented another certificate than the paired one "
                                              "(another device, or someone in between): refused")
                                   .arg(where));
        }
        const QDeadlineTimer deadline(timeoutMs);
        Write(QByteArray(LinkTls::kGreeting, 3) + LinkTls::kModeLink);
        QByteArray answer;
        while (answer.isEmpty() && !Broken() && !deadline.hasExpired())
            answer = Wait(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        if (answer.isEmpty() || answer[0] != LinkTls::kAccepted) {
            m_stream.reset();
            if (!answer.isEmpty() && answer[0] == LinkTls::kUnknownPeer)
                return Fail(error, QStringLiteral("the terminal at %1 does not know this computer: pair it again").arg(where));
            return Fail(error, QStringLiteral("the terminal at %1 did not accept the session").arg(where));
        }
        // The link's first bytes may have come with the answer.
        m_early = answer.mid(1);
        return true;
    }
    void Close() override {
        if (m_stream && !Broken()) {
            // What is queued still goes (a goodbye), for a second at most.
            const QDeadlineTimer deadline(1000);
            while (PendingWrite() > 0 && !Broken() && !deadline.hasExpired()) {
                Flush();
                if (PendingWrite() > 0) WaitForTlsStream(*m_stream, static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
            }
            m_stream->Shutdown();
        }
        m_stream.reset();
        m_early.clear();
        m_out.clear();
        m_outAt = 0;
    }
    void Write(const QByteArray& bytes) override {
        if (!m_stream) return;
        if (PendingWrite() == 0) {
            m_out.resize(0);
            m_outAt = 0;
        }
        m_out.append(bytes);
        Flush();
    }
    void WriteTaking(QByteArray& bytes) override {
        if (!m_stream) return bytes.resize(0);
        if (PendingWrite() == 0) {
            // The frames become the queue; the caller fills the old one next.
            m_out.swap(bytes);
            m_outAt = 0;
        } else {
            m_out.append(bytes);
        }
        bytes.resize(0);
        Flush();
    }
    qint64 PendingWrite() const override { return m_out.size() - m_outAt; }
    QByteArray Wait(int ms) override {
        QByteArray got;
        CBufferSink sink(got);
        WaitInto(ms, sink);
        return got;
    }
    qsizetype WaitInto(int ms, IReadSink& sink) override {
        if (!m_early.isEmpty()) {
            const QByteArray early = std::exchange(m_early, QByteArray());
            sink.Put(early);
            return early.size();
        }
        if (!m_stream) return 0;
        Flush();
        qsizetype got = ReadAvailable(sink);
        if (got > 0 || Broken() || m_stream->HasBuffered()) return got;
        pollfd p[2] = {{m_stream->Fd(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        // A write that waits for room (or, rarely, for the peer's bytes).
        if (PendingWrite() > 0) p[0].events |= m_stream->WantedEvents();
        if (::poll(p, m_wakeFd >= 0 ? 2 : 1, std::max(ms, 0)) > 0 && p[0].revents != 0) {
            Flush();
            got = ReadAvailable(sink);
        }
        return got;
    }
    void SetWakeFd(int fd) override { m_wakeFd = fd; }
    bool Broken() const override { return !m_stream || m_stream->Failed() || m_stream->PeerClosed(); }
    QString ErrorText() const override {
        if (!m_stream || m_stream->PeerClosed()) return QStringLiteral("the terminal closed the connection");
        return m_stream->ErrorText();
    }

private:
    static constexpr int kHandshakeMs = 10000;

    static bool Fail(QString* error, const QString& why) {
        if (error) *error = why;
        return false;
    }

    // Writes what the socket takes now.
    void Flush() {
        while (m_stream && PendingWrite() > 0) {
            const qint64 n = m_stream->Write(m_out.constData() + m_outAt, PendingWrite());
            if (n <= 0) break;
            m_outAt += n;
        }
    }
    // A sink that is a byte array of its own (Wait, the handshake's answer).
    class CBufferSink final : public IReadSink {
    public:
        explicit CBufferSink(QByteArray& bytes) : m_bytes(bytes) {}
        char* Space(qsizetype size) override {
            m_from = m_bytes.size();
            m_bytes.resize(m_from + size);
            return m_bytes.data() + m_from;
        }
        void Filled(qsizetype n) override { m_bytes.resize(m_from + std::max<qsizetype>(n, 0)); }

    private:
        QByteArray& m_bytes;
        qsizetype m_from = 0;
    };

    // Everything decrypted that is there now, up to a bounded amount (the
    // session's loop gets back to its timers and writes in between).
    qsizetype ReadAvailable(IReadSink& sink) {
        qsizetype size = 0;
        while (size < kMostReadAtOnce) {
            const qint64 n = m_stream->Read(sink.Space(kReadPiece), kReadPiece);
            sink.Filled(std::max<qint64>(n, 0));
            if (n <= 0) break;
            size += n;
        }
        return size;
    }

    static constexpr qsizetype kReadPiece = 256 * 1024;
    static constexpr qsizetype kMostReadAtOnce = 1024 * 1024;

    CPortTarget m_target;
    CTransportOptions m_options;
    std::unique_ptr<CTlsStream> m_stream;
    int m_wakeFd = -1;
    QByteArray m_early;  // link bytes that came with the terminal's acceptance
    QByteArray m_out;  // queued for the socket from m_outAt on
    qsizetype m_outAt = 0;
};

}  // namespace

std::unique_ptr<ILinkTransport> MakeTcpTransport(const CPortTarget& target, const CTransportOptions& options) {
    return std::make_unique<CTcpTransport>(target, options);
}
