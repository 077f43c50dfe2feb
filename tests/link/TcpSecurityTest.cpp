// The network link against the emulator on loopback TCP: pairing, and every
// way in that must be refused before a command reaches the terminal.

#include "components/parlink/protocol/LinkCrc.h"
#include "components/parlink/security/LinkPins.h"
#include "components/parlink/security/LinkTls.h"
#include "components/parlink/security/TlsStream.h"
#include "components/parlink/session/Pairing.h"
#include "components/parlink/security/Spake2.h"
#include "components/parlink/security/TlsIdentity.h"
#include "filesafety/PrivateFile.h"
#include "tests/link/LinkTestSupport.h"
#include "tools/kxterminal/TerminalPairing.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QMutex>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>

#include <QElapsedTimer>
#include <QtGlobal>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <future>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

// Version 1's HELLO of the documented example: what a client that skips TLS
// would send first.
const QByteArray kPlainHello = QByteArray::fromHex("4B58484D00000000050066 6D4D3C2B1A01917F6F96");

// Stands between the program and the terminal: forwards bytes as they are
// (recording what the program sent), or terminates TLS on both sides with a
// certificate of its own, as an attacker on the network would.
class CTestRelay final : public QThread {
public:
    enum class Mode { Forward, TerminateTls };
    CTestRelay(Mode mode, quint16 target, CTlsIdentity identity)
        : m_mode(mode), m_target(target), m_identity(std::move(identity)) {}
    ~CTestRelay() override {
        quit();
        wait();
    }
    quint16 Start() {
        start();
        return m_port.get_future().get();
    }
    QByteArray FromProgram() {
        QMutexLocker guard(&m_lock);
        return m_fromProgram;
    }

protected:
    void run() override {
        class Server final : public QTcpServer {
        public:
            std::function<void(qintptr)> take;
            void incomingConnection(qintptr fd) override { take(fd); }
        } server;
        server.take = [&](qintptr fd) { Relay(fd, &server); };
        server.listen(QHostAddress::LocalHost, 0);
        m_port.set_value(server.serverPort());
        exec();
        // A socket deleted with the server says it disconnected: not to its
        // partner, deleted just before.
        for (QSslSocket* s : server.findChildren<QSslSocket*>()) QObject::disconnect(s, nullptr, nullptr, nullptr);
    }

private:
    void Relay(qintptr fd, QObject* parent) {
        auto* in = new QSslSocket(parent);
        auto* out = new QSslSocket(parent);
        auto pendingIn = std::make_shared<QByteArray>(), pendingOut = std::make_shared<QByteArray>();
        const bool tls = m_mode == Mode::TerminateTls;
        auto ready = [tls](QSslSocket* s) { return tls ? s->isEncrypted() : s->state() == QAbstractSocket::ConnectedState; };
        auto pump = [=, this] {
            if (ready(in)) {
                const QByteArray b = in->readAll();
                if (!tls) {
                    QMutexLocker guard(&m_lock);
                    m_fromProgram += b;
                }
                *pendingOut += b;
            }
            if (ready(out)) *pendingIn += out->readAll();
            if (ready(out) && !pendingOut->isEmpty()) out->write(std::exchange(*pendingOut, {}));
            if (ready(in) && !pendingIn->isEmpty()) in->write(std::exchange(*pendingIn, {}));
        };
        for (QSslSocket* s : {in, out}) {
            QObject::connect(s, &QSslSocket::readyRead, s, pump);
            QObject::connect(s, &QSslSocket::encrypted, s, pump);
            QObject::connect(s, &QSslSocket::connected, s, pump);
            QObject::connect(s, &QSslSocket::sslErrors, s, [s] { s->ignoreSslErrors(); });
            QObject::connect(s, &QSslSocket::disconnected, s, [in, out] {
                in->disconnectFromHost();
                out->disconnectFromHost();
            });
            if (tls) s->setSslConfiguration(LinkTls::Configuration(m_identity));
        }
        in->setSocketDescriptor(fd);
        if (tls) {
            in->startServerEncryption();
            out->connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_target);
        } else {
            out->connectToHost(QHostAddress::LocalHost, m_target);
        }
    }

    Mode m_mode;
    quint16 m_target;
    CTlsIdentity m_identity;
    std::promise<quint16> m_port;
    QMutex m_lock;
    QByteArray m_fromProgram;
};

}  // namespace

