// The network link's parts on their own: tcp: port names, pin files, the
// side's TLS identity, the TLS stream and the SPAKE2 pairing computation.

#include "components/parlink/security/LinkPins.h"
#include "components/parlink/security/LinkTls.h"
#include "components/parlink/security/PortNames.h"
#include "components/parlink/security/Spake2.h"
#include "components/parlink/security/TlsIdentity.h"
#include "components/parlink/security/TlsStream.h"
#include "components/parlink/session/TcpTransport.h"
#include "components/parlink/session/WakeSignal.h"
#include "tests/link/TerminalProcess.h"
#include "tests/support/TestSupport.h"
#include "tools/kxterminal/TerminalPairing.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSet>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

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
                            "tcp:ho st:80", "tcp:-host:80", "tcp:хост:80", "tcp:host:123456", "local:x", "COM1",
                            "tcp:[ ::1]:80", "tcp:[::1 ]:80", "tcp:[fe80::1%eth0]:80", "tcp:[1.2.3.4]:80", "tcp:[]:80",
                            "tcp:host: 80", "tcp:host:٨٠"})
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

TEST(TcpPortNames, ANameMayGiveTheTerminalsCertificateBesideItsAddress) {
    const QString hex = QString::fromLatin1(QByteArray(32, '\xAB').toHex());
    const CPortTarget full = ResolvePortName(QStringLiteral("tcp:10.0.0.5:7000#") + hex.toUpper(), {});
    EXPECT_EQ(full, (CPortTarget{CPortTarget::Kind::Tcp, QStringLiteral("10.0.0.5"), 7000, hex}));
    EXPECT_EQ(ResolvePortName(QStringLiteral("tcp:[::1]:7000#") + hex.left(16), {}).fingerprint, hex.left(16));
    EXPECT_TRUE(ResolvePortName(QStringLiteral("tcp:10.0.0.5:7000"), {}).fingerprint.isEmpty());
    // Too few digits, too many, not hex, nothing after '#': a malformed name
    // that opens nothing, never the address without its promise.
    for (const QString& bad : {hex.left(15), hex + QStringLiteral("a"), hex.left(15) + QStringLiteral("g"), QString()}) {
        const CPortTarget t = ResolvePortName(QStringLiteral("tcp:10.0.0.5:7000#") + bad, {});
        EXPECT_EQ(t.kind, CPortTarget::Kind::Tcp);
        EXPECT_TRUE(t.address.isEmpty()) << qPrintable(bad);
    }
    // Through a Windows name too.
    CTestDir dir;
    ASSERT_TRUE(dir.Write(QStringLiteral("parlink.ini"), "[ports]\nCOM5=tcp:gate-2:4100#" + hex.left(20).toLatin1() + "\n"));
    EXPECT_EQ(ResolvePortName(QStringLiteral("COM5"), {dir.File(QStringLiteral("parlink.ini"))}),
              (CPortTarget{CPortTarget::Kind::Tcp, QStringLiteral("gate-2"), 4100, hex.left(20)}));
}

