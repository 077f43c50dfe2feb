#include "tools/kxterminal/TerminalTlsLine.h"

#include "components/parlink/security/LinkTls.h"
#include "components/parlink/security/PortNames.h"
#include "components/parlink/security/Spake2.h"
#include "components/parlink/security/TlsStream.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// A peer that has not finished the handshake, greeting and pairing by then
// is dropped: nobody holds a half-open connection.
constexpr int kSetupMs = 15000;

// What a client's first bytes say about it, before the TLS library sees them.
enum class EHello { NeedMore, Tls13, NotTls13, LeaveToTls };

// Looks at the first TLS record: a ClientHello that offers TLS 1.3 (in its
// supported_versions extension) goes on to the TLS library; plaintext, or a
// hello of TLS 1.2 or older, is answered here. Qt's TLS socket ends a failed
// handshake without sending the alert the TLS library made, so a client would
// see a bare close.
EHello LookAtHello(const unsigned char* b, qsizetype n) {
    if (n < 1) return EHello::NeedMore;
    if (b[0] != 0x16) return EHello::NotTls13;  // not a TLS handshake record
    if (n < 5) return EHello::NeedMore;
    const qsizetype record = (qsizetype(b[3]) << 8) | b[4];
    if (record > 16384 + 256) return EHello::NotTls13;
    if (n < 5 + record) return EHello::NeedMore;
    const unsigned char* p = b + 5;
    const unsigned char* end = p + record;
    if (record < 4 || p[0] != 0x01) return EHello::NotTls13;  // not a ClientHello
    const qsizetype hello = (qsizetype(p[1]) << 16) | (qsizetype(p[2]) << 8) | p[3];
    // A hello spread over several records: the TLS library decides alone.
    if (hello > record - 4) return EHello::LeaveToTls;
    end = p + 4 + hello;
    p += 4 + 2 + 32;  // legacy_version, random
    const auto skip = [&](int lengthBytes) {
        if (end - p < lengthBytes) return false;
        qsizetype len = 0;
        for (int i = 0; i < lengthBytes; ++i) len = (len << 8) | *p++;
        if (end - p < len) return false;
        p += len;
        return true;
    };
    if (p > end || !skip(1) || !skip(2) || !skip(1)) return EHello::LeaveToTls;  // session id, suites, compression
    if (p == end) return EHello::NotTls13;  // no extensions: TLS 1.2 or older
    if (end - p < 2) return EHello::LeaveToTls;
    const unsigned char* extEnd = p + ((qsizetype(p[0]) << 8) | p[1]) + 2;
    p += 2;
    if (extEnd > end) return EHello::LeaveToTls;
    while (extEnd - p >= 4) {
        const int type = (p[0] << 8) | p[1];
        const qsizetype len = (qsizetype(p[2]) << 8) | p[3];
        p += 4;
        if (extEnd - p < len) return EHello::LeaveToTls;
        if (type == 0x002b && len >= 1) {  // supported_versions
            for (qsizetype i = 1; i + 1 < len && i + 1 <= p[0]; i += 2)
                if (p[i] == 0x03 && p[i + 1] == 0x04) return EHello::Tls13;
            return EHello::NotTls13;
        }
        p += len;
    }
    return EHello::NotTls13;
}

// A fatal protocol_version alert (RFC 8446, 6): what a client that does not
// speak TLS 1.3 gets before the connection closes.
constexpr unsigned char kProtocolVersionAlert[] = {0x15, 0x03, 0x03, 0x00, 0x02, 0x02, 0x46};

}  // namespace

// A session that passed: its TLS stream, the link bytes the program sent
// right behind its greeting, and the acceptance not yet written.
struct CHandedSession {
    std::unique_ptr<CTlsStream> stream;
    QByteArray input;
    QByteArray output;
};

// Runs in the front thread: listening, handshakes, greetings and pairing.
class CTlsLineFront final : public QThread {
public:
    CTlsLineFront(QHostAddress address, quint16 port, CTerminalPairing& pairing, int windowFd)
        : m_address(std::move(address)), m_port(port), m_pairing(pairing), m_windowFd(windowFd) {
        if (::pipe2(m_notify, O_CLOEXEC | O_NONBLOCK) != 0) m_notify[0] = m_notify[1] = -1;
    }
    ~CTlsLineFront() override {
        quit();
        wait();
        if (m_notify[0] >= 0) ::close(m_notify[0]);
        if (m_notify[1] >= 0) ::close(m_notify[1]);
    }