class TcpLink : public CLinkFixture {
protected:
    void SetUp() override {
        CLinkFixture::SetUp();
        state.Write(QStringLiteral("journal.txt"), Cp1251(QStringLiteral("4600000000017;1;1;1;1;1;Хлеб;01.01.2024 10:00:00;\r\n"
                                                                          "4600000000024;2;1;1;1;1;Молоко;01.01.2024 10:01:00;\r\n")));
        StartTerminal({QStringLiteral("--listen-tcp"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--pairing-window")});
        ASSERT_TRUE(terminal.Port().startsWith(QLatin1String("tcp:127.0.0.1:")));
        port = static_cast<quint16>(terminal.Port().section(QLatin1Char(':'), 2).toUInt());
        ASSERT_GT(port, 0);
    }
    QStringList SettingsFiles() const { return {settings.File(QStringLiteral("parlink.ini"))}; }
    CPairOutcome Pair(const QString& code, const QString& portName = QString()) const {
        return PairWithTerminal(portName.isEmpty() ? terminal.Port() : portName, code, SettingsFiles());
    }
    void PairNow() {
        // The code first: it is shown once the terminal has stored it.
        const QString code = terminal.PairingCode();
        NoDelay();
        const CPairOutcome o = Pair(code);
        ASSERT_EQ(o.result, EPairResult::Paired) << qPrintable(o.text);
    }
    // Everything a refused peer must not change: the journal, the directories,
    // the pins; and the log must show no session.
    QByteArray Snapshot() const {
        QByteArray all = state.Read(QStringLiteral("journal.txt")) + state.Read(QStringLiteral("pins.txt"));
        QDirIterator it(state.File(QStringLiteral("directories")), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString f = it.next();
            all += f.toUtf8() + ReadFileBytes(f);
        }
        return all;
    }
    bool SessionSeen() const { return CommandLog().contains(QLatin1String("S begin")); }
    // Lets the next pairing attempt in at once: the delay after a wrong one
    // is what some tests are not about (the terminal reads the file afresh).
    void NoDelay() {
        QString ini = QString::fromLatin1(state.Read(QStringLiteral("pairing.ini")));
        if (!ini.contains(QLatin1String("NotBefore="))) return;
        ini.replace(QRegularExpression(QStringLiteral("NotBefore=\\d+")), QStringLiteral("NotBefore=0"));
        WritePairingState(ini.toLatin1());
    }
    // Replaced whole, as the terminal writes it: the end of the last attempt
    // may still be reading it, and half a file would close pairing.
    void WritePairingState(const QByteArray& ini) {
        QString error;
        ASSERT_TRUE(WritePrivateFile(state.File(QStringLiteral("pairing.ini")), ini, &error)) << qPrintable(error);
    }
    // The person at the terminal asks for pairing.
    void AskForPairing() { ASSERT_EQ(::kill(static_cast<pid_t>(terminal.Pid()), SIGUSR1), 0); }
    QString WrongCode(const QString& code) const {
        return QStringLiteral("%1").arg((code.toInt() + 1) % 1000000, 6, 10, QLatin1Char('0'));
    }
    // Pairing.ini's counts as the terminal stored them.
    int PairingValue(const char* key) const {
        const QRegularExpression re(QStringLiteral("%1=(\\d+)").arg(QLatin1String(key)));
        return re.match(QString::fromLatin1(state.Read(QStringLiteral("pairing.ini")))).captured(1).toInt();
    }
    // Connects raw, sends `bytes` and reads whatever comes until the peer closes.
    QByteArray RawExchange(const QByteArray& bytes, bool tls, const CTlsIdentity* identity = nullptr) const {
        QSslSocket s;
        if (tls) {
            s.setSslConfiguration(LinkTls::Configuration(*identity));
            s.ignoreSslErrors();
            s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
            if (!s.waitForEncrypted(15000)) return "<no tls>";
        } else {
            s.connectToHost(QHostAddress::LocalHost, port);
            if (!s.waitForConnected(15000)) return "<no connection>";
        }
        s.write(bytes);
        QByteArray got;
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired() && s.state() == QAbstractSocket::ConnectedState) {
            s.waitForReadyRead(200);
            got += s.readAll();
        }
        got += s.readAll();
        return got;
    }
    CTlsIdentity NewIdentity(const QString& name) const {
        CTlsIdentity id;
        QString error;
        EXPECT_TRUE(LoadOrCreateTlsIdentity(settings.File(name + QStringLiteral(".pem")), name, &id, &error));
        return id;
    }

    quint16 port = 0;
};

TEST_F(TcpLink, PairedSessionRunsTheProtocolAndKeysAreTheOwnersOnly) {
    const QString code = terminal.PairingCode();
    ASSERT_EQ(code.size(), 6);
    EXPECT_TRUE(state.Read(QStringLiteral("pairing.ini")).contains(code.toLatin1()));
    // Before pairing this program does not even connect.
    auto link = NewLink();
    EXPECT_EQ(link->OpenPort(terminal.Port()), 0);
    EXPECT_TRUE(link->LastError().contains(QLatin1String("not paired")));

    const CPairOutcome o = Pair(code.left(3) + QStringLiteral(" ") + code.mid(3));
    ASSERT_EQ(o.result, EPairResult::Paired) << qPrintable(o.text);
    // The code is used up and pairing closed until asked for again; the
    // terminal says what it paired.
    EXPECT_TRUE(terminal.WaitForLine(QStringLiteral("paired: ")).startsWith(QLatin1String("paired: kxconfig-")));
    NoDelay();
    EXPECT_EQ(Pair(code).result, EPairResult::NoCode);
    for (const QString& f : {settings.File(QStringLiteral("link-identity.pem")), settings.File(QStringLiteral("link-pins.txt")),
                             state.File(QStringLiteral("tls-identity.pem")), state.File(QStringLiteral("pins.txt")),
                             state.File(QStringLiteral("pairing.ini"))}) {
        struct stat st{};
        ASSERT_EQ(::stat(QFile::encodeName(f).constData(), &st), 0) << qPrintable(f);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << qPrintable(f);
    }
    QList<CTerminalPin> pins;
    QString error;
    ASSERT_TRUE(ReadTerminalPins(settings.File(QStringLiteral("link-pins.txt")), &pins, &error));
    ASSERT_EQ(pins.size(), 1);
    EXPECT_EQ(pins[0].address, terminal.Port().mid(4));
    EXPECT_EQ(pins[0].fingerprint, o.fingerprint);

    ASSERT_TRUE(Connect(*link)) << qPrintable(link->LastError());
    EXPECT_EQ(Ask(*link, QStringLiteral("--h")), QStringLiteral("KX;KX-T100 emulator;KXE0000001"));
    link->SendCommand(QStringLiteral("021"));
    bool ended = false;
    EXPECT_EQ(ReceiveLines(*link, &ended).size(), 2);
    EXPECT_TRUE(ended);
    EXPECT_EQ(link->ClosePort(), 1);
    // Two sessions in a row on the same terminal.
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(Ask(*link, QStringLiteral("020")), QStringLiteral("2"));
    EXPECT_EQ(link->ClosePort(), 1);

    // The terminal gone in the middle: the link error, not a hang.
    ASSERT_TRUE(Connect(*link));
    terminal.Kill();
    QString answer;
    link->SendCommand(QStringLiteral("020"));
    int status = 1;
    for (int i = 0; i < 50 && status == 1; ++i) status = link->Receive(&answer);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(link->ClosePort(), 0);
    // Refused host: the port cannot be opened.
    EXPECT_EQ(link->OpenPort(terminal.Port()), 0);
}

TEST_F(TcpLink, UnpairedProgramsAreRefusedBeforeAnyCommand) {
    ASSERT_NO_FATAL_FAILURE(PairNow());
    const QByteArray before = Snapshot();
    // A program with its own key that never paired: it gets one refusal byte
    // and nothing else, whatever it sends after the greeting.
    const CTlsIdentity stranger = NewIdentity(QStringLiteral("stranger"));
    EXPECT_EQ(RawExchange(QByteArray("KXTL") + kPlainHello, true, &stranger), QByteArray("U"));
    EXPECT_EQ(Snapshot(), before);
    // A program the terminal forgot (its pins removed) is told so at open.
    ASSERT_TRUE(QFile::remove(state.File(QStringLiteral("pins.txt"))));
    const QByteArray forgotten = Snapshot();
    auto link = NewLink();
    EXPECT_EQ(link->OpenPort(terminal.Port()), 0);
    EXPECT_TRUE(link->LastError().contains(QLatin1String("does not know this computer"))) << qPrintable(link->LastError());
    EXPECT_FALSE(SessionSeen());
    EXPECT_EQ(Snapshot(), forgotten);
}

TEST_F(TcpLink, PlaintextClientGetsNothingOfTheLink) {
    const QByteArray got = RawExchange(QByteArray("KXTL") + kPlainHello + kPlainHello, false);
    // Not a hello answer, not even the greeting's answer: a TLS alert
    // (fatal, protocol_version), then the end.
    EXPECT_EQ(got.toHex(), QByteArray("15030300020246"));
    EXPECT_FALSE(SessionSeen());
}

TEST_F(TcpLink, WrongCodesUseUpCodesAndThenPairingStaysClosedUntilAskedFor) {
    const QString first = terminal.PairingCode();
    const QByteArray before = Snapshot();
    EXPECT_EQ(Pair(QStringLiteral("12345")).result, EPairResult::BadCode);
    // Three wrong attempts use a code up: the terminal shows the next one,
    // and the right code of the first no longer works.
    QString code = first;
    for (int shown = 1; shown <= 3; ++shown) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            NoDelay();
            const CPairOutcome o = Pair(attempt == 0 && shown > 1 ? first : WrongCode(code));
            EXPECT_EQ(o.result, EPairResult::WrongCode) << shown << " " << attempt << " " << qPrintable(o.text);
        }
        if (shown < 3) {
            const QString next = terminal.PairingCode(code);
            ASSERT_FALSE(next.isEmpty());
            EXPECT_NE(next, code);
            code = next;
        }
    }
    // The third code used up: pairing is closed, whatever code is tried.
    EXPECT_EQ(terminal.WaitForLine(QStringLiteral("pairing closed")), QStringLiteral("pairing closed"));
    NoDelay();
    EXPECT_EQ(Pair(code).result, EPairResult::NoCode);
    EXPECT_FALSE(QFileInfo::exists(settings.File(QStringLiteral("link-pins.txt"))));
    EXPECT_EQ(Snapshot(), before);