TEST(TerminalPinFile, PinsAreKeyedByTheCertificateAndAnAddressPromisesOnlyItsLastPairing) {
    const QByteArray a(32, '\x0A'), b(32, '\x0B'), c(32, '\x0C');
    CTestDir dir;
    const QString path = dir.File(QStringLiteral("link-pins.txt"));
    QString error;
    ASSERT_TRUE(StoreTerminalPin(path, {a, QStringLiteral("10.0.0.1:5000")}, &error)) << qPrintable(error);
    ASSERT_TRUE(StoreTerminalPin(path, {b, QStringLiteral("10.0.0.2:5000")}, &error));
    // A paired again at a new address: still one pin, now there.
    ASSERT_TRUE(StoreTerminalPin(path, {a, QStringLiteral("10.0.0.3:5000")}, &error));
    // C paired where B was: the address now promises C.
    ASSERT_TRUE(StoreTerminalPin(path, {c, QStringLiteral("10.0.0.2:5000")}, &error));
    QList<CTerminalPin> pins;
    ASSERT_TRUE(ReadTerminalPins(path, &pins, &error));
    EXPECT_EQ(pins, (QList<CTerminalPin>{{b, QStringLiteral("10.0.0.2:5000")},
                                         {a, QStringLiteral("10.0.0.3:5000")},
                                         {c, QStringLiteral("10.0.0.2:5000")}}));
    EXPECT_TRUE(dir.Read(QStringLiteral("link-pins.txt")).contains(a.toHex() + " 10.0.0.3:5000\n"));
    EXPECT_EQ(FileMode(path), 0600u);

    const auto expected = [&](const QString& address, const QString& hex) {
        const CTerminalPin* pin = ExpectedTerminalPin(pins, address, hex);
        return pin ? pin->fingerprint : QByteArray();
    };
    EXPECT_EQ(expected(QStringLiteral("10.0.0.2:5000"), QString()), c);
    EXPECT_EQ(expected(QStringLiteral("10.0.0.1:5000"), QString()), QByteArray());  // A moved away
    // A name giving the certificate finds it wherever it was paired, and
    // only it: never "any paired terminal".
    EXPECT_EQ(expected(QStringLiteral("10.0.0.9:5000"), QString::fromLatin1(a.toHex().left(16))), a);
    EXPECT_EQ(expected(QStringLiteral("10.0.0.2:5000"), QString::fromLatin1(b.toHex())), b);
    EXPECT_EQ(expected(QStringLiteral("10.0.0.9:5000"), QString::fromLatin1(QByteArray(32, '\x0D').toHex())), QByteArray());
    EXPECT_EQ(expected(QStringLiteral("10.0.0.3:5000"), QString::fromLatin1(a.toHex().left(15))), QByteArray());
    // Digits that fit two pins say nothing.
    const QList<CTerminalPin> twins{{QByteArray(31, '\x01') + '\x02', QStringLiteral("h:1")},
                                    {QByteArray(31, '\x01') + '\x03', QStringLiteral("h:2")}};
    EXPECT_EQ(ExpectedTerminalPin(twins, QStringLiteral("h:1"), QString::fromLatin1(QByteArray(31, '\x01').toHex())), nullptr);
}

TEST(TerminalPinFile, AFileKeyedByTheAddressIsReadAsTheSamePinsAndRewrittenByTheCertificate) {
    const QByteArray a(32, '\x0A'), b(32, '\x0B');
    CTestDir dir;
    // Written before pins were keyed by the certificate: A paired twice, at
    // two addresses, the later line being the later pairing.
    ASSERT_TRUE(dir.Write(QStringLiteral("link-pins.txt"),
                          "# Pinned certificates of the paired link peers: name SHA-256\n10.0.0.1:5000 " + a.toHex() +
                              "\n[fe80::1]:5000 " + b.toHex() + "\n10.0.0.7:5000 " + a.toHex() + "\n"));
    QList<CTerminalPin> pins;
    QString error;
    ASSERT_TRUE(ReadTerminalPins(dir.File(QStringLiteral("link-pins.txt")), &pins, &error)) << qPrintable(error);
    const QList<CTerminalPin> expected{{b, QStringLiteral("[fe80::1]:5000")}, {a, QStringLiteral("10.0.0.7:5000")}};
    EXPECT_EQ(pins, expected);
    const QByteArray rewritten = dir.Read(QStringLiteral("link-pins.txt"));
    EXPECT_TRUE(rewritten.contains(b.toHex() + " [fe80::1]:5000\n" + a.toHex() + " 10.0.0.7:5000\n")) << rewritten.constData();
    bool earlier = true;
    EXPECT_EQ(ParseTerminalPins(rewritten, &earlier), expected);
    EXPECT_FALSE(earlier);
}