    // Starts the thread; the port listened on, 0 with `error` on failure.
    quint16 Start(QString* error) {
        start();
        const auto [port, why] = m_started.get_future().get();
        if (port == 0 && error) *error = why;
        return port;
    }
    // The address listened on (after Start).
    QHostAddress Address() const { return m_listening; }
    int NotifyFd() const { return m_notify[0]; }
    // The newest accepted session; no stream when none waits.
    CHandedSession TakeReady() {
        char c;
        while (::read(m_notify[0], &c, 1) > 0) {
        }
        std::lock_guard guard(m_lock);
        if (m_ready.empty()) return {};
        // Only the newest counts: an older one was already given up.
        CHandedSession newest = std::move(m_ready.back());
        m_ready.clear();
        return newest;
    }

    // Called in this thread when a peer passed: its stream is the loop's
    // from now on, this thread never touches it again.
    void Hand(CHandedSession session) {
        {
            std::lock_guard guard(m_lock);
            m_ready.push_back(std::move(session));
        }
        const char c = 'c';
        [[maybe_unused]] const ssize_t n = ::write(m_notify[1], &c, 1);
    }
    CTerminalPairing& Pairing() { return m_pairing; }
    const CTlsIdentity& Identity() const { return m_identity; }

protected:
    void run() override;

private:
    QHostAddress m_address;
    quint16 m_port;
    CTerminalPairing& m_pairing;
    int m_windowFd;
    QHostAddress m_listening;
    CTlsIdentity m_identity;
    std::promise<std::pair<quint16, QString>> m_started;
    int m_notify[2] = {-1, -1};
    std::mutex m_lock;
    std::deque<CHandedSession> m_ready;
};

namespace {

// One connection, from its first bytes to the end of its greeting (a link
// session, handed to the loop) or of its pairing.
class CTlsPeer final : public QObject {
public:
    CTlsPeer(qintptr descriptor, CTlsLineFront& front, QObject* parent) : QObject(parent), m_front(front) {
        m_setup.setSingleShot(true);
        connect(&m_setup, &QTimer::timeout, this, [this] { End(); });
        m_setup.start(kSetupMs);
        // The client's first bytes are looked at (not taken) before the TLS
        // library gets the connection.
        m_raw = static_cast<int>(descriptor);
        m_firstBytes = std::make_unique<QSocketNotifier>(m_raw, QSocketNotifier::Read, this);
        connect(m_firstBytes.get(), &QSocketNotifier::activated, this, [this] { LookAtFirstBytes(); });
        m_again.setSingleShot(true);
        connect(&m_again, &QTimer::timeout, this, [this] {
            if (m_firstBytes) m_firstBytes->setEnabled(true);
        });
    }
    ~CTlsPeer() override {
        m_readable.reset();
        m_writable.reset();
        m_firstBytes.reset();
        m_tls.reset();
        if (m_raw >= 0) ::close(m_raw);
    }

private:
    enum class Phase { Handshake, Greeting, Confirming, Closing, Done };

