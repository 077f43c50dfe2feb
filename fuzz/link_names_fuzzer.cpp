// What the network link reads as text: tcp: port names and pin files.
//
// A port name that parses has a host and a port, and the name written back
// from them ("tcp:" + host:port) parses to the same; a listener's name with
// port 0 is accepted only when asked for. Whatever a pin file holds, the
// pins read from it are well formed (a name without blanks, 32 bytes of
// fingerprint) and survive being written and read again unchanged.

#include "components/parlink/security/LinkPins.h"
#include "components/parlink/security/PortNames.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    const bool anyPort = fdp.ConsumeBool();
    const QString name = QString::fromUtf8(QByteArray::fromStdString(fdp.ConsumeRandomLengthString(300)));
    const QByteArray pinText = QByteArray::fromStdString(fdp.ConsumeRemainingBytesAsString());

    QString host;
    quint16 port = 0;
    if (ParseTcpPortName(name, &host, &port, anyPort)) {
        KX_FUZZ_CHECK(!host.isEmpty() && (anyPort || port != 0), name);
        const QString again = QStringLiteral("tcp:") + TcpEndpointText(host, port);
        QString host2;
        quint16 port2 = 0;
        KX_FUZZ_CHECK(ParseTcpPortName(again, &host2, &port2, anyPort) && host2 == host && port2 == port,
                      QStringLiteral("%1 -> %2").arg(name, again));
        const CPortTarget target = ResolvePortName(name, {});
        KX_FUZZ_CHECK(target.kind == CPortTarget::Kind::Tcp && (port == 0 || (target.address == host && target.tcpPort == port)),
                      name);
    }

    const QList<CLinkPin> pins = ParseLinkPins(pinText);
    for (const CLinkPin& pin : pins)
        KX_FUZZ_CHECK(!pin.name.isEmpty() && !pin.name.contains(QLatin1Char(' ')) && pin.fingerprint.size() == 32,
                      HexPreview(pinText));
    KX_FUZZ_CHECK(ParseLinkPins(FormatLinkPins(pins)) == pins, HexPreview(pinText));
    return 0;
}