    // Asked for again on the terminal: a new code, good once.
    AskForPairing();
    const QString fresh = terminal.PairingCode(code);
    ASSERT_FALSE(fresh.isEmpty());
    NoDelay();
    EXPECT_EQ(Pair(fresh).result, EPairResult::Paired);
    NoDelay();
    EXPECT_EQ(Pair(fresh).result, EPairResult::NoCode);

    // A window that has run out (or one dated in the future) takes nothing.
    AskForPairing();
    const QString late = terminal.PairingCode(fresh);
    ASSERT_FALSE(late.isEmpty());
    for (const qint64 opened : {qint64(1000), QDateTime::currentSecsSinceEpoch() + 3600}) {
        WritePairingState(QStringLiteral("[pairing]\nWindow=%1\nCode=%2\nAttempts=0\nCodes=1\nFailures=0\nNotBefore=0\n")
                              .arg(opened)
                              .arg(late)
                              .toLatin1());
        EXPECT_EQ(Pair(late).result, EPairResult::NoCode) << opened;
    }
    EXPECT_FALSE(SessionSeen());
}

TEST_F(TcpLink, EveryAttemptHoldsTheNextOneBackWhateverConnectionItComesOn) {
    const QString code = terminal.PairingCode();
    EXPECT_EQ(Pair(WrongCode(code)).result, EPairResult::WrongCode);
    // At once after it, on a new connection, not even the right code is
    // taken, and that costs the code nothing.
    EXPECT_EQ(Pair(code).result, EPairResult::NoCode);
    EXPECT_EQ(PairingValue("Attempts"), 1);
    // Each further attempt doubles the wait: 4 s after the second, 8 s after
    // the third (counted from the attempt's start at the terminal).
    for (int i = 1; i <= 2; ++i) {
        NoDelay();
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        EXPECT_EQ(Pair(WrongCode(code)).result, EPairResult::WrongCode);
        const qint64 end = QDateTime::currentMSecsSinceEpoch();
        const qint64 wait = CTerminalPairing::kFirstDelayMs << i;
        const qint64 until = QString::fromLatin1(state.Read(QStringLiteral("pairing.ini")))
                                 .section(QStringLiteral("NotBefore="), 1)
                                 .section(QLatin1Char('\r'), 0, 0)
                                 .toLongLong();
        EXPECT_GE(until, start + wait) << i;
        EXPECT_LE(until, end + wait) << i;
    }
    EXPECT_EQ(PairingValue("Failures"), 3);
}