    void LookAtFirstBytes() {
        static constexpr qsizetype kMost = 5 + 16384 + 256;
        std::vector<unsigned char> buffer(kMost);
        const ssize_t n = ::recv(m_raw, buffer.data(), buffer.size(), MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) return End();
        const EHello hello = LookAtHello(buffer.data(), n);
        if (hello == EHello::NeedMore) {
            // The bytes stay in the socket, so the notifier would fire again
            // at once: look again a little later (the set-up time bounds it).
            m_firstBytes->setEnabled(false);
            m_again.start(20);
            return;
        }
        m_firstBytes.reset();
        m_again.stop();
        if (hello == EHello::NotTls13) {
            std::fprintf(stderr, "kxterminal: refused a client without TLS 1.3\n");
            // What it sent is read first: closing on unread bytes would reset
            // the connection and could lose the alert on the way.
            char sink[4096];
            while (::recv(m_raw, sink, sizeof sink, MSG_DONTWAIT) > 0) {
            }
            [[maybe_unused]] const ssize_t w =
                ::send(m_raw, kProtocolVersionAlert, sizeof kProtocolVersionAlert, MSG_NOSIGNAL | MSG_DONTWAIT);
            ::shutdown(m_raw, SHUT_WR);
            return End();
        }
        const int fd = std::exchange(m_raw, -1);
        // Answers go out as they are ready: without this, Nagle's algorithm
        // held a small frame for the program's delayed acknowledgement.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        QString error;
        m_tls = CTlsStream::Make(CTlsStream::Role::Server, fd, m_front.Identity(), &error);
        if (!m_tls) return End();
        m_readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read, this);
        m_writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write, this);
        m_writable->setEnabled(false);
        connect(m_readable.get(), &QSocketNotifier::activated, this, [this] { Step(); });
        connect(m_writable.get(), &QSocketNotifier::activated, this, [this] { Step(); });
        Step();
    }

    // Moves the connection on as far as its bytes allow.
    void Step() {
        if (!m_tls || m_phase == Phase::Done) return;
        if (m_phase == Phase::Handshake) {
            if (!m_tls->Handshake()) return m_tls->Failed() ? End() : Await(m_tls->WantedEvents());
            m_peer = m_tls->PeerFingerprint();
            // A client without a certificate can never be paired.
            if (m_peer.isEmpty()) return End();
            m_phase = Phase::Greeting;
        }
        short wanted = 0;
        if (!Flush(&wanted)) return End();
        if (m_phase == Phase::Closing) {
            if (!m_output.isEmpty()) return Await(wanted);
            m_tls->Shutdown();
            return End();
        }
        char buffer[4096];
        for (;;) {
            const qint64 n = m_tls->Read(buffer, sizeof buffer);
            if (n < 0) return End();
            if (n == 0) break;
            m_input.append(buffer, n);
            // Nobody says more than a greeting and a pairing share before
            // an answer.
            if (m_input.size() > kMostInput) return End();
        }
        wanted |= m_tls->WantedEvents();
        if (m_phase == Phase::Greeting) Greet();
        if (m_phase == Phase::Confirming) Confirm();
        if (m_phase == Phase::Done) return;
        if (!Flush(&wanted)) return End();
        if (m_phase == Phase::Closing && m_output.isEmpty()) {
            m_tls->Shutdown();
            return End();
        }
        Await(wanted | POLLIN);
    }

    // Writes what waits; false when the stream failed.
    bool Flush(short* wanted) {
        while (!m_output.isEmpty()) {
            const qint64 n = m_tls->Write(m_output.constData(), m_output.size());
            if (n < 0) return false;
            if (n == 0) {
                *wanted |= m_tls->WantedEvents();
                break;
            }
            m_output.remove(0, n);
        }
        return true;
    }

    void Await(short events) {
        m_readable->setEnabled(events & POLLIN);
        m_writable->setEnabled(events & POLLOUT);
    }

    void Greet() {
        if (m_input.size() < 4) return;
        if (!m_input.startsWith(QByteArray(LinkTls::kGreeting, 3))) return End();
        const char mode = m_input[3];
        if (mode == LinkTls::kModeLink) {
            if (!m_front.Pairing().IsPinned(m_peer)) {
                std::fprintf(stderr, "kxterminal: refused a program that is not paired\n");
                return Refuse(LinkTls::kUnknownPeer);
            }
            return HandOver();
        }
        if (mode != LinkTls::kModePair) return End();
        if (m_input.size() < 4 + CSpake2::kMessageSize) return;
        if (!m_front.Pairing().BeginAttempt(&m_ticket)) return Refuse(LinkTls::kNoCode);
        m_attempt = true;
        m_spake = std::make_unique<CSpake2>(CSpake2::Role::B, m_ticket.code.toLatin1(), m_peer,
                                            m_front.Identity().fingerprint);
        const QByteArray share = m_spake->Message();
        if (share.isEmpty() || !m_spake->Finish(m_input.mid(4, CSpake2::kMessageSize))) return Fail();
        m_input.remove(0, 4 + CSpake2::kMessageSize);
        m_phase = Phase::Confirming;
        m_output += QByteArray(1, LinkTls::kPairShare) + share + m_spake->Confirmation();
    }

    void Confirm() {
        if (m_input.size() < CSpake2::kConfirmationSize) return;
        if (!m_spake->Verify(m_input.left(CSpake2::kConfirmationSize))) return Fail();
        // Another attempt on the same code may have succeeded meanwhile: only
        // the first one pairs.
        m_attempt = false;
        if (!m_front.Pairing().ClaimSuccess(m_ticket)) {
            std::fprintf(stderr, "kxterminal: a pairing attempt came after its code was used up\n");
            return Refuse(LinkTls::kPairFailed);
        }
        CLinkPin pin;
        // The name says whose it is; the fingerprint's start keeps two
        // computers of the same name from replacing each other's pins.
        pin.name = m_tls->PeerCommonName().left(64) + QLatin1Char('/') + QString::fromLatin1(m_peer.toHex().left(8));
        pin.fingerprint = m_peer;
        QString error;
        if (!StoreLinkPin(m_front.Pairing().PinsFile(), pin, &error)) {
            std::fprintf(stderr, "kxterminal: cannot store the pin: %s\n", qPrintable(error));
            return Refuse(LinkTls::kPairFailed);
        }
        m_front.Pairing().Show(QStringLiteral("paired: %1 %2").arg(pin.name, QString::fromLatin1(m_peer.toHex())));
        Refuse(LinkTls::kAccepted);
    }

    void Fail() {
        if (m_attempt) m_front.Pairing().EndFailedAttempt(m_ticket);
        m_attempt = false;
        std::fprintf(stderr, "kxterminal: a pairing attempt failed\n");
        Refuse(LinkTls::kPairFailed);
    }

    // One byte of answer, then the end (once it has left).
    void Refuse(char answer) {
        m_phase = Phase::Closing;
        m_output += answer;
    }

    // A paired program's link session: the loop takes the stream as it is,
    // with whatever came behind the greeting and the acceptance to write.
    void HandOver() {
        m_readable.reset();
        m_writable.reset();
        m_setup.stop();
        CHandedSession session;
        session.stream = std::move(m_tls);
        session.input = m_input.mid(4);
        session.output = std::exchange(m_output, QByteArray()) + LinkTls::kAccepted;
        m_input.clear();
        m_front.Hand(std::move(session));
        m_phase = Phase::Done;
        deleteLater();
    }

    void End() {
        if (m_phase == Phase::Done) return;
        m_phase = Phase::Done;
        m_setup.stop();
        m_firstBytes.reset();
        m_readable.reset();
        m_writable.reset();
        if (m_raw >= 0) ::close(std::exchange(m_raw, -1));
        if (m_attempt) m_front.Pairing().EndFailedAttempt(m_ticket);
        m_attempt = false;
        m_tls.reset();
        deleteLater();
    }

    static constexpr qsizetype kMostInput = 4 + CSpake2::kMessageSize + CSpake2::kConfirmationSize + 4096;

    CTlsLineFront& m_front;
    QTimer m_setup;
    // Until the client's first bytes show a TLS 1.3 hello, the connection is
    // this descriptor alone; then the TLS stream owns it.
    int m_raw = -1;
    std::unique_ptr<QSocketNotifier> m_firstBytes;
    QTimer m_again;
    std::unique_ptr<CTlsStream> m_tls;
    std::unique_ptr<QSocketNotifier> m_readable, m_writable;
    Phase m_phase = Phase::Handshake;
    QByteArray m_peer;
    QByteArray m_input;
    QByteArray m_output;
    std::unique_ptr<CSpake2> m_spake;
    CTerminalPairing::CTicket m_ticket;
    bool m_attempt = false;
};

