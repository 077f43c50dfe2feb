#include "components/parlink/security/LinkTls.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHostInfo>
#include <QProcessEnvironment>
#include <QSslSocket>
#include <QStringList>

namespace LinkTls {

QSslConfiguration Configuration(const CTlsIdentity& identity) {
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setProtocol(QSsl::TlsV1_3OrLater);
    c.setLocalCertificate(identity.certificate);
    c.setPrivateKey(identity.key);
    c.setPeerVerifyMode(QSslSocket::QueryPeer);
    c.setCaCertificates({});
    return c;
}

bool ConnectClient(QSslSocket& socket, const QString& host, quint16 port, const CTlsIdentity& identity,
                   int timeoutMs, QByteArray* peerFingerprint, QString* error) {
    socket.setSslConfiguration(Configuration(identity));
    // The certificates are self-signed: trust comes from the pin, which the
    // caller checks before anything is sent.
    socket.ignoreSslErrors();
    socket.connectToHostEncrypted(host, port);
    if (!socket.waitForEncrypted(timeoutMs)) {
        if (error) {
            *error = socket.errorString();
            if (error->isEmpty() || socket.error() == QAbstractSocket::SocketTimeoutError)
                *error = QStringLiteral("no TLS session with %1:%2 within %3 ms").arg(host).arg(port).arg(timeoutMs);
        }
        socket.abort();
        return false;
    }
    // Frames are written as they are ready and each side waits for the
    // other's: with Nagle's algorithm a small frame waited for the peer's
    // delayed acknowledgement, 40 ms for every command and its answer.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    *peerFingerprint = CertificateFingerprint(socket.peerCertificate());
    if (peerFingerprint->isEmpty()) {
        if (error) *error = QStringLiteral("the peer at %1:%2 presented no certificate").arg(host).arg(port);
        socket.abort();
        return false;
    }
    return true;
}

bool ReadExactly(QSslSocket& socket, qsizetype size, int timeoutMs, QByteArray* out) {
    out->clear();
    const QDeadlineTimer deadline(timeoutMs);
    while (out->size() < size) {
        if (socket.bytesAvailable() == 0) {
            if (socket.state() != QAbstractSocket::ConnectedState) return false;
            if (!socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
                if (deadline.hasExpired() || socket.state() != QAbstractSocket::ConnectedState) return false;
                continue;
            }
        }
        out->append(socket.read(size - out->size()));
    }
    return true;
}

bool WriteAll(QSslSocket& socket, const QByteArray& bytes, int timeoutMs) {
    if (socket.write(bytes) != bytes.size()) return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (socket.encryptedBytesToWrite() > 0 || socket.bytesToWrite() > 0) {
        if (deadline.hasExpired() || !socket.waitForBytesWritten(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
            return socket.encryptedBytesToWrite() == 0 && socket.bytesToWrite() == 0;
    }
    return true;
}

QString ProgramIdentityFolder(const QStringList& settingsFiles) {
    if (settingsFiles.isEmpty()) return QString();
    return QFileInfo(settingsFiles.last()).absolutePath() + QLatin1Char('/');
}

QString ProgramCommonName() {
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString user = env.value(QStringLiteral("USER"), env.value(QStringLiteral("LOGNAME"), QStringLiteral("user")));
    return QStringLiteral("kxconfig-%1@%2").arg(user, QHostInfo::localHostName()).simplified().replace(QLatin1Char(' '), QLatin1Char('_'));
}

bool LoadProgramIdentity(const QString& folder, CTlsIdentity* identity, QString* error) {
    return LoadOrCreateTlsIdentity(folder + QLatin1String(kProgramIdentityFile), ProgramCommonName(), identity, error);
}

}  // namespace LinkTls
