// The network link's parts on their own: tcp: port names, pin files, the
// side's TLS identity and the SPAKE2 pairing computation.

#include "components/parlink/LinkPins.h"
#include "components/parlink/PortNames.h"
#include "components/parlink/Spake2.h"
#include "components/parlink/TlsIdentity.h"
#include "tests/link/TerminalProcess.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

mode_t FileMode(const QString& path) {
    struct stat st{};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return 0;
    return st.st_mode & 0777;
}

}  // namespace

TEST(TcpPortNames, HostNamesAddressesAndPortsAreParsedStrictly) {
    QString host;
    quint16 port = 0;
    EXPECT_TRUE(ParseTcpPortName(QStringLiteral("tcp:Terminal-7.shop.example:5000"), &host, &port));
    EXPECT_EQ(host, QStringLiteral("terminal-7.shop.example"));
    EXPECT_EQ(port, 5000);
    EXPECT_TRUE(ParseTcpPortName(QStringLiteral("TCP:192.168.1.20:65535"), &host, &port));
    EXPECT_EQ(host, QStringLiteral("192.168.1.20"));
    EXPECT_EQ(port, 65535);
    EXPECT_TRUE(ParseTcpPortName(QStringLiteral("tcp:[FE80::1]:1"), &host, &port));
    EXPECT_EQ(host, QStringLiteral("fe80::1"));
    EXPECT_EQ(TcpEndpointText(host, port), QStringLiteral("[fe80::1]:1"));
    for (const char* bad : {"tcp:", "tcp::5000", "tcp:host", "tcp:host:", "tcp:host:0", "tcp:host:65536",
                            "tcp:host:12a", "tcp:host:+80", "tcp:fe80::1:80", "tcp:[fe80::1:80", "tcp:[host]:80",
                            "tcp:ho st:80", "tcp:-host:80", "tcp:хост:80", "tcp:host:123456", "local:x", "COM1"})
        EXPECT_FALSE(ParseTcpPortName(QString::fromUtf8(bad), &host, &port)) << bad;
    // A listener may ask for any free port.
    EXPECT_TRUE(ParseTcpPortName(QStringLiteral("tcp:127.0.0.1:0"), &host, &port, true));
    EXPECT_EQ(port, 0);

    const CPortTarget t = ResolvePortName(QStringLiteral(" tcp:10.0.0.5:7000 "), {});
    EXPECT_EQ(t.kind, CPortTarget::Kind::Tcp);
    EXPECT_EQ(t.address, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(t.tcpPort, 7000);
    // A malformed tcp: name is a network port that cannot be opened, never a
    // serial device of that name.
    const CPortTarget bad = ResolvePortName(QStringLiteral("tcp:nohost"), {});
    EXPECT_EQ(bad.kind, CPortTarget::Kind::Tcp);
    EXPECT_TRUE(bad.address.isEmpty());
    // A Windows name may stand for a terminal on the network.
    CTestDir dir;
    ASSERT_TRUE(dir.Write(QStringLiteral("parlink.ini"), "[ports]\nCOM5=tcp:[::1]:4100\n"));
    const CPortTarget mapped = ResolvePortName(QStringLiteral("COM5"), {dir.File(QStringLiteral("parlink.ini"))});
    EXPECT_EQ(mapped.kind, CPortTarget::Kind::Tcp);
    EXPECT_EQ(mapped.address, QStringLiteral("::1"));
    EXPECT_EQ(mapped.tcpPort, 4100);
}

TEST(LinkPinFile, KeepsWellFormedLinesAndIsWrittenWholeForTheOwnerOnly) {
    const QByteArray fp(32, '\xAB');
    const QByteArray text = "# comment\n\nhost:1 " + fp.toHex() + "\r\n" + "short abcd\n" + "three words " +
                            fp.toHex() + "\n" + "nothex " + QByteArray(64, 'z') + "\n" + "  [::1]:2   " +
                            fp.toHex().toUpper() + "  \n";
    const QList<CLinkPin> pins = ParseLinkPins(text);
    ASSERT_EQ(pins.size(), 2);
    EXPECT_EQ(pins[0], (CLinkPin{QStringLiteral("host:1"), fp}));
    EXPECT_EQ(pins[1], (CLinkPin{QStringLiteral("[::1]:2"), fp}));
    EXPECT_EQ(ParseLinkPins(FormatLinkPins(pins)), pins);

    CTestDir dir;
    const QString path = dir.File(QStringLiteral("sub/pins.txt"));
    QString error;
    ASSERT_TRUE(StoreLinkPin(path, {QStringLiteral("a:1"), fp}, &error)) << qPrintable(error);
    ASSERT_TRUE(StoreLinkPin(path, {QStringLiteral("b b"), QByteArray(32, '\x01')}, &error));
    // Pairing again at the same name replaces the pin.
    ASSERT_TRUE(StoreLinkPin(path, {QStringLiteral("a:1"), QByteArray(32, '\x02')}, &error));
    QList<CLinkPin> read;
    ASSERT_TRUE(ReadLinkPins(path, &read, &error));
    ASSERT_EQ(read.size(), 2);
    EXPECT_EQ(read[0], (CLinkPin{QStringLiteral("b_b"), QByteArray(32, '\x01')}));
    EXPECT_EQ(read[1], (CLinkPin{QStringLiteral("a:1"), QByteArray(32, '\x02')}));
    EXPECT_EQ(FileMode(path), 0600u);
    // No temporary file is left beside it, only the (empty) lock file.
    EXPECT_EQ(QDir(dir.File(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("pins.txt"), QStringLiteral("pins.txt.lock")}));
}

TEST(TlsIdentityFile, IsMadeOnceOwnerOnlyAndADamagedOneIsNotReplaced) {
    // Qt's TLS backend is loaded with the application.
    EnsureQtApplication();
    CTestDir dir;
    const QString path = dir.File(QStringLiteral("id/identity.pem"));
    CTlsIdentity first, second;
    QString error;
    ASSERT_TRUE(LoadOrCreateTlsIdentity(path, QStringLiteral("kxconfig-test"), &first, &error)) << qPrintable(error);
    EXPECT_EQ(FileMode(path), 0600u);
    EXPECT_EQ(first.fingerprint.size(), 32);
    EXPECT_EQ(first.key.algorithm(), QSsl::Ec);
    EXPECT_EQ(first.certificate.subjectInfo(QSslCertificate::CommonName).value(0), QStringLiteral("kxconfig-test"));
    ASSERT_TRUE(LoadOrCreateTlsIdentity(path, QStringLiteral("other"), &second, &error));
    EXPECT_EQ(second.fingerprint, first.fingerprint);

    const QByteArray damaged = ReadFileBytes(path).left(100);
    ASSERT_TRUE(WriteFileBytes(path, damaged));
    EXPECT_FALSE(LoadOrCreateTlsIdentity(path, QStringLiteral("x"), &second, &error));
    EXPECT_TRUE(error.contains(path));
    EXPECT_EQ(ReadFileBytes(path), damaged);
}

TEST(Spake2Pairing, AgreesOnlyOnTheSameCodeAndTheSameCertificates) {
    const QByteArray a(32, 'a'), b(32, 'b'), relay(32, 'r');
    auto run = [](const QByteArray& codeA, const QByteArray& codeB, const QByteArray& idA1, const QByteArray& idB1,
                  const QByteArray& idA2, const QByteArray& idB2) {
        CSpake2 pc(CSpake2::Role::A, codeA, idA1, idB1);
        CSpake2 terminal(CSpake2::Role::B, codeB, idA2, idB2);
        EXPECT_EQ(pc.Message().size(), CSpake2::kMessageSize);
        EXPECT_TRUE(terminal.Finish(pc.Message()));
        EXPECT_TRUE(pc.Finish(terminal.Message()));
        const bool pcAccepts = pc.Verify(terminal.Confirmation());
        const bool terminalAccepts = terminal.Verify(pc.Confirmation());
        EXPECT_EQ(pcAccepts, terminalAccepts);
        return pcAccepts;
    };
    EXPECT_TRUE(run("123456", "123456", a, b, a, b));
    EXPECT_FALSE(run("123456", "123457", a, b, a, b));
    // A relay: each side sees the relay's certificate instead of the other's.
    EXPECT_FALSE(run("123456", "123456", a, relay, relay, b));

    // Shares are fresh each run: a recorded one proves nothing later.
    CSpake2 one(CSpake2::Role::A, "123456", a, b), two(CSpake2::Role::A, "123456", a, b);
    EXPECT_NE(one.Message(), two.Message());
    // Not a point of the curve, or cut short: refused.
    CSpake2 side(CSpake2::Role::B, "123456", a, b);
    QByteArray notPoint = one.Message();
    notPoint[64] = static_cast<char>(notPoint[64] ^ 1);
    EXPECT_FALSE(side.Finish(notPoint));
    EXPECT_TRUE(side.Confirmation().isEmpty());
    CSpake2 side2(CSpake2::Role::B, "123456", a, b);
    EXPECT_FALSE(side2.Finish(one.Message().left(33)));
    EXPECT_FALSE(side2.Verify(QByteArray(32, '\0')));
}
