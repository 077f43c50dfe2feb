// The network link against the emulator on loopback TCP: pairing, and every
// way in that must be refused before a command reaches the terminal.

#include "components/parlink/LinkPins.h"
#include "components/parlink/LinkTls.h"
#include "components/parlink/Pairing.h"
#include "components/parlink/TlsIdentity.h"
#include "tests/link/LinkTestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QMutex>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>

#include <functional>
#include <future>
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
        StartTerminal({QStringLiteral("--listen-tcp"), QStringLiteral("127.0.0.1:0")});
        ASSERT_TRUE(terminal.Port().startsWith(QLatin1String("tcp:127.0.0.1:")));
        port = static_cast<quint16>(terminal.Port().section(QLatin1Char(':'), 2).toUInt());
        ASSERT_GT(port, 0);
    }
    QStringList SettingsFiles() const { return {settings.File(QStringLiteral("parlink.ini"))}; }
    CPairOutcome Pair(const QString& code, const QString& portName = QString()) const {
        return PairWithTerminal(portName.isEmpty() ? terminal.Port() : portName, code, SettingsFiles());
    }
    void PairNow() {
        const CPairOutcome o = Pair(terminal.PairingCode());
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
    // The code is used up: a new one is shown.
    EXPECT_NE(terminal.PairingCode(code), code);
    for (const QString& f : {settings.File(QStringLiteral("link-identity.pem")), settings.File(QStringLiteral("link-pins.txt")),
                             state.File(QStringLiteral("tls-identity.pem")), state.File(QStringLiteral("pins.txt")),
                             state.File(QStringLiteral("pairing.ini"))}) {
        struct stat st{};
        ASSERT_EQ(::stat(QFile::encodeName(f).constData(), &st), 0) << qPrintable(f);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << qPrintable(f);
    }
    QList<CLinkPin> pins;
    QString error;
    ASSERT_TRUE(ReadLinkPins(settings.File(QStringLiteral("link-pins.txt")), &pins, &error));
    ASSERT_EQ(pins.size(), 1);
    EXPECT_EQ(pins[0].name, terminal.Port().mid(4));
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
    PairNow();
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
    // Not a hello answer, not even the greeting's answer: at most a TLS alert.
    EXPECT_FALSE(got.contains("KX")) << got.toHex().constData();
    EXPECT_FALSE(got.startsWith("K"));
    EXPECT_FALSE(SessionSeen());
}

TEST_F(TcpLink, WrongExpiredAndUsedUpCodesAreRefused) {
    const QString code = terminal.PairingCode();
    const QString wrong = QStringLiteral("%1").arg((code.toInt() + 1) % 1000000, 6, 10, QLatin1Char('0'));
    const QByteArray before = Snapshot();
    EXPECT_EQ(Pair(QStringLiteral("12345")).result, EPairResult::BadCode);
    EXPECT_EQ(Pair(wrong).result, EPairResult::WrongCode);
    EXPECT_EQ(Pair(wrong).result, EPairResult::WrongCode);
    EXPECT_EQ(Pair(wrong).result, EPairResult::WrongCode);
    // Three attempts used the code up: the right one no longer works.
    const QString renewed = terminal.PairingCode(code);
    ASSERT_FALSE(renewed.isEmpty());
    EXPECT_NE(renewed, code);
    EXPECT_EQ(Pair(code).result, EPairResult::WrongCode);
    EXPECT_FALSE(QFileInfo::exists(settings.File(QStringLiteral("link-pins.txt"))));
    EXPECT_EQ(Snapshot(), before);

    // An expired code: the terminal has none to offer and makes a new one.
    const QString current = terminal.PairingCode();
    ASSERT_TRUE(state.Write(QStringLiteral("pairing.ini"),
                            QStringLiteral("[pairing]\nCode=%1\nCreated=1000\nAttempts=0\n").arg(current).toLatin1()));
    EXPECT_EQ(Pair(current).result, EPairResult::NoCode);
    const QString fresh = terminal.PairingCode(current);
    EXPECT_NE(fresh, current);
    EXPECT_EQ(Snapshot(), before);
    // The fresh code pairs once; used, it is refused.
    EXPECT_EQ(Pair(fresh).result, EPairResult::Paired);
    EXPECT_EQ(Pair(fresh).result, EPairResult::WrongCode);
    EXPECT_FALSE(SessionSeen());
}

TEST_F(TcpLink, RelayWithItsOwnCertificateIsRefused) {
    CTestRelay relay(CTestRelay::Mode::TerminateTls, port, NewIdentity(QStringLiteral("relay")));
    const QString relayPort = QStringLiteral("tcp:127.0.0.1:%1").arg(relay.Start());
    // Pairing through it fails on both sides, and costs the code an attempt.
    const QString code = terminal.PairingCode();
    EXPECT_EQ(Pair(code, relayPort).result, EPairResult::WrongCode);
    EXPECT_FALSE(QFileInfo::exists(state.File(QStringLiteral("pins.txt"))));
    EXPECT_FALSE(QFileInfo::exists(settings.File(QStringLiteral("link-pins.txt"))));

    // Paired directly, then led to the relay (a pin for its address copied
    // from the terminal's, as a redirected name would do): refused at open.
    PairNow();
    const QByteArray before = Snapshot();
    QList<CLinkPin> pins;
    QString error;
    ASSERT_TRUE(ReadLinkPins(settings.File(QStringLiteral("link-pins.txt")), &pins, &error));
    ASSERT_TRUE(StoreLinkPin(settings.File(QStringLiteral("link-pins.txt")), {relayPort.mid(4), pins[0].fingerprint}, &error));
    auto link = NewLink();
    EXPECT_EQ(link->OpenPort(relayPort), 0);
    EXPECT_TRUE(link->LastError().contains(QLatin1String("another certificate"))) << qPrintable(link->LastError());
    EXPECT_FALSE(SessionSeen());
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(TcpLink, ReplayedSessionDoesNothing) {
    PairNow();
    // A session recorded on the wire: it clears the journal.
    CTestRelay recorder(CTestRelay::Mode::Forward, port, CTlsIdentity());
    const QString viaRecorder = QStringLiteral("tcp:127.0.0.1:%1").arg(recorder.Start());
    QList<CLinkPin> pins;
    QString error;
    ASSERT_TRUE(ReadLinkPins(settings.File(QStringLiteral("link-pins.txt")), &pins, &error));
    ASSERT_TRUE(StoreLinkPin(settings.File(QStringLiteral("link-pins.txt")), {viaRecorder.mid(4), pins[0].fingerprint}, &error));
    auto link = NewLink();
    ASSERT_EQ(link->OpenPort(viaRecorder), 1) << qPrintable(link->LastError());
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

TEST(TcpLinkIpv6, PairsAndRunsASessionOnAnIpv6Address) {
    EnsureQtApplication();
    CTestDir state, settings;
    CTerminalProcess terminal;
    ASSERT_TRUE(terminal.Start(state.Path(), {QStringLiteral("--listen-tcp"), QStringLiteral("[::1]:0")}))
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
    PairNow();
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