TEST(PairingFiles, AFolderThatCannotBeMadeIsSaidAndNoKeyIsMade) {
    EnsureQtApplication();
    CTestDir dir;
    // A link to nowhere where the folder should be: no folder can be made
    // under its name, and nothing is written where it points.
    const QString folder = dir.File(QStringLiteral("keys"));
    ASSERT_TRUE(QFile::link(dir.File(QStringLiteral("nowhere/keys")), folder));
    QString error;
    EXPECT_FALSE(StoreTerminalPin(folder + QStringLiteral("/link-pins.txt"), {QByteArray(32, '\x01'), QStringLiteral("h:1")}, &error));
    EXPECT_EQ(error, folder + QStringLiteral(": cannot create the folder"));
    CTlsIdentity identity;
    error.clear();
    EXPECT_FALSE(LoadOrCreateTlsIdentity(folder + QStringLiteral("/id.pem"), QStringLiteral("x"), &identity, &error));
    EXPECT_EQ(error, folder + QStringLiteral(": cannot create the folder"));
    EXPECT_TRUE(identity.IsNull());
    EXPECT_FALSE(QFileInfo::exists(dir.File(QStringLiteral("nowhere"))));
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

namespace {

// RFC 9382, Appendix B, the first P-256 vector (A = "server", B = "client").
struct CSpake2Vector {
    const char* w = "2ee57912099d31560b3a44b1184b9b4866e904c49d12ac5042c97dca461b1a5f";
    const char* x = "43dd0fd7215bdcb482879fca3220c6a968e66d70b1356cac18bb26c84a78d729";
    const char* y = "dcb60106f276b02606d8ef0a328c02e4b629f84f89786af5befb0bc75b6e66be";
    const char* pA =
        "04a56fa807caaa53a4d28dbb9853b9815c61a411118a6fe516a8798434751470f9010153ac33d0d5f2047ffdb1a3e42c9b4e6be662766e1eeb4116988ede5f912c";
    const char* pB =
        "0406557e482bd03097ad0cbaa5df82115460d951e3451962f1eaf4367a420676d09857ccbc522686c83d1852abfa8ed6e4a1155cf8f1543ceca528afb591a1e0b7";
    const char* k =
        "0412af7e89717850671913e6b469ace67bd90a4df8ce45c2af19010175e37eed69f75897996d539356e2fa6a406d528501f907e04d97515fbe83db277b715d3325";
    const char* hashTT = "0e0672dc86f8e45565d338b0540abe6915bdf72e2b35b5c9e5663168e960a91b";
    const char* cA = "58ad4aa88e0b60d5061eb6b5dd93e80d9c4f00d127c65b3b35b1b5281fee38f0";
    const char* cB = "d3e2e547f1ae04f2dbdbf0fc4b79f8ecff2dff314b5d32fe9fcef2fb26dc459b";
};

QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }

QByteArray WithLength(const QByteArray& part) {
    QByteArray out;
    quint64 n = static_cast<quint64>(part.size());
    for (int i = 0; i < 8; ++i, n >>= 8) out.append(static_cast<char>(n & 0xff));
    return out + part;
}

}  // namespace

TEST(Spake2Pairing, ReproducesTheRfc9382P256Vector) {
    const CSpake2Vector v;
    const auto a = CSpake2::WithScalars(CSpake2::Role::A, Hex(v.w), Hex(v.x), "server", "client");
    const auto b = CSpake2::WithScalars(CSpake2::Role::B, Hex(v.w), Hex(v.y), "server", "client");
    // The shares prove the points M and N and the blinding.
    EXPECT_EQ(a->Message().toHex(), QByteArray(v.pA));
    EXPECT_EQ(b->Message().toHex(), QByteArray(v.pB));
    ASSERT_TRUE(a->Finish(b->Message()));
    ASSERT_TRUE(b->Finish(a->Message()));
    // The transcript holds both names, both shares, K and w, each with its
    // length, in this order.
    const QByteArray tt = WithLength("server") + WithLength("client") + WithLength(Hex(v.pA)) + WithLength(Hex(v.pB)) +
                          WithLength(Hex(v.k)) + WithLength(Hex(v.w));
    EXPECT_EQ(a->Transcript().toHex(), tt.toHex());
    EXPECT_EQ(b->Transcript().toHex(), tt.toHex());
    EXPECT_EQ(QCryptographicHash::hash(tt, QCryptographicHash::Sha256).toHex(), QByteArray(v.hashTT));
    EXPECT_EQ(a->Confirmation().toHex(), QByteArray(v.cA));
    EXPECT_EQ(b->Confirmation().toHex(), QByteArray(v.cB));
    EXPECT_TRUE(a->Verify(b->Confirmation()));
    EXPECT_TRUE(b->Verify(a->Confirmation()));
}

