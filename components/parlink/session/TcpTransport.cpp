#include "components/parlink/session/TcpTransport.h"

#include "components/parlink/security/LinkPins.h"
#include "components/parlink/security/LinkTls.h"

#include <QSslSocket>

#include <algorithm>

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
        QByteArray peer;
        const int timeoutMs = std::max(m_options.connectTimeoutMs, kHandshakeMs);
        if (!LinkTls::ConnectClient(m_socket, m_target.address, m_target.tcpPort, identity, timeoutMs, &peer, &why))
            return Fail(error, why);
        if (peer != pin->fingerprint) {
            m_socket.abort();
            return Fail(error, QStringLiteral("the terminal at %1 presented another certificate than the paired one "
                                              "(another device, or someone in between): refused")
                                   .arg(where));
        }
        QByteArray answer;
        if (!LinkTls::WriteAll(m_socket, QByteArray(LinkTls::kGreeting, 3) + LinkTls::kModeLink, timeoutMs) ||
            !LinkTls::ReadExactly(m_socket, 1, timeoutMs, &answer) || answer[0] != LinkTls::kAccepted) {
            m_socket.abort();
            if (answer.size() == 1 && answer[0] == LinkTls::kUnknownPeer)
                return Fail(error, QStringLiteral("the terminal at %1 does not know this computer: pair it again").arg(where));
            return Fail(error, QStringLiteral("the terminal at %1 did not accept the session").arg(where));
        }
        return true;
    }
    void Close() override {
        if (m_socket.state() == QAbstractSocket::ConnectedState) {
            m_socket.flush();
            m_socket.disconnectFromHost();
            if (m_socket.state() != QAbstractSocket::UnconnectedState) m_socket.waitForDisconnected(1000);
        }
        m_socket.abort();
    }
    void Write(const QByteArray& bytes) override {
        m_socket.write(bytes);
        m_socket.flush();
    }
    qint64 PendingWrite() const override { return m_socket.bytesToWrite() + m_socket.encryptedBytesToWrite(); }
    QByteArray Wait(int ms) override {
        if (m_socket.bytesAvailable() == 0 && m_socket.state() == QAbstractSocket::ConnectedState) {
            if (PendingWrite() > 0) m_socket.flush();
            // A wait also moves queued encrypted bytes to the socket.
            m_socket.waitForReadyRead(std::max(ms, 0));
        }
        return m_socket.readAll();
    }
    bool Broken() const override {
        return m_socket.state() != QAbstractSocket::ConnectedState && m_socket.bytesAvailable() == 0;
    }
    QString ErrorText() const override {
        return m_socket.error() == QAbstractSocket::RemoteHostClosedError ? QStringLiteral("the terminal closed the connection")
                                                                          : m_socket.errorString();
    }

private:
    static constexpr int kHandshakeMs = 10000;

    static bool Fail(QString* error, const QString& why) {
        if (error) *error = why;
        return false;
    }

    CPortTarget m_target;
    CTransportOptions m_options;
    mutable QSslSocket m_socket;
};

}  // namespace

std::unique_ptr<ILinkTransport> MakeTcpTransport(const CPortTarget& target, const CTransportOptions& options) {
    return std::make_unique<CTcpTransport>(target, options);
}