TEST_F(TcpLink, RelayWithItsOwnCertificateIsRefused) {
    CTestRelay relay(CTestRelay::Mode::TerminateTls, port, NewIdentity(QStringLiteral("relay")));
    const QString relayPort = QStringLiteral("tcp:127.0.0.1:%1").arg(relay.Start());
    // Pairing through it fails on both sides, and costs the code an attempt.
    const QString code = terminal.PairingCode();
    EXPECT_EQ(Pair(code, relayPort).result, EPairResult::WrongCode);
    EXPECT_FALSE(QFileInfo::exists(state.File(QStringLiteral("pins.txt"))));
    EXPECT_FALSE(QFileInfo::exists(settings.File(QStringLiteral("link-pins.txt"))));

    // Paired directly, then led to the relay by a name that expects the
    // terminal there (as a redirected name would do): refused at open.
    ASSERT_NO_FATAL_FAILURE(PairNow());
    const QByteArray before = Snapshot();
    QList<CTerminalPin> pins;
    QString error;
    ASSERT_TRUE(ReadTerminalPins(settings.File(QStringLiteral("link-pins.txt")), &pins, &error));
    auto link = NewLink();
    EXPECT_EQ(link->OpenPort(relayPort + QLatin1Char('#') + QString::fromLatin1(pins[0].fingerprint.toHex())), 0);
    EXPECT_TRUE(link->LastError().contains(QLatin1String("another certificate"))) << qPrintable(link->LastError());
    EXPECT_FALSE(SessionSeen());
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(TcpLink, ReplayedSessionDoesNothing) {
    ASSERT_NO_FATAL_FAILURE(PairNow());
    // A session recorded on the wire: it clears the journal.
    CTestRelay recorder(CTestRelay::Mode::Forward, port, CTlsIdentity());
    const QString viaRecorder = QStringLiteral("tcp:127.0.0.1:%1").arg(recorder.Start());
    QList<CTerminalPin> pins;
    QString error;
    ASSERT_TRUE(ReadTerminalPins(settings.File(QStringLiteral("link-pins.txt")), &pins, &error));
    auto link = NewLink();
    ASSERT_EQ(link->OpenPort(viaRecorder + QLatin1Char('#') + QString::fromLatin1(pins[0].fingerprint.toHex())), 1)
        << qPrintable(link->LastError());
    link->SendCommand(QStringLiteral("001"));
    ASSERT_EQ(link->WaitLink(15000), 1);
    ASSERT_EQ(link->ClosePort(), 1);
    EXPECT_TRUE(state.Read(QStringLiteral("journal.txt")).isEmpty());
    // The terminal notes the session's end once the connection is gone.
    const QDeadlineTimer ended(15000);
    while (!CommandLog().contains(QLatin1String("S end")) && !ended.hasExpired()) QThread::msleep(20);
    ASSERT_TRUE(CommandLog().contains(QLatin1String("S end")));
    const QByteArray recorded = recorder.FromProgram();
    ASSERT_GT(recorded.size(), 200);

    // New scans; the recorded bytes sent again change nothing.
    ASSERT_TRUE(state.Write(QStringLiteral("journal.txt"), Cp1251(QStringLiteral("4600000000031;1;1;1;1;1;Сыр;02.01.2024 09:00:00;\r\n"))));
    const QString logBefore = CommandLog();
    const QByteArray before = Snapshot();
    const QByteArray got = RawExchange(recorded, false);
    EXPECT_FALSE(got.contains("KX"));
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(CommandLog(), logBefore);
}

TEST_F(TcpLink, ATerminalAtANewAddressIsKnownByItsCertificateAndByNothingElse) {
    ASSERT_NO_FATAL_FAILURE(PairNow());
    const QString pinsFile = settings.File(QStringLiteral("link-pins.txt"));
    QList<CTerminalPin> pins;
    QString error;
    ASSERT_TRUE(ReadTerminalPins(pinsFile, &pins, &error));
    ASSERT_EQ(pins.size(), 1);
    const QString hex = QString::fromLatin1(pins[0].fingerprint.toHex());
    // The terminal's address changes (a new lease): the same device, now
    // reached at another port of this computer.
    CTestRelay moved(CTestRelay::Mode::Forward, port, CTlsIdentity());
    const QString newAddress = QStringLiteral("tcp:127.0.0.1:%1").arg(moved.Start());
    auto link = NewLink();
    // The address alone promises nothing: no terminal was paired there.
    EXPECT_EQ(link->OpenPort(newAddress), 0);
    EXPECT_TRUE(link->LastError().contains(QLatin1String("not paired"))) << qPrintable(link->LastError());
    // Nor does any other paired certificate, or too few digits of its own.
    const QByteArray otherTerminal(32, '\x5A');
    ASSERT_TRUE(StoreTerminalPin(pinsFile, {otherTerminal, QStringLiteral("10.9.9.9:4000")}, &error)) << qPrintable(error);
    EXPECT_EQ(link->OpenPort(newAddress + QStringLiteral("#") + QString::fromLatin1(otherTerminal.toHex())), 0);
    EXPECT_TRUE(link->LastError().contains(QLatin1String("another certificate"))) << qPrintable(link->LastError());
    EXPECT_EQ(link->OpenPort(newAddress + QStringLiteral("#") + hex.left(15)), 0);
    EXPECT_FALSE(SessionSeen());
    // The name that gives its certificate finds it, no pairing again.
    ASSERT_EQ(link->OpenPort(newAddress + QStringLiteral("#") + hex.left(16).toUpper()), 1) << qPrintable(link->LastError());
    ASSERT_EQ(link->WaitLink(15000), 1);
    EXPECT_EQ(Ask(*link, QStringLiteral("020")), QStringLiteral("2"));
    EXPECT_EQ(link->ClosePort(), 1);

    // A pin file of the earlier shape, keyed by the address, works as it did
    // and is rewritten keyed by the certificate.
    ASSERT_TRUE(WriteFileBytes(pinsFile, "# Pinned certificates of the paired link peers: name SHA-256\n" +
                                             terminal.Port().mid(4).toUtf8() + ' ' + hex.toLatin1() + '\n'));
    ASSERT_TRUE(Connect(*link)) << qPrintable(link->LastError());
    EXPECT_EQ(link->ClosePort(), 1);
    EXPECT_TRUE(ReadFileBytes(pinsFile).contains(hex.toLatin1() + ' ' + terminal.Port().mid(4).toUtf8() + '\n'))
        << ReadFileBytes(pinsFile).constData();
}

TEST(TcpLinkIpv6, PairsAndRunsASessionOnAnIpv6Address) {
    EnsureQtApplication();
    CTestDir state, settings;
    CTerminalProcess terminal;
    ASSERT_TRUE(terminal.Start(state.Path(), {QStringLiteral("--listen-tcp"), QStringLiteral("[::1]:0"),
                                              QStringLiteral("--pairing-window")}))
        << qPrintable(terminal.Diagnostics());
    ASSERT_TRUE(terminal.Port().startsWith(QLatin1String("tcp:[::1]:"))) << qPrintable(terminal.Port());
    const QStringList files{settings.File(QStringLiteral("parlink.ini"))};
    const CPairOutcome o = PairWithTerminal(terminal.Port(), terminal.PairingCode(), files);
    ASSERT_EQ(o.result, EPairResult::Paired) << qPrintable(o.text);
    // The terminal names the computer by its certificate and fingerprint.
    const QList<CLinkPin> pins = ParseLinkPins(state.Read(QStringLiteral("pins.txt")));
    ASSERT_EQ(pins.size(), 1);
    EXPECT_TRUE(pins[0].name.startsWith(QLatin1String("kxconfig-"))) << qPrintable(pins[0].name);
    EXPECT_TRUE(pins[0].name.endsWith(QLatin1Char('/') + QString::fromLatin1(pins[0].fingerprint.toHex().left(8))));
    CParlinkX2 link(files);
    ASSERT_EQ(link.OpenPort(terminal.Port()), 1) << qPrintable(link.LastError());
    ASSERT_EQ(link.WaitLink(15000), 1);
    EXPECT_EQ(link.ClosePort(), 1);
}

TEST_F(TcpLink, ConfigurationUpdaterSendsItsFileOverTheNetwork) {
    // kxupdate_pc in a program folder of its own, with the link component:
    // its key and pins go beside its parlink.ini there.
    CTestDir bin;
    for (const char* name : {"kxupdate_pc", "libparlink.so", "components.ini"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(KX_PROGRAM_DIR "/") + QLatin1String(name), bin.File(QLatin1String(name))))
            << name;
    const CPairOutcome o = PairWithTerminal(terminal.Port(), terminal.PairingCode(), {bin.File(QStringLiteral("parlink.ini"))});
    ASSERT_EQ(o.result, EPairResult::Paired) << qPrintable(o.text);
    QByteArray data;
    for (int i = 0; i < 20000; ++i) data += QByteArray::number(i * 7919) + (i % 3 ? "," : "\n");
    ASSERT_TRUE(settings.Write(QStringLiteral("base.db"), data));
    QProcess updater;
    updater.start(bin.File(QStringLiteral("kxupdate_pc")),
                  {QStringLiteral("/p"), terminal.Port(), QStringLiteral("/u"), settings.File(QStringLiteral("base.db")),
                   QStringLiteral("\\Application\\Orvane\\mainbase.db")});
    ASSERT_TRUE(updater.waitForFinished(60000));
    EXPECT_EQ(updater.exitCode(), 0) << updater.readAllStandardError().constData();
    EXPECT_EQ(state.Read(QStringLiteral("files/Application/Orvane/mainbase.db")), data);
}

TEST_F(TcpLink, ASilentTerminalEndsTheSessionByTheLinkTimeOut) {
    ASSERT_NO_FATAL_FAILURE(PairNow());
    // The connection stays up, but the terminal stops answering: only the
    // link protocol's time-out can tell, as on a serial line.
    state.Write(QStringLiteral("scenario.ini"), "[scenario]\nDropAfterFrames=3\n");
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link)) << qPrintable(link->LastError());
    BeginUpload(*link, QStringLiteral("111"));
    QElapsedTimer timer;
    timer.start();
    int status = 1;
    for (int i = 0; status == 1 && i < 1000000; ++i)
        status = link->SendData(QStringLiteral("%1;0;Операция %1;1;").arg(i));
    if (status == 1) status = link->WaitLink(15000);
    EXPECT_EQ(status, 0);
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_TRUE(link->Session()->FailureText().contains(QLatin1String("does not answer")))
        << qPrintable(link->Session()->FailureText());
    EXPECT_EQ(link->ClosePort(), 0);
    // Nothing of the unfinished load is stored.
    EXPECT_FALSE(QFileInfo::exists(state.File(QStringLiteral("directories/opers.ux3"))));
}