TEST(Spake2Pairing, ConfirmationKeysAreRfc5869Hkdf) {
    // RFC 5869, A.1 (with salt and info) and A.3 (neither: the case of the
    // confirmation keys).
    const QByteArray ikm(22, '\x0b');
    EXPECT_EQ(CSpake2::Hkdf(ikm, Hex("000102030405060708090a0b0c"), Hex("f0f1f2f3f4f5f6f7f8f9"), 42).toHex(),
              QByteArray("3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"));
    EXPECT_EQ(CSpake2::Hkdf(ikm, QByteArray(), QByteArray(), 42).toHex(),
              QByteArray("8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"));
}

TEST(Spake2Pairing, RefusesSharesThatAreNotPlainPointsOrCancelTheBlinding) {
    const CSpake2Vector v;
    // A share in the hybrid form (0x06/0x07 and both coordinates) names the
    // same point as the vector's pA, yet only 0x04 is taken.
    QByteArray hybrid = Hex(v.pA);
    hybrid[0] = static_cast<char>((hybrid[64] & 1) ? 0x07 : 0x06);
    const auto b = CSpake2::WithScalars(CSpake2::Role::B, Hex(v.w), Hex(v.y), "server", "client");
    EXPECT_FALSE(b->Finish(hybrid));
    const auto b2 = CSpake2::WithScalars(CSpake2::Role::B, Hex(v.w), Hex(v.y), "server", "client");
    EXPECT_TRUE(b2->Finish(Hex(v.pA)));
    // A peer that knows w and sends w*M (x = 0) makes pA - w*M the identity:
    // K would be the identity whatever the terminal's y, known to anyone.
    const auto cancel = CSpake2::WithScalars(CSpake2::Role::A, Hex(v.w), QByteArray(32, '\0'), "server", "client");
    ASSERT_EQ(cancel->Message().size(), CSpake2::kMessageSize);
    const auto b3 = CSpake2::WithScalars(CSpake2::Role::B, Hex(v.w), Hex(v.y), "server", "client");
    EXPECT_FALSE(b3->Finish(cancel->Message()));
    EXPECT_TRUE(b3->Confirmation().isEmpty());
    EXPECT_TRUE(b3->Transcript().isEmpty());
}

TEST(Spake2Pairing, SecretScalarsAreDrawnFromTheWholeGroup) {
    // A scalar from a small range repeats within a few dozen runs (16 values:
    // almost surely within 64); a uniform one over the group never does.
    QSet<QByteArray> shares;
    for (int i = 0; i < 64; ++i) shares.insert(CSpake2(CSpake2::Role::A, "123456", "a", "b").Message());
    EXPECT_EQ(shares.size(), 64);
}

TEST(Spake2Pairing, AWrongConfirmationIsRefusedWhereverItDiffers) {
    const CSpake2Vector v;
    const auto a = CSpake2::WithScalars(CSpake2::Role::A, Hex(v.w), Hex(v.x), "server", "client");
    ASSERT_TRUE(a->Finish(Hex(v.pB)));
    const QByteArray good = Hex(v.cB);
    EXPECT_TRUE(a->Verify(good));
    for (int i = 0; i < good.size(); ++i) {
        QByteArray bad = good;
        bad[i] = static_cast<char>(bad[i] ^ 0x80);
        EXPECT_FALSE(a->Verify(bad)) << i;
    }
    EXPECT_FALSE(a->Verify(good.left(31)));
    EXPECT_FALSE(a->Verify(good + '\0'));
    EXPECT_FALSE(a->Verify(Hex(v.cA)));
}

namespace {

// The terminal's pairing state on a clock the test moves, with what it shows.
struct CPairingOnClock {
    CTestDir dir;
    qint64 now = 1'800'000'000'000;  // UTC milliseconds
    QStringList shown;
    CTerminalPairing pairing{dir.Path(), [this](const QString& line) { shown << line; }, [this] { return now; }};
};

}  // namespace

