#include "tools/kxterminal/TerminalTlsLine.h"

#include "components/parlink/security/LinkTls.h"
#include "components/parlink/security/PortNames.h"
#include "components/parlink/security/Spake2.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// A peer that has not finished the handshake, greeting and pairing by then
// is dropped: nobody holds a half-open connection.
constexpr int kSetupMs = 15000;
// Bytes buffered in either direction before the other side is held back.
constexpr qint64 kBridgeLimit = 1024 * 1024;

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

// Runs in the front thread: everything Qt about the network.
class CTlsLineFront final : public QThread {
public:
    CTlsLineFront(QHostAddress address, quint16 port, CTerminalPairing& pairing, int windowFd)
        : m_address(std::move(address)), m_port(port), m_pairing(pairing), m_windowFd(windowFd) {
        if (::pipe2(m_notify, O_CLOEXEC | O_NONBLOCK) != 0) m_notify[0] = m_notify[1] = -1;
    }
    ~CTlsLineFront() override {
        quit();
        wait();
        std::lock_guard guard(m_lock);
        for (const int fd : m_ready) ::close(fd);
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
    // The stream of the newest accepted session, -1 when none waits.
    int TakeReady() {
        char c;
        while (::read(m_notify[0], &c, 1) > 0) {
        }
        std::lock_guard guard(m_lock);
        if (m_ready.empty()) return -1;
        // Only the newest counts: an older one was already given up.
        const int fd = m_ready.back();
        m_ready.pop_back();
        for (const int old : m_ready) ::close(old);
        m_ready.clear();
        return fd;
    }

    // Called in this thread when a peer passed: hand its stream over.
    void Hand(int fd) {
        {
            std::lock_guard guard(m_lock);
            m_ready.push_back(fd);
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
    std::deque<int> m_ready;
};

namespace {

// One connection, from the handshake to its end.
class CTlsPeer final : public QObject {
public:
    CTlsPeer(qintptr descriptor, CTlsLineFront& front, QObject* parent) : QObject(parent), m_front(front) {
        connect(&m_socket, &QSslSocket::sslErrors, this, [this] {
            // Self-signed certificates: the pin decides, not an authority.
            m_socket.ignoreSslErrors();
        });
        connect(&m_socket, &QSslSocket::encrypted, this, [this] { OnEncrypted(); });
        connect(&m_socket, &QSslSocket::readyRead, this, [this] { OnReadable(); });
        connect(&m_socket, &QSslSocket::encryptedBytesWritten, this, [this] { OnWritten(); });
        connect(&m_socket, &QSslSocket::disconnected, this, [this] { End(); });
        connect(&m_socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            // A plaintext client or a broken handshake ends here.
            if (e != QAbstractSocket::SslInvalidUserDataError) End();
        });
        m_setup.setSingleShot(true);
        connect(&m_setup, &QTimer::timeout, this, [this] {
            if (m_phase != Phase::Bridged) End();
        });
        m_setup.start(kSetupMs);
        // The client's first bytes are looked at (not taken) before the TLS
        // socket gets the connection.
        m_raw = static_cast<int>(descriptor);
        m_firstBytes = std::make_unique<QSocketNotifier>(m_raw, QSocketNotifier::Read, this);
        connect(m_firstBytes.get(), &QSocketNotifier::activated, this, [this] { LookAtFirstBytes(); });
        m_again.setSingleShot(true);
        connect(&m_again, &QTimer::timeout, this, [this] {
            if (m_firstBytes) m_firstBytes->setEnabled(true);
        });
    }
    ~CTlsPeer() override {
        // The socket's own end (at the thread's end) signals a disconnect:
        // it must not reach members already gone.
        QObject::disconnect(&m_socket, nullptr, this, nullptr);
        m_socket.abort();
        CloseBridge();
        m_firstBytes.reset();
        if (m_raw >= 0) ::close(m_raw);
    }

private:
    enum class Phase { Handshake, Greeting, Confirming, Bridged, Done };

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
        if (!m_socket.setSocketDescriptor(fd)) {
            ::close(fd);
            return End();
        }
        // Answers go out as they are ready: without this, Nagle's algorithm
        // held a small frame for the program's delayed acknowledgement.
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_socket.setSslConfiguration(LinkTls::Configuration(m_front.Identity()));
        m_socket.startServerEncryption();
    }

    void OnEncrypted() {
        m_peer = CertificateFingerprint(m_socket.peerCertificate());
        // A client without a certificate can never be paired.
        if (m_peer.isEmpty()) return End();
        m_phase = Phase::Greeting;
        OnReadable();
    }

    void OnReadable() {
        switch (m_phase) {
        case Phase::Handshake:
        case Phase::Done:
            return;
        case Phase::Bridged:
            return PumpToDevice();
        case Phase::Greeting:
            m_input += m_socket.readAll();
            return Greet();
        case Phase::Confirming:
            m_input += m_socket.readAll();
            return Confirm();
        }
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
            m_toDeviceBuffer = m_input.mid(4);
            m_input.clear();
            return StartBridge();
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
        m_socket.write(QByteArray(1, LinkTls::kPairShare) + share + m_spake->Confirmation());
        Confirm();
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
        pin.name = m_socket.peerCertificate().subjectInfo(QSslCertificate::CommonName).value(0).left(64) +
                   QLatin1Char('/') + QString::fromLatin1(m_peer.toHex().left(8));
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

    // One byte of answer, then the end.
    void Refuse(char answer) {
        m_phase = Phase::Done;
        m_socket.write(QByteArray(1, answer));
        m_socket.disconnectFromHost();
    }

    void StartBridge() {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) return End();
        m_bridge = pair[0];
        m_phase = Phase::Bridged;
        m_setup.stop();
        // Held back in the kernel's buffers when the device does not keep up.
        m_socket.setReadBufferSize(kBridgeLimit);
        m_fromDevice = std::make_unique<QSocketNotifier>(m_bridge, QSocketNotifier::Read, this);
        m_toDevice = std::make_unique<QSocketNotifier>(m_bridge, QSocketNotifier::Write, this);
        m_toDevice->setEnabled(false);
        connect(m_fromDevice.get(), &QSocketNotifier::activated, this, [this] { PumpFromDevice(); });
        connect(m_toDevice.get(), &QSocketNotifier::activated, this, [this] { PumpToDevice(); });
        m_socket.write(QByteArray(1, LinkTls::kAccepted));
        m_front.Hand(pair[1]);
        PumpToDevice();
    }

    // TLS -> device.
    void PumpToDevice() {
        if (m_bridge < 0) return;
        for (;;) {
            if (m_toDeviceBuffer.isEmpty()) {
                m_toDeviceBuffer = m_socket.read(256 * 1024);
                if (m_toDeviceBuffer.isEmpty()) break;
            }
            const ssize_t n = ::write(m_bridge, m_toDeviceBuffer.constData(), static_cast<size_t>(m_toDeviceBuffer.size()));
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) break;
                return End();
            }
            m_toDeviceBuffer.remove(0, n);
        }
        m_toDevice->setEnabled(!m_toDeviceBuffer.isEmpty());
    }

