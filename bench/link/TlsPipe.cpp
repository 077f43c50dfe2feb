#include "bench/link/TlsPipe.h"

#include "bench/link/BenchCpu.h"
#include "components/parlink/security/OpenSslTlsHandles.h"
#include "components/parlink/security/TlsIdentity.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

using namespace OpenSslTls;

// As much as one TLS record holds: what a streaming writer hands over.
constexpr int kChunk = 16384;

class CFd {
public:
    explicit CFd(int fd = -1) : m_fd(fd) {}
    ~CFd() { if (m_fd >= 0) ::close(m_fd); }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

QString SslError(const char* what) {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QLatin1String(text));
}

Ctx MakeContext(bool server, const CTlsIdentity& identity, QString* error) {
    Ctx ctx(SSL_CTX_new(server ? TLS_server_method() : TLS_client_method()));
    if (!ctx) return *error = SslError("SSL_CTX_new"), Ctx();
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(ctx.get(), TLS1_3_VERSION);
    const QByteArray keyPem = identity.key.toPem();
    const QByteArray certPem = identity.certificate.toPem();
    Bio keyBio(BIO_new_mem_buf(keyPem.constData(), static_cast<int>(keyPem.size())));
    Bio certBio(BIO_new_mem_buf(certPem.constData(), static_cast<int>(certPem.size())));
    Key key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    Cert cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    if (!key || !cert || SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1)
        return *error = SslError("identity"), Ctx();
    // Both ends present a certificate, as on the link; nobody signs them.
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
    return ctx;
}

// A connected pair of loopback TCP sockets, as the link's are (no Nagle delay).
bool LoopbackPair(int* client, int* server, QString* error) {
    const CFd listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener.Get() < 0 || ::bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener.Get(), 1) != 0 || ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return *error = QStringLiteral("cannot listen on loopback"), false;
    *client = ::socket(AF_INET, SOCK_STREAM, 0);
    if (*client < 0 || ::connect(*client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return *error = QStringLiteral("cannot connect on loopback"), false;
    *server = ::accept(listener.Get(), nullptr, nullptr);
    if (*server < 0) return *error = QStringLiteral("cannot accept on loopback"), false;
    const int one = 1;
    ::setsockopt(*client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(*server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

}  // namespace

CTlsPipeFigures RunTlsPipe(const QByteArray& bytes) {
    CTlsPipeFigures f;
    static QTemporaryDir folder;
    static CTlsIdentity identity;
    if (identity.IsNull() &&
        !LoadOrCreateTlsIdentity(folder.filePath(QStringLiteral("pipe.pem")), QStringLiteral("kx-bench-pipe"),
                                 &identity, &f.error))
        return f;
    const Ctx serverCtx = MakeContext(true, identity, &f.error);
    const Ctx clientCtx = MakeContext(false, identity, &f.error);
    if (!serverCtx || !clientCtx) return f;
    int clientFd = -1;
    int serverFd = -1;
    const bool paired = LoopbackPair(&clientFd, &serverFd, &f.error);
    const CFd clientOwner(clientFd);
    const CFd serverOwner(serverFd);
    if (!paired) return f;

    Ssl server(SSL_new(serverCtx.get()));
    Ssl client(SSL_new(clientCtx.get()));
    SSL_set_fd(server.get(), serverFd);
    SSL_set_fd(client.get(), clientFd);

    QByteArray got;
    bool readerOk = false;
    std::thread reader([&] {
        if (SSL_accept(server.get()) != 1) return;
        got.resize(bytes.size());
        qsizetype have = 0;
        while (have < got.size()) {
            const int n = SSL_read(server.get(), got.data() + have,
                                   static_cast<int>(std::min<qsizetype>(got.size() - have, 1 << 20)));
            if (n <= 0) return;
            have += n;
        }
        readerOk = true;
    });
    if (SSL_connect(client.get()) != 1) {
        f.error = SslError("handshake");
        ::shutdown(clientFd, SHUT_RDWR);
        reader.join();
        return f;
    }
    const double cpu = OwnCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    bool writerOk = true;
    for (qsizetype off = 0; off < bytes.size() && writerOk; off += kChunk) {
        const int n = static_cast<int>(std::min<qsizetype>(kChunk, bytes.size() - off));
        writerOk = SSL_write(client.get(), bytes.constData() + off, n) == n;
    }
    if (!writerOk) ::shutdown(clientFd, SHUT_RDWR);
    reader.join();
    f.seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    f.cpuSeconds = OwnCpuSeconds() - cpu;
    f.ok = writerOk && readerOk && got == bytes;
    if (!f.ok && f.error.isEmpty()) f.error = QStringLiteral("the bytes did not arrive whole");
    return f;
}

CTlsPipeFigures MedianTlsPipe(const QByteArray& bytes, int runs) {
    std::vector<CTlsPipeFigures> all;
    for (int i = 0; i < std::max(1, runs); ++i) {
        all.push_back(RunTlsPipe(bytes));
        if (!all.back().ok) return all.back();
    }
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
    return all[all.size() / 2];
}