namespace {

// A pairing client driven a step at a time, as a second program (or an
// attacker who learnt the code) would: its share now, its confirmation later.
class CSteppedPairing {
public:
    // Up to the terminal's share and proof; true when that proof holds.
    bool Start(quint16 port, const CTlsIdentity& identity, const QString& code) {
        QByteArray terminal;
        QString why;
        if (!LinkTls::ConnectClient(m_socket, QStringLiteral("127.0.0.1"), port, identity, 15000, &terminal, &why))
            return false;
        m_spake = std::make_unique<CSpake2>(CSpake2::Role::A, code.toLatin1(), identity.fingerprint, terminal);
        QByteArray answer;
        if (!LinkTls::WriteAll(m_socket, QByteArray("KXTP") + m_spake->Message(), 15000) ||
            !LinkTls::ReadExactly(m_socket, 1 + CSpake2::kMessageSize + CSpake2::kConfirmationSize, 15000, &answer))
            return false;
        return answer[0] == 'S' && m_spake->Finish(answer.mid(1, CSpake2::kMessageSize)) &&
               m_spake->Verify(answer.mid(1 + CSpake2::kMessageSize));
    }
    // Sends the confirmation; the terminal's one-byte answer.
    QByteArray Confirm() {
        QByteArray answer;
        if (!LinkTls::WriteAll(m_socket, m_spake->Confirmation(), 15000) ||
            !LinkTls::ReadExactly(m_socket, 1, 15000, &answer))
            return "<closed>";
        return answer;
    }

private:
    QSslSocket m_socket;
    std::unique_ptr<CSpake2> m_spake;
};

}  // namespace

