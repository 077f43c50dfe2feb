#include "components/parlink/security/TlsStream.h"

#include "components/parlink/security/OpenSslTlsHandles.h"
#include "components/parlink/security/Sha256.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

using namespace OpenSslTls;

QString SslErrorText(const char* what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return QString::fromLatin1(what);
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QLatin1String(text));
}

constexpr size_t kReadAhead = 256 * 1024;

Ctx MakeContext(CTlsStream::Role role, const CTlsIdentity& identity, QString* error) {
    const bool server = role == CTlsStream::Role::Server;
    Ctx ctx(SSL_CTX_new(server ? TLS_server_method() : TLS_client_method()));
    if (!ctx) return *error = SslErrorText("no TLS context"), Ctx();
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(ctx.get(), TLS1_3_VERSION);
    // Every session proves both certificates again: nothing to resume.
    SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_OFF);
    if (server) SSL_CTX_set_num_tickets(ctx.get(), 0);
    // A peer that closes its socket has ended the stream (PeerClosed): the
    // link's own frames tell whether anything was cut short.
    SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    // A write may take part of the caller's bytes, and the caller's buffer
    // may move between a write that waited and its repeat.
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Reads take what the socket holds, many records at once, rather than
    // a record's header and then its body, two calls a record.
    SSL_CTX_set_read_ahead(ctx.get(), 1);
    SSL_CTX_set_default_read_buffer_len(ctx.get(), kReadAhead);
    const QByteArray keyPem = identity.key.toPem();
    const QByteArray certPem = identity.certificate.toPem();
    Bio keyBio(BIO_new_mem_buf(keyPem.constData(), static_cast<int>(keyPem.size())));
    Bio certBio(BIO_new_mem_buf(certPem.constData(), static_cast<int>(certPem.size())));
    Key key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr) : nullptr);
    Cert cert(certBio ? PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || !cert || SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1)
        return *error = SslErrorText("the TLS identity does not load"), Ctx();
    // The peer must present a certificate; nobody signs them, so the chain
    // is not judged here: the caller compares the fingerprint with its pin.
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                       [](int, X509_STORE_CTX*) { return 1; });
    return ctx;
}

}  // namespace

struct CTlsStream::CSsl {
    Ctx ctx;
    Ssl ssl;
};

CTlsStream::~CTlsStream() {
    m_ssl.reset();
    if (m_fd >= 0) ::close(m_fd);
}

std::unique_ptr<CTlsStream> CTlsStream::Make(Role role, int fd, const CTlsIdentity& identity, QString* error) {
    std::unique_ptr<CTlsStream> stream(new CTlsStream);
    stream->m_fd = fd;
    if (fd < 0) return *error = QStringLiteral("no socket"), nullptr;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return *error = QStringLiteral("the socket cannot be made non-blocking"), nullptr;
    auto ssl = std::make_unique<CSsl>();
    ssl->ctx = MakeContext(role, identity, error);
    if (!ssl->ctx) return nullptr;
    ssl->ssl.reset(SSL_new(ssl->ctx.get()));
    if (!ssl->ssl || SSL_set_fd(ssl->ssl.get(), fd) != 1) return *error = SslErrorText("no TLS session"), nullptr;
    if (role == Role::Server)
        SSL_set_accept_state(ssl->ssl.get());
    else
        SSL_set_connect_state(ssl->ssl.get());
    stream->m_ssl = std::move(ssl);
    return stream;
}

void CTlsStream::Settle(int result, const char* what, EWait* wants) {
    *wants = EWait::Nothing;
    switch (SSL_get_error(m_ssl->ssl.get(), result)) {
    case SSL_ERROR_WANT_READ:
        *wants = EWait::Read;
        return;
    case SSL_ERROR_WANT_WRITE:
        *wants = EWait::Write;
        return;
    case SSL_ERROR_ZERO_RETURN:
        m_closed = true;
        return;
    case SSL_ERROR_SYSCALL:
        if (errno == EINTR || errno == EAGAIN) {
            // A write finds the socket full, anything else an empty one.
            *wants = wants == &m_writeWants ? EWait::Write : EWait::Read;
            return;
        }
        m_failed = true;
        m_error = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno))
                             : QStringLiteral("the peer closed the connection");
        ERR_clear_error();
        return;
    default:
        m_failed = true;
        m_error = SslErrorText(what);
        return;
    }
}

bool CTlsStream::Handshake() {
    if (m_failed || m_closed) return false;
    if (SSL_is_init_finished(m_ssl->ssl.get())) return true;
    errno = 0;
    ERR_clear_error();
    const int r = SSL_do_handshake(m_ssl->ssl.get());
    if (r == 1) {
        m_readWants = EWait::Nothing;
        return true;
    }
    Settle(r, "TLS handshake", &m_readWants);
    // A peer that hangs up in the middle has failed the handshake.
    if (m_closed) {
        m_failed = true;
        m_error = QStringLiteral("the peer closed the connection during the TLS handshake");
    }
    return false;
}

QByteArray CTlsStream::PeerFingerprint() const {
    const Cert cert(SSL_get1_peer_certificate(m_ssl->ssl.get()));
    if (!cert) return {};
    unsigned char* der = nullptr;
    const int size = i2d_X509(cert.get(), &der);
    if (size <= 0) return {};
    const QByteArray digest = LinkTls::Sha256(QByteArrayView(der, size));
    OPENSSL_free(der);
    return digest;
}

QString CTlsStream::PeerCommonName() const {
    const Cert cert(SSL_get1_peer_certificate(m_ssl->ssl.get()));
    if (!cert) return {};
    char name[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert.get()), NID_commonName, name, sizeof name) < 0) return {};
    return QString::fromUtf8(name);
}