TEST(TerminalPairingBounds, AGuesserSucceedsWithUnderAThousandthInAnHour) {
    // The worst case: someone at the terminal opens pairing again the moment
    // it closes, and a guesser tries whenever the terminal takes an attempt.
    CPairingOnClock t;
    t.pairing.OpenWindow();
    const qint64 end = t.now + 3600 * 1000;
    int guesses = 0, windows = 1;
    double chance = 0;
    for (; t.now < end; t.now += 250) {
        if (t.pairing.CurrentCode().isEmpty()) {
            t.pairing.OpenWindow();
            ++windows;
        }
        CTerminalPairing::CTicket ticket;
        if (!t.pairing.BeginAttempt(&ticket)) continue;
        // A guess after k wrong ones on the same code picks one of 10^6 - k.
        chance += 1.0 / (1e6 - (CTerminalPairing::kMaxAttempts - 1));
        ++guesses;
        t.pairing.EndFailedAttempt(ticket);
    }
    // From the bounds: at most 9 attempts a window, spaced 2, 4, ... 256 s
    // (510 s in all) within its 10 minutes.
    std::printf("pairing bound: %d guesses in %d windows an hour, a chance of %.4f %%\n", guesses, windows, chance * 100);
    EXPECT_LE(guesses, windows * CTerminalPairing::AttemptsPerWindow());
    EXPECT_LT(chance, 0.001);
    EXPECT_LE(guesses, 3600 / 510 * 9 + 9);
}

TEST(TerminalPairingBounds, PairingStaysClosedAfterItsCodesAreUsedUpUntilAskedAgain) {
    CPairingOnClock t;
    CTerminalPairing::CTicket ticket;
    // Nobody asked: closed.
    EXPECT_FALSE(t.pairing.BeginAttempt(&ticket));
    EXPECT_TRUE(t.shown.isEmpty());
    t.pairing.OpenWindow();
    int attempts = 0;
    for (int i = 0; i < 3600; ++i, t.now += 1000) {
        if (!t.pairing.BeginAttempt(&ticket)) continue;
        ++attempts;
        t.pairing.EndFailedAttempt(ticket);
    }
    EXPECT_EQ(attempts, CTerminalPairing::AttemptsPerWindow());
    // Three codes shown, then closed for good.
    EXPECT_EQ(t.shown.filter(QStringLiteral("pairing code: ")).size(), CTerminalPairing::kMaxCodes);
    EXPECT_EQ(t.shown.last(), QStringLiteral("pairing closed"));
    EXPECT_TRUE(t.pairing.CurrentCode().isEmpty());
    // Asked again: open, with the next attempt soon.
    t.pairing.OpenWindow();
    t.now += CTerminalPairing::kFirstDelayMs;
    EXPECT_TRUE(t.pairing.BeginAttempt(&ticket));
}

TEST(TerminalPairingBounds, TheFirstSuccessUsesTheCodeUp) {
    CPairingOnClock t;
    t.pairing.OpenWindow();
    CTerminalPairing::CTicket first, second;
    ASSERT_TRUE(t.pairing.BeginAttempt(&first));
    t.now += CTerminalPairing::kFirstDelayMs;
    ASSERT_TRUE(t.pairing.BeginAttempt(&second));
    EXPECT_EQ(first.code, second.code);
    EXPECT_TRUE(t.pairing.ClaimSuccess(second));
    EXPECT_FALSE(t.pairing.ClaimSuccess(first));
    EXPECT_FALSE(t.pairing.ClaimSuccess(second));
    EXPECT_TRUE(t.pairing.CurrentCode().isEmpty());
}

TEST(PairingFiles, FoldersAreTheOwnersOnlyAndAPlantedLinkIsReplacedNotWrittenThrough) {
    CTestDir dir;
    QString error;
    // A folder made for pins is the owner's alone.
    ASSERT_TRUE(StoreLinkPin(dir.File(QStringLiteral("new/pins.txt")), {QStringLiteral("a:1"), QByteArray(32, '\x01')}, &error))
        << qPrintable(error);
    EXPECT_EQ(FileMode(dir.File(QStringLiteral("new"))), 0700u);
    // A pins file that is a link to someone else's file: pairing stores the
    // pins in a file of its own and leaves the other file as it was.
    ASSERT_TRUE(dir.Write(QStringLiteral("victim.txt"), "keep\n"));
    ASSERT_TRUE(QFile::link(dir.File(QStringLiteral("victim.txt")), dir.File(QStringLiteral("pins.txt"))));
    ASSERT_TRUE(StoreLinkPin(dir.File(QStringLiteral("pins.txt")), {QStringLiteral("b:2"), QByteArray(32, '\x02')}, &error))
        << qPrintable(error);
    EXPECT_EQ(dir.Read(QStringLiteral("victim.txt")), QByteArray("keep\n"));
    EXPECT_FALSE(QFileInfo(dir.File(QStringLiteral("pins.txt"))).isSymLink());
    EXPECT_EQ(FileMode(dir.File(QStringLiteral("pins.txt"))), 0600u);
}