TEST_F(TcpLink, AOneTimeCodePairsOneProgramOnly) {
    const QString code = terminal.PairingCode();
    // Someone who has the code too starts first and holds back its proof
    // while the user pairs.
    CSteppedPairing other;
    ASSERT_TRUE(other.Start(port, NewIdentity(QStringLiteral("other")), code));
    NoDelay();
    ASSERT_NO_FATAL_FAILURE(PairNow());
    EXPECT_EQ(other.Confirm(), QByteArray("F"));
    const QList<CLinkPin> pins = ParseLinkPins(state.Read(QStringLiteral("pins.txt")));
    ASSERT_EQ(pins.size(), 1);
    EXPECT_EQ(pins[0].fingerprint, NewIdentity(QStringLiteral("link-identity")).fingerprint);
    // The terminal lists the one program it paired.
    EXPECT_TRUE(terminal.WaitForLine(QStringLiteral("paired: ")).contains(QString::fromLatin1(pins[0].fingerprint.toHex())));
    EXPECT_TRUE(terminal.WaitForLine(QStringLiteral("paired: "), 0).isEmpty());

    // Two programs with the same code at the very same time: one pairs.
    AskForPairing();
    const QString fresh = terminal.PairingCode(code);
    ASSERT_FALSE(fresh.isEmpty());
    NoDelay();
    CTestDir a, b;
    auto first = std::async(std::launch::async, [&] {
        return PairWithTerminal(terminal.Port(), fresh, {a.File(QStringLiteral("parlink.ini"))}).result;
    });
    auto second = std::async(std::launch::async, [&] {
        return PairWithTerminal(terminal.Port(), fresh, {b.File(QStringLiteral("parlink.ini"))}).result;
    });
    const EPairResult r1 = first.get(), r2 = second.get();
    EXPECT_EQ((r1 == EPairResult::Paired) + (r2 == EPairResult::Paired), 1);
    EXPECT_EQ(ParseLinkPins(state.Read(QStringLiteral("pins.txt"))).size(), 2);
}