qint64 CTlsStream::Read(char* data, qint64 size) {
    if (m_failed || m_closed) return -1;
    // A call decrypts one record: as many as are there and fit.
    qint64 got = 0;
    while (got < size) {
        errno = 0;
        ERR_clear_error();
        const int r = SSL_read(m_ssl->ssl.get(), data + got, static_cast<int>(std::min<qint64>(size - got, INT_MAX)));
        if (r <= 0) {
            m_mayHaveMore = false;
            Settle(r, "TLS read", &m_readWants);
            if (got > 0) break;
            return m_failed || m_closed ? -1 : 0;
        }
        m_readWants = EWait::Nothing;
        got += r;
    }
    // Filled: whole records read ahead may wait inside. (After a read that
    // stopped for want of bytes, what is inside is at most part of one.)
    m_mayHaveMore = got == size;
    return got;
}

qint64 CTlsStream::Write(const char* data, qint64 size) {
    if (m_failed || m_closed) return -1;
    // A write that waited must be repeated with at least the bytes it had
    // (the library holds its record half sent): a caller's shorter repeat
    // (a paced line's smaller allowance) waits until it has them again.
    if (size < m_retryAtLeast) return 0;
    qint64 taken = 0;
    while (taken < size) {
        // A record at a time, so a repeat never needs more than one record.
        const int piece = static_cast<int>(std::min<qint64>(size - taken, kRecordPlain));
        errno = 0;
        ERR_clear_error();
        const int r = SSL_write(m_ssl->ssl.get(), data + taken, piece);
        if (r <= 0) {
            Settle(r, "TLS write", &m_writeWants);
            if (m_failed || m_closed) return -1;
            m_retryAtLeast = piece;
            return taken;
        }
        m_retryAtLeast = 0;
        m_writeWants = EWait::Nothing;
        taken += r;
    }
    return taken;
}

bool CTlsStream::HasBuffered() const { return m_mayHaveMore && SSL_has_pending(m_ssl->ssl.get()) == 1; }

namespace {

short EventsFor(CTlsStream::EWait wants) {
    switch (wants) {
    case CTlsStream::EWait::Read:
        return POLLIN;
    case CTlsStream::EWait::Write:
        return POLLOUT;
    case CTlsStream::EWait::Nothing:
        break;
    }
    return 0;
}

}  // namespace

short CTlsStream::WantedEvents() const { return static_cast<short>(EventsFor(m_readWants) | EventsFor(m_writeWants)); }

void CTlsStream::Shutdown() {
    if (!m_failed && SSL_is_init_finished(m_ssl->ssl.get())) SSL_shutdown(m_ssl->ssl.get());
    ERR_clear_error();
}

bool WaitForTlsStream(const CTlsStream& stream, int ms) {
    pollfd p{stream.Fd(), stream.WantedEvents(), 0};
    if (p.events == 0) p.events = POLLIN;
    const int r = ::poll(&p, 1, std::max(ms, 0));
    return r >= 0 || errno == EINTR;
}

namespace {

// A TCP connection to `address` within the deadline, -1 with `error` set.
int ConnectWithin(const QHostAddress& address, quint16 port, const QDeadlineTimer& deadline, QString* error) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&a->sin6_addr, bytes.c, sizeof bytes.c);
        a->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        a->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *a;
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return *error = QString::fromLocal8Bit(std::strerror(errno)), -1;
    int r = ::connect(fd, reinterpret_cast<sockaddr*>(&storage), length);
    if (r != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        do {
            r = ::poll(&p, 1, static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
        } while (r < 0 && errno == EINTR);
        int soError = 0;
        socklen_t size = sizeof soError;
        if (r == 0) {
            ::close(fd);
            return *error = QStringLiteral("no connection within the time allowed"), -1;
        }
        if (r < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size) != 0) soError = errno;
        r = soError == 0 ? 0 : -1;
        errno = soError;
    }
    if (r != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    // Frames are written as they are ready and each side waits for the
    // other's: with Nagle's algorithm a small frame waited for the peer's
    // delayed acknowledgement, 40 ms for every command and its answer.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

}  // namespace

std::unique_ptr<CTlsStream> ConnectTlsStream(const QString& host, quint16 port, const CTlsIdentity& identity,
                                             int timeoutMs, QString* error) {
    const QDeadlineTimer deadline(timeoutMs);
    QList<QHostAddress> addresses;
    const QHostAddress literal(host);
    if (!literal.isNull())
        addresses.append(literal);
    else
        addresses = QHostInfo::fromName(host).addresses();
    if (addresses.isEmpty()) return *error = QStringLiteral("unknown host %1").arg(host), nullptr;
    QString why;
    int fd = -1;
    for (const QHostAddress& address : addresses) {
        fd = ConnectWithin(address, port, deadline, &why);
        if (fd >= 0 || deadline.hasExpired()) break;
    }
    if (fd < 0) return *error = QStringLiteral("cannot connect to %1:%2: %3").arg(host).arg(port).arg(why), nullptr;
    auto stream = CTlsStream::Make(CTlsStream::Role::Client, fd, identity, error);
    if (!stream) return nullptr;
    while (!stream->Handshake()) {
        if (stream->Failed()) return *error = stream->ErrorText(), nullptr;
        if (deadline.hasExpired()) {
            *error = QStringLiteral("no TLS session with %1:%2 within %3 ms").arg(host).arg(port).arg(timeoutMs);
            return nullptr;
        }
        WaitForTlsStream(*stream, static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    return stream;
}