// Both ends of the link's TLS stream over a socket pair: the program's
// identity as the client, the terminal's as the server.
class TlsStreamOnASocket : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApplication();
        QString error;
        ASSERT_TRUE(LoadOrCreateTlsIdentity(dir.File(QStringLiteral("p.pem")), QStringLiteral("kxconfig-test"), &program, &error));
        ASSERT_TRUE(LoadOrCreateTlsIdentity(dir.File(QStringLiteral("t.pem")), QStringLiteral("kxterminal"), &terminal, &error));
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    }
    // The streams over the pair, its kernel buffers `bufferBytes` each way
    // (0: the system's).
    void MakeStreams(int bufferBytes) {
        for (const int fd : fds) {
            if (bufferBytes <= 0) break;
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
        }
        QString error;
        client = CTlsStream::Make(CTlsStream::Role::Client, fds[0], program, &error);
        server = CTlsStream::Make(CTlsStream::Role::Server, fds[1], terminal, &error);
        ASSERT_TRUE(client && server) << qPrintable(error);
    }

    CTestDir dir;
    CTlsIdentity program, terminal;
    int fds[2] = {-1, -1};
    std::unique_ptr<CTlsStream> client, server;
};

// Both ends of the link's TLS stream over a socket pair with small kernel
// buffers, each end in its own thread, as the program and the terminal run
// them: every byte arrives once and in order whatever sizes the writer hands
// over, including repeats of a write that stopped short with fewer bytes
// than before (a paced line's smaller allowance) and with more.
TEST_F(TlsStreamOnASocket, CarriesEveryByteOnceInOrderWithShortWritesAndReadAhead) {
    ASSERT_NO_FATAL_FAILURE(MakeStreams(8192));

    QByteArray sent(6 * 1024 * 1024 + 77, Qt::Uninitialized);
    QRandomGenerator random(20261209);
    for (char& c : sent) c = static_cast<char>(random.bounded(256));

    QByteArray got;
    QString readerError;
    QByteArray clientSeen;
    std::atomic<qsizetype> gotSize = 0;
    int stalls = 0;  // waits for the socket that nothing ended
    int spins = 0;   // reads that found nothing where the stream said there was
    std::thread reader([&] {
        while (!server->Handshake()) {
            if (server->Failed()) return void(readerError = server->ErrorText());
            WaitForTlsStream(*server, 1000);
        }
        clientSeen = server->PeerFingerprint();
        // A record's worth, far less than the library reads ahead: reads
        // fill it and leave records inside.
        std::vector<char> buffer(16384);
        while (got.size() < sent.size()) {
            const qint64 n = server->Read(buffer.data(), static_cast<qint64>(buffer.size()));
            if (n < 0) return void(readerError = server->ErrorText());
            got.append(buffer.data(), n);
            gotSize = got.size();
            // As the terminal's loop does: a poll unless the stream says
            // bytes are inside. Records read ahead are not on the socket
            // any more, so waiting for it with them inside stalls; saying
            // "inside" for part of a record spins.
            if (server->HasBuffered()) {
                if (n == 0) ++spins;
                continue;
            }
            if (got.size() == sent.size()) break;
            QElapsedTimer waited;
            waited.start();
            WaitForTlsStream(*server, 1000);
            if (waited.elapsed() >= 900) ++stalls;
        }
    });
    while (!client->Handshake()) {
        ASSERT_FALSE(client->Failed()) << qPrintable(client->ErrorText());
        WaitForTlsStream(*client, 1000);
    }
    EXPECT_EQ(client->PeerFingerprint(), terminal.fingerprint);
    EXPECT_EQ(client->PeerCommonName(), QStringLiteral("kxterminal"));
    qsizetype at = 0;
    qint64 offered = 0;
    int shortRepeats = 0;
    // The second half goes in bursts of whole records, each waiting until
    // the reader has all of it: then the last records of a burst sit read
    // ahead inside the reader's stream with nothing more on the socket.
    const auto burst = [&] {
        const int large = 4 * 1024 * 1024;
        ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &large, sizeof large);
        const qsizetype end = std::min<qsizetype>(at + 64 * 16384, sent.size());
        while (at < end) {
            const qint64 n = client->Write(sent.constData() + at, std::min<qsizetype>(16384, end - at));
            if (n < 0) return false;
            at += n;
            if (n == 0) WaitForTlsStream(*client, 1000);
        }
        while (gotSize < at) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    };
    while (at < sent.size()) {
        if (at >= sent.size() / 2 && client->WriteWants() != CTlsStream::EWait::Write) {
            ASSERT_TRUE(burst()) << qPrintable(client->ErrorText());
            continue;
        }
        // After a write that stopped short, offer fewer bytes now and then.
        qint64 size = 1 + random.bounded(70000);
        if (client->WriteWants() == CTlsStream::EWait::Write && offered > 1 && random.bounded(2) == 0) {
            size = offered / 2;
            ++shortRepeats;
        }
        size = std::min<qint64>(size, sent.size() - at);
        offered = size;
        const qint64 n = client->Write(sent.constData() + at, size);
        ASSERT_GE(n, 0) << qPrintable(client->ErrorText());
        at += n;
        if (n < size) WaitForTlsStream(*client, 1000);
    }
    reader.join();
    EXPECT_TRUE(readerError.isEmpty()) << qPrintable(readerError);
    EXPECT_EQ(clientSeen, program.fingerprint);
    EXPECT_GT(shortRepeats, 0);
    EXPECT_EQ(stalls, 0);
    EXPECT_LT(spins, 50);
    EXPECT_TRUE(got == sent) << got.size() << " bytes of " << sent.size();

    // The end of the stream is the peer's close, not a failure.
    client->Shutdown();
    client.reset();
    char c;
    while (server->Read(&c, 1) == 0) WaitForTlsStream(*server, 1000);
    EXPECT_TRUE(server->PeerClosed());
    EXPECT_FALSE(server->Failed());
}