TEST_F(TcpLink, AFrameCutShortByOneConnectionDoesNotReachTheNext) {
    ASSERT_NO_FATAL_FAILURE(PairNow());
    // A paired program sends the start of a long frame and goes: the header
    // is sound and announces 4,096 bytes that never come.
    QByteArray header("KXD\x5A", 4);
    header += QByteArray(4, '\0');
    header += QByteArray("\x00\x10", 2);
    const quint16 crc = Link::Crc16(header.constData(), static_cast<std::size_t>(header.size()));
    header += static_cast<char>(crc & 0xff);
    header += static_cast<char>(crc >> 8);
    {
        QSslSocket s;
        s.setSslConfiguration(LinkTls::Configuration(NewIdentity(QStringLiteral("link-identity"))));
        s.ignoreSslErrors();
        s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        ASSERT_TRUE(s.waitForEncrypted(15000));
        s.write(QByteArray("KXTL") + header + QByteArray(100, 'x'));
        QByteArray answer;
        ASSERT_TRUE(LinkTls::ReadExactly(s, 1, 15000, &answer));
        ASSERT_EQ(answer, QByteArray("K"));
        s.disconnectFromHost();
        if (s.state() != QAbstractSocket::UnconnectedState) s.waitForDisconnected(15000);
    }
    // Every session after it runs as if it had never been.
    for (int run = 0; run < 3; ++run) {
        auto link = NewLink();
        ASSERT_TRUE(Connect(*link)) << run << " " << qPrintable(link->LastError());
        EXPECT_EQ(Ask(*link, QStringLiteral("--h")), QStringLiteral("KX;KX-T100 emulator;KXE0000001")) << run;
        EXPECT_EQ(link->ClosePort(), 1) << run;
    }
}

TEST_F(TcpLink, ClientsWithoutTls13OrACertificateGetNothingOfTheLink) {
    const QString code = terminal.PairingCode();
    const CTlsIdentity stranger = NewIdentity(QStringLiteral("stranger"));
    // TLS 1.2: refused in the handshake with an alert, not a bare close.
    {
        QSslSocket s;
        QSslConfiguration c = LinkTls::Configuration(stranger);
        c.setProtocol(QSsl::TlsV1_2);
        s.setSslConfiguration(c);
        s.ignoreSslErrors();
        s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        EXPECT_FALSE(s.waitForEncrypted(15000));
        EXPECT_TRUE(s.errorString().contains(QLatin1String("alert"), Qt::CaseInsensitive)) << qPrintable(s.errorString());
    }
    // Without a certificate: the handshake ends, then the connection, before
    // a pairing attempt is even counted.
    {
        QSslSocket s;
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.setProtocol(QSsl::TlsV1_3OrLater);
        c.setPeerVerifyMode(QSslSocket::QueryPeer);
        s.setSslConfiguration(c);
        s.ignoreSslErrors();
        s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        if (s.waitForEncrypted(15000)) {
            CSpake2 spake(CSpake2::Role::A, code.toLatin1(), "none", "none");
            s.write(QByteArray("KXTP") + spake.Message());
            QByteArray got;
            const QDeadlineTimer deadline(15000);
            while (!deadline.hasExpired() && s.state() == QAbstractSocket::ConnectedState) {
                s.waitForReadyRead(200);
                got += s.readAll();
            }
            EXPECT_TRUE(got.isEmpty()) << got.toHex().constData();
            EXPECT_FALSE(deadline.hasExpired());
        }
    }
    EXPECT_EQ(PairingValue("Attempts"), 0);
    EXPECT_FALSE(SessionSeen());
}