    // Device -> TLS.
    void PumpFromDevice() {
        if (m_bridge < 0) return;
        char buffer[65536];
        while (m_socket.encryptedBytesToWrite() + m_socket.bytesToWrite() < kBridgeLimit) {
            const ssize_t n = ::read(m_bridge, buffer, sizeof buffer);
            if (n == 0) {
                // The emulator let go of this session (another one came).
                m_socket.disconnectFromHost();
                return CloseBridge();
            }
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) break;
                return End();
            }
            m_socket.write(buffer, n);
        }
        m_fromDevice->setEnabled(m_socket.encryptedBytesToWrite() + m_socket.bytesToWrite() < kBridgeLimit);
    }

    void OnWritten() {
        if (m_fromDevice && !m_fromDevice->isEnabled()) PumpFromDevice();
    }

    void CloseBridge() {
        m_fromDevice.reset();
        m_toDevice.reset();
        if (m_bridge >= 0) ::close(m_bridge);
        m_bridge = -1;
    }

    void End() {
        if (m_ended) return;
        m_ended = true;
        m_firstBytes.reset();
        if (m_raw >= 0) ::close(std::exchange(m_raw, -1));
        if (m_phase == Phase::Bridged) PumpToDevice();
        if (m_attempt) m_front.Pairing().EndFailedAttempt(m_ticket);
        m_attempt = false;
        m_phase = Phase::Done;
        CloseBridge();
        m_socket.abort();
        deleteLater();
    }

    CTlsLineFront& m_front;
    QSslSocket m_socket;
    QTimer m_setup;
    // Until the client's first bytes show a TLS 1.3 hello, the connection is
    // this descriptor alone; then the TLS socket owns it.
    int m_raw = -1;
    std::unique_ptr<QSocketNotifier> m_firstBytes;
    QTimer m_again;
    Phase m_phase = Phase::Handshake;
    QByteArray m_peer;
    QByteArray m_input;
    std::unique_ptr<CSpake2> m_spake;
    CTerminalPairing::CTicket m_ticket;
    bool m_attempt = false;
    bool m_ended = false;
    int m_bridge = -1;
    std::unique_ptr<QSocketNotifier> m_fromDevice, m_toDevice;
    QByteArray m_toDeviceBuffer;
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
    if (!QSslSocket::supportsSsl()) {
        m_started.set_value({0, QStringLiteral("no TLS library (Qt's OpenSSL backend and libssl are needed)")});
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
    const int fd = m_front->TakeReady();
    if (fd < 0) return false;
    Disconnect();
    m_conn = fd;
    return true;
}

void CTlsTerminalLine::Disconnect() {
    if (m_conn >= 0) ::close(m_conn);
    m_conn = -1;
}
