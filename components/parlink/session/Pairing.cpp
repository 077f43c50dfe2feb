#include "components/parlink/session/Pairing.h"

#include "components/parlink/security/LinkPins.h"
#include "components/parlink/security/LinkTls.h"
#include "components/parlink/security/PortNames.h"
#include "components/parlink/security/Spake2.h"

#include <QSslSocket>

namespace {

CPairOutcome Outcome(EPairResult result, const QString& text) {
    CPairOutcome o;
    o.result = result;
    o.text = text;
    return o;
}

}  // namespace

QString NormalizePairingCode(const QString& typed) {
    QString code;
    for (const QChar c : typed) {
        if (c.isSpace() || c == QLatin1Char('-')) continue;
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return QString();
        code += c;
    }
    return code.size() == 6 ? code : QString();
}

CPairOutcome PairWithTerminal(const QString& portName, const QString& code, const QStringList& settingsFiles,
                              int timeoutMs) {
    const CPortTarget target = ResolvePortName(portName, settingsFiles);
    if (target.kind != CPortTarget::Kind::Tcp || target.address.isEmpty())
        return Outcome(EPairResult::NotNetworkPort,
                       QStringLiteral("%1 is not a network port (tcp:HOST:PORT): only terminals on the network are paired").arg(portName));
    const QString digits = NormalizePairingCode(code);
    if (digits.isEmpty()) return Outcome(EPairResult::BadCode, QStringLiteral("the pairing code is 6 digits"));
    const QString folder = LinkTls::ProgramIdentityFolder(settingsFiles);
    if (folder.isEmpty()) return Outcome(EPairResult::Failed, QStringLiteral("no folder for the link's key and pins"));
    const QString where = TcpEndpointText(target.address, target.tcpPort);

    CTlsIdentity identity;
    QString why;
    if (!LinkTls::LoadProgramIdentity(folder, &identity, &why)) return Outcome(EPairResult::Failed, why);
    QSslSocket socket;
    QByteArray terminal;
    if (!LinkTls::ConnectClient(socket, target.address, target.tcpPort, identity, timeoutMs, &terminal, &why))
        return Outcome(EPairResult::NotReached, QStringLiteral("%1: %2").arg(where, why));
    // A name that gives the terminal's certificate pairs with that terminal only.
    if (!terminal.toHex().startsWith(target.fingerprint.toLatin1())) {
        socket.abort();
        return Outcome(EPairResult::NotReached,
                       QStringLiteral("%1: the terminal there presents another certificate than %2, the one the port "
                                      "name gives: not paired")
                           .arg(where, target.fingerprint));
    }

    CSpake2 spake(CSpake2::Role::A, digits.toLatin1(), identity.fingerprint, terminal);
    const QByteArray share = spake.Message();
    if (share.isEmpty()) return Outcome(EPairResult::Failed, QStringLiteral("cannot compute the pairing (OpenSSL)"));
    const auto broken = [&] {
        socket.abort();
        return Outcome(EPairResult::Failed, QStringLiteral("%1: the connection broke during pairing").arg(where));
    };
    QByteArray answer;
    if (!LinkTls::WriteAll(socket, QByteArray(LinkTls::kGreeting, 3) + LinkTls::kModePair + share, timeoutMs) ||
        !LinkTls::ReadExactly(socket, 1, timeoutMs, &answer))
        return broken();
    if (answer[0] == LinkTls::kNoCode) {
        socket.abort();
        return Outcome(EPairResult::NoCode,
                       QStringLiteral("the terminal at %1 takes no pairing code now (pairing not opened on it, over, or "
                                      "a wrong code tried moments ago): open pairing on the terminal, or try again in a minute").arg(where));
    }
    QByteArray reply;
    if (answer[0] != LinkTls::kPairShare ||
        !LinkTls::ReadExactly(socket, CSpake2::kMessageSize + CSpake2::kConfirmationSize, timeoutMs, &reply))
        return broken();
    // The terminal proves it first; without that proof this program sends
    // nothing that depends on the code.
    if (!spake.Finish(reply.left(CSpake2::kMessageSize)) || !spake.Verify(reply.mid(CSpake2::kMessageSize))) {
        socket.abort();
        return Outcome(EPairResult::WrongCode,
                       QStringLiteral("pairing with %1 refused: wrong code (or someone in between)").arg(where));
    }
    if (!LinkTls::WriteAll(socket, spake.Confirmation(), timeoutMs) || !LinkTls::ReadExactly(socket, 1, timeoutMs, &answer))
        return broken();
    socket.disconnectFromHost();
    if (answer[0] != LinkTls::kAccepted)
        return Outcome(EPairResult::WrongCode, QStringLiteral("pairing with %1 refused by the terminal").arg(where));
    if (!StoreTerminalPin(folder + QLatin1String(LinkTls::kProgramPinsFile), CTerminalPin{terminal, where}, &why))
        return Outcome(EPairResult::Failed, why);
    CPairOutcome o = Outcome(EPairResult::Paired, QStringLiteral("paired with the terminal at %1").arg(where));
    o.fingerprint = terminal;
    return o;
}