class CTlsServer final : public QTcpServer {
public:
    explicit CTlsServer(CTlsLineFront& front) : m_front(front) {}

protected:
    // Owned by the server: whatever is still open ends with the thread.
    void incomingConnection(qintptr descriptor) override { new CTlsPeer(descriptor, m_front, this); }

private:
    CTlsLineFront& m_front;
};

}  // namespace

void CTlsLineFront::run() {
    QString error;
    if (m_notify[0] < 0) {
        m_started.set_value({0, QStringLiteral("cannot make a pipe")});
        return;
    }
    if (!LoadOrCreateTlsIdentity(m_pairing.IdentityFile(), QStringLiteral("kxterminal"), &m_identity, &error)) {
        m_started.set_value({0, error});
        return;
    }
    CTlsServer server(*this);
    if (!server.listen(m_address, m_port)) {
        m_started.set_value({0, server.errorString()});
        return;
    }
    // The person at the terminal asks for pairing (SIGUSR1): a window opens.
    std::unique_ptr<QSocketNotifier> window;
    if (m_windowFd >= 0) {
        window = std::make_unique<QSocketNotifier>(m_windowFd, QSocketNotifier::Read);
        QObject::connect(window.get(), &QSocketNotifier::activated, window.get(), [this] {
            char c;
            bool asked = false;
            while (::read(m_windowFd, &c, 1) > 0) asked = true;
            if (asked) m_pairing.OpenWindow();
        });
    }
    m_listening = server.serverAddress();
    m_started.set_value({server.serverPort(), QString()});
    exec();
    server.close();
}