// A write that stopped short waits for room on the socket whatever a read
// found afterwards: a poll for what the stream wants wakes when the peer
// makes room, not only when the peer says something. (Waking only for the
// peer's bytes left a sender with a full window idle until its next time-out.)
TEST_F(TlsStreamOnASocket, AWriteThatStoppedShortIsWaitedForAfterAReadFoundNothing) {
    ASSERT_NO_FATAL_FAILURE(MakeStreams(0));
    bool clientDone = false;
    bool serverDone = false;
    for (int i = 0; i < 1000 && !(clientDone && serverDone); ++i) {
        clientDone = clientDone || client->Handshake();
        serverDone = serverDone || server->Handshake();
        ASSERT_FALSE(client->Failed() || server->Failed());
    }
    ASSERT_TRUE(clientDone && serverDone);
    // The client writes until the socket is full; then reads, and finds nothing.
    const QByteArray chunk(16384, 'x');
    qint64 written = 0;
    for (int i = 0; i < 100000; ++i) {
        const qint64 n = client->Write(chunk.constData(), chunk.size());
        ASSERT_GE(n, 0);
        written += n;
        if (n < chunk.size()) break;
    }
    ASSERT_EQ(client->WriteWants(), CTlsStream::EWait::Write);
    char c;
    ASSERT_EQ(client->Read(&c, 1), 0);
    EXPECT_TRUE(client->WantedEvents() & POLLOUT);
    EXPECT_TRUE(client->WantedEvents() & POLLIN);
    // The server reads (and says nothing): the client's poll wakes for room.
    std::vector<char> buffer(1 << 20);
    qint64 drained = 0;
    for (int i = 0; i < 1000 && drained < written / 2; ++i) {
        const qint64 n = server->Read(buffer.data(), static_cast<qint64>(buffer.size()));
        ASSERT_GE(n, 0);
        drained += n;
    }
    pollfd p{client->Fd(), client->WantedEvents(), 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & POLLOUT);
    EXPECT_GT(client->Write(chunk.constData(), chunk.size()), 0);
}