TEST_F(TcpLink, HalfOpenConnectionsAreDroppedAndSpendTheirAttempt) {
    const QString code = terminal.PairingCode();
    // One stops after the handshake, one after the terminal's share.
    QSslSocket silent;
    silent.setSslConfiguration(LinkTls::Configuration(NewIdentity(QStringLiteral("silent"))));
    silent.ignoreSslErrors();
    silent.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(silent.waitForEncrypted(15000));
    QElapsedTimer since;
    since.start();
    CSteppedPairing halfway;
    ASSERT_TRUE(halfway.Start(port, NewIdentity(QStringLiteral("halfway")), code));
    EXPECT_EQ(PairingValue("Attempts"), 1);
    // Both are dropped after 15 s (the bound: 25 s).
    const QDeadlineTimer deadline(25000);
    while (!deadline.hasExpired() && silent.state() == QAbstractSocket::ConnectedState) silent.waitForDisconnected(500);
    EXPECT_EQ(silent.state(), QAbstractSocket::UnconnectedState);
    EXPECT_GE(since.elapsed(), 14000);
    EXPECT_EQ(halfway.Confirm(), QByteArray("<closed>"));
    EXPECT_EQ(PairingValue("Attempts"), 1);
    EXPECT_FALSE(SessionSeen());
}

TEST_F(TcpLink, AGuesserOnLoopbackGetsFewGuessesAnHour) {
    // A wrong code on a new connection every 50 ms, for a bounded while (20 s;
    // KX_GUESS_SECONDS=3600 measures a whole hour), while the person at the
    // terminal opens pairing again as soon as it closes: the worst case.
    // What counts is how many guesses the terminal tested.
    const qint64 seconds = qEnvironmentVariableIsSet("KX_GUESS_SECONDS")
                               ? std::clamp<qint64>(qEnvironmentVariableIntValue("KX_GUESS_SECONDS"), 1, 7200)
                               : 20;
    QString code = terminal.PairingCode();
    QElapsedTimer clock;
    clock.start();
    int tested = 0, refused = 0, windows = 1;
    for (int i = 0; i < 200000 && clock.elapsed() < seconds * 1000; ++i) {
        const EPairResult r = Pair(WrongCode(code)).result;
        if (r == EPairResult::WrongCode) {
            ++tested;
        } else if (r == EPairResult::NoCode) {
            ++refused;
        } else {
            ADD_FAILURE() << static_cast<int>(r);
        }
        if (!terminal.WaitForLine(QStringLiteral("pairing closed"), 0).isEmpty()) {
            AskForPairing();
            ++windows;
        }
        code = terminal.PairingCode(QString(), 0);
        if (r != EPairResult::WrongCode) QThread::msleep(50);
    }
    const double elapsed = clock.elapsed() / 1000.0;
    const double perHour = tested * 3600.0 / elapsed;
    // Each tested guess hits a code of 10^6 at most once.
    const double chance = perHour / 1e6;
    std::printf("pairing guesses: %d tested, %d refused, %d windows in %.1f s from loopback: %.0f an hour, "
                "a chance of %.4f %% an hour\n", tested, refused, windows, elapsed, perHour, chance * 100);
    std::fflush(stdout);
    // In 20 s: attempts at 0, 2, 6 and 14 s; the fifth would be at 30 s.
    if (seconds == 20) {
        EXPECT_LE(tested, 4);
    }
    EXPECT_GE(tested, 1);
    EXPECT_LT(chance, 0.001);
}

TEST(TcpLinkAddress, TheEmulatorPrintsTheAddressItListensOnNotTheOneTyped) {
    EnsureQtApplication();
    CTestDir state;
    CTerminalProcess terminal;
    ASSERT_TRUE(terminal.Start(state.Path(), {QStringLiteral("--listen-tcp"), QStringLiteral("localhost:0")}))
        << qPrintable(terminal.Diagnostics());
    const QString port = terminal.Port();
    EXPECT_TRUE(port.startsWith(QLatin1String("tcp:127.0.0.1:")) || port.startsWith(QLatin1String("tcp:[::1]:")))
        << qPrintable(port);
    EXPECT_GT(port.section(QLatin1Char(':'), -1).toInt(), 0) << qPrintable(port);
    // Nobody asked for pairing: no code is shown.
    EXPECT_TRUE(terminal.PairingCode(QString(), 0).isEmpty());
}

// A command is one small frame and the program waits for its answer: held
// back by Nagle's algorithm for the terminal's delayed acknowledgement, every
// command and its answer took 40 ms on loopback.
TEST_F(TcpLink, TheProgramsSocketSendsEachFrameAtOnce) {
    QSslSocket socket;
    QByteArray terminalFingerprint;
    QString why;
    ASSERT_TRUE(LinkTls::ConnectClient(socket, QStringLiteral("127.0.0.1"), port, NewIdentity(QStringLiteral("nodelay")),
                                       15000, &terminalFingerprint, &why))
        << qPrintable(why);
    int on = 0;
    socklen_t size = sizeof on;
    ASSERT_EQ(::getsockopt(static_cast<int>(socket.socketDescriptor()), IPPROTO_TCP, TCP_NODELAY, &on, &size), 0);
    EXPECT_NE(on, 0);
    // The session's own stream (pairing above goes through Qt's socket).
    const auto stream = ConnectTlsStream(QStringLiteral("127.0.0.1"), port, NewIdentity(QStringLiteral("nodelay")), 15000, &why);
    ASSERT_TRUE(stream) << qPrintable(why);
    EXPECT_EQ(stream->PeerFingerprint(), terminalFingerprint);
    on = 0;
    ASSERT_EQ(::getsockopt(stream->Fd(), IPPROTO_TCP, TCP_NODELAY, &on, &size), 0);
    EXPECT_NE(on, 0);
}