CTlsTerminalLine::~CTlsTerminalLine() {
    Disconnect();
    m_front.reset();
}

std::unique_ptr<CTlsTerminalLine> CTlsTerminalLine::Listen(const QString& address, CTerminalPairing& pairing,
                                                           int windowFd, QString* error) {
    QString host;
    quint16 port = 0;
    if (!ParseTcpPortName(QStringLiteral("tcp:") + address, &host, &port, true)) {
        *error = QStringLiteral("not an address and port: %1 (HOST:PORT, [IPv6]:PORT)").arg(address);
        return nullptr;
    }
    QHostAddress where(host);
    if (where.isNull()) {
        const QHostInfo info = QHostInfo::fromName(host);
        if (info.addresses().isEmpty()) {
            *error = QStringLiteral("unknown host %1").arg(host);
            return nullptr;
        }
        where = info.addresses().first();
    }
    std::unique_ptr<CTlsTerminalLine> line(new CTlsTerminalLine);
    line->m_front = std::make_unique<CTlsLineFront>(where, port, pairing, windowFd);
    const quint16 actual = line->m_front->Start(error);
    if (actual == 0) return nullptr;
    // What was listened on, not as typed: "0:0" is 0.0.0.0 and some port.
    QHostAddress listening = line->m_front->Address();
    bool v4 = false;
    const quint32 ipv4 = listening.toIPv4Address(&v4);
    if (v4) listening = QHostAddress(ipv4);
    line->m_portName = QStringLiteral("tcp:") + TcpEndpointText(listening.toString(), actual);
    return line;
}

int CTlsTerminalLine::ListenFd() const { return m_front->NotifyFd(); }

bool CTlsTerminalLine::Accept() {
    CHandedSession session = m_front->TakeReady();
    if (!session.stream) return false;
    Disconnect();
    m_conn = std::move(session.stream);
    m_input = std::move(session.input);
    m_output = std::move(session.output);
    if (FlushAcceptance() < 0) Disconnect();
    return true;
}

void CTlsTerminalLine::Disconnect() {
    // The program hears the end of the stream, not a reset.
    if (m_conn) m_conn->Shutdown();
    m_conn.reset();
    m_input.clear();
    m_output.clear();
}

int CTlsTerminalLine::DataFd() const { return m_conn ? m_conn->Fd() : -1; }

qint64 CTlsTerminalLine::Read(char* data, qint64 size) {
    if (!m_conn) return -1;
    if (!m_input.isEmpty()) {
        const qint64 n = std::min<qint64>(size, m_input.size());
        std::memcpy(data, m_input.constData(), static_cast<size_t>(n));
        m_input.remove(0, n);
        return n;
    }
    // The acceptance goes before any answer; a read may be what lets it go.
    if (!m_output.isEmpty() && FlushAcceptance() < 0) return -1;
    return m_conn->Read(data, size);
}

qint64 CTlsTerminalLine::Write(const char* data, qint64 size) {
    if (!m_conn) return -1;
    const qint64 flushed = FlushAcceptance();
    if (flushed <= 0) return flushed;
    return m_conn->Write(data, size);
}

bool CTlsTerminalLine::HasBuffered() const { return !m_input.isEmpty() || (m_conn && m_conn->HasBuffered()); }

short CTlsTerminalLine::ExtraEvents() const {
    if (!m_conn) return 0;
    return m_output.isEmpty() ? m_conn->WantedEvents() : POLLOUT;
}

qint64 CTlsTerminalLine::FlushAcceptance() {
    while (!m_output.isEmpty()) {
        const qint64 n = m_conn->Write(m_output.constData(), m_output.size());
        if (n <= 0) return n;
        m_output.remove(0, n);
    }
    return 1;
}