// The program's network transport against a stand-in terminal that sends
// the link's first bytes in the same TLS record as its acceptance: they are
// the link's, not lost and not taken for part of the answer; a terminal with
// another certificate than the pinned one gets nothing but the handshake.
TEST(TcpTransportOpen, TakesTheLinksFirstBytesThatCameWithTheAcceptance) {
    EnsureQtApplication();
    CTestDir dir;
    const QString folder = dir.File(QStringLiteral("program/"));
    CTlsIdentity terminal, stranger, program;
    QString error;
    ASSERT_TRUE(LoadOrCreateTlsIdentity(dir.File(QStringLiteral("t.pem")), QStringLiteral("kxterminal"), &terminal, &error));
    ASSERT_TRUE(LoadOrCreateTlsIdentity(dir.File(QStringLiteral("s.pem")), QStringLiteral("kxterminal"), &stranger, &error));
    ASSERT_TRUE(LinkTls::LoadProgramIdentity(folder, &program, &error)) << qPrintable(error);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 2), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const quint16 port = ntohs(addr.sin_port);
    CTerminalPin pin;
    pin.fingerprint = terminal.fingerprint;
    pin.address = QStringLiteral("127.0.0.1:%1").arg(port);
    ASSERT_TRUE(StoreTerminalPin(folder + QLatin1String(LinkTls::kProgramPinsFile), pin, &error)) << qPrintable(error);

    // Serves one connection as `identity`; what the program sent after the
    // handshake comes back in `heard`.
    const auto serve = [listener](const CTlsIdentity& identity, const QByteArray& answer, QByteArray* heard) {
        return std::thread([=] {
            QString why;
            auto stream = CTlsStream::Make(CTlsStream::Role::Server, ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC),
                                           identity, &why);
            if (!stream) return;
            QElapsedTimer t;
            t.start();
            while (!stream->Handshake() && !stream->Failed() && t.elapsed() < 10000) WaitForTlsStream(*stream, 100);
            char buffer[64];
            while (heard->size() < 4 && t.elapsed() < 10000) {
                const qint64 n = stream->Read(buffer, sizeof buffer);
                if (n < 0) return;
                if (n > 0) heard->append(buffer, n);
                else WaitForTlsStream(*stream, 100);
            }
            stream->Write(answer.constData(), answer.size());
            // Held open until the program has read it.
            while (stream->Read(buffer, sizeof buffer) >= 0 && t.elapsed() < 10000) WaitForTlsStream(*stream, 100);
        });
    };
    CPortTarget target;
    target.kind = CPortTarget::Kind::Tcp;
    target.address = QStringLiteral("127.0.0.1");
    target.tcpPort = port;
    CTransportOptions options;
    options.identityFolder = folder;

    QByteArray heard;
    std::thread accepted = serve(terminal, QByteArray("KXX-first-frame"), &heard);
    auto transport = MakeTcpTransport(target, options);
    ASSERT_TRUE(transport->Open(&error)) << qPrintable(error);
    EXPECT_EQ(transport->Wait(1000), QByteArray("XX-first-frame"));
    // A wait on a quiet line ends when the session's caller wakes it, not at
    // its time-out (a command then goes at once).
    CWakeSignal wake;
    transport->SetWakeFd(wake.Fd());
    std::thread waker([&wake] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wake.Signal();
    });
    QElapsedTimer waited;
    waited.start();
    EXPECT_TRUE(transport->Wait(20000).isEmpty());
    EXPECT_LT(waited.elapsed(), 10000);
    waker.join();
    wake.Drain();
    pollfd drained{wake.Fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&drained, 1, 0), 0);
    transport->Close();
    accepted.join();
    EXPECT_EQ(heard, QByteArray("KXTL"));

    QByteArray heardByStranger;
    std::thread refused = serve(stranger, QByteArray("K"), &heardByStranger);
    auto other = MakeTcpTransport(target, options);
    EXPECT_FALSE(other->Open(&error));
    EXPECT_TRUE(error.contains(QLatin1String("another certificate"))) << qPrintable(error);
    other.reset();
    refused.join();
    EXPECT_TRUE(heardByStranger.isEmpty());
    ::close(listener);
}
