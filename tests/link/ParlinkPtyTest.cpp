// The component against the emulated terminal over a pseudo-terminal.

#include "tests/link/LinkTestSupport.h"

#include "components/parlink/protocol/LinkEndpoint.h"
#include "platform/CodePage.h"
#include "platform/ProfileFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QRandomGenerator>
#include <QThread>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QChar kEnd(0x0004);

QByteArray JournalBytes(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& l : lines) bytes += Cp1251(l) + "\r\n";
    return bytes;
}

}  // namespace

class ParlinkOverPty : public CLinkFixture {
protected:
    // Loads `records` as the wares directory and waits for the terminal's
    // confirmation (a slow line may take a while).
    static void UploadWares(CParlinkX2& link, const QStringList& records) {
        BeginUpload(link, QStringLiteral("151"));
        for (const QString& r : records) ASSERT_EQ(link.SendData(r), 1);
        link.EndData();
        link.SendCommand(QStringLiteral("003"));
        EXPECT_EQ(ReceiveAnswer(link, 60000), QStringLiteral("SYNC"));
    }
};

TEST_F(ParlinkOverPty, AnswersIdentityOfTheDefaultTerminal) {
    StartTerminal();
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(Ask(*link, QStringLiteral("--s")), QStringLiteral("Orvane;4.4.0"));
    EXPECT_EQ(Ask(*link, QStringLiteral("--h")), QStringLiteral("KX;KX-T100 emulator;KXE0000001"));
    EXPECT_FALSE(link->GetComponentVersion().isEmpty());
    EXPECT_FALSE(link->GetProtocolVersion().isEmpty());
    EXPECT_EQ(link->ClosePort(), 1);
}

TEST_F(ParlinkOverPty, IdentityComesFromTerminalIniAndScenario) {
    Profile::WriteString(state.File(QStringLiteral("terminal.ini")), QStringLiteral("terminal"),
                         QStringLiteral("Program"), QStringLiteral("Склад"));
    Profile::WriteString(state.File(QStringLiteral("terminal.ini")), QStringLiteral("terminal"),
                         QStringLiteral("DeviceID"), QStringLiteral("123"));
    StartTerminalWith("ProgramVersion=4.3.4\n");
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(Ask(*link, QStringLiteral("--s")), QStringLiteral("Склад;4.3.4"));
    EXPECT_EQ(Ask(*link, QStringLiteral("--h")), QStringLiteral("KX;KX-T100 emulator;123"));
    link->ClosePort();
}

TEST_F(ParlinkOverPty, CarriesEveryTextExactlyBothWays) {
    StartTerminal();
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    QString longText;
    for (int i = 0; i < 3000; ++i) longText += QChar(i % 7 == 0 ? u';' : i % 5 == 0 ? u'Ж' : u'a' + i % 26);
    const QStringList texts = {QString(),
                               QStringLiteral(";"),
                               QStringLiteral("a;b;;"),
                               QStringLiteral("\r"),
                               QStringLiteral("\n"),
                               QStringLiteral("line\r\nnext\n"),
                               QString(kEnd),
                               QString(kEnd) + QStringLiteral("after the marker"),
                               QStringLiteral("Привет; мир — «ёлка»\r\n"),
                               QString(QChar(0xD800)) + QStringLiteral("lone surrogate"),
                               QStringLiteral("\U0001F600 outside the basic plane"),
                               QString(QChar(0)) + QStringLiteral("nul inside"),
                               longText};
    ASSERT_EQ(link->SendCommand(QStringLiteral("ECH")), 1);
    for (const QString& t : texts) ASSERT_EQ(link->SendData(t), 1);
    for (const QString& t : texts) {
        QString answer = QStringLiteral("<untouched>");
        ASSERT_EQ(link->Receive(&answer), 1);
        EXPECT_EQ(answer, t);
        EXPECT_EQ(answer.isNull(), false);
    }
    // Nothing left: the terminal says so with an empty answer.
    QString rest = QStringLiteral("x");
    EXPECT_EQ(link->Receive(&rest), 1);
    EXPECT_TRUE(rest.isEmpty());
    link->ClosePort();
}

TEST_F(ParlinkOverPty, UploadedRecordsAreStoredOnlyAfterTheCommit) {
    StartTerminalWith("SyncDelayMs=400\n");
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    const QString r450 = QString(450, QChar(u'Щ'));
    const QString r400 = QString(400, QChar(u'z'));
    const QStringList records = {QStringLiteral("1;Товар;шт;1"), r450, r400, QStringLiteral("2;x;;")};
    link->SendCommand(QStringLiteral("303"));
    link->SendData(QStringLiteral("20240131235959"));
    link->SendCommand(QStringLiteral("002"));
    ASSERT_EQ(link->SendCommand(QStringLiteral("151")), 1);
    for (const QString& r : records)
        for (qsizetype off = 0; off <= r.size(); off += 200) ASSERT_EQ(link->SendData(r.mid(off, 200)), 1);
    link->EndData();
    ASSERT_EQ(link->SendCommand(QStringLiteral("003")), 1);
    // While the terminal works the answers are empty, then "SYNC".
    QString answer;
    int empty = 0;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(link->Receive(&answer), 1);
        if (!answer.isEmpty()) break;
        if (i == 0) {
            EXPECT_FALSE(QFile::exists(state.File(QStringLiteral("directories/wares.ux7"))));
        }
        ++empty;
        QThread::msleep(20);
    }
    EXPECT_EQ(answer, QStringLiteral("SYNC"));
    EXPECT_GT(empty, 0);
    link->SendCommand(QStringLiteral("004"));
    EXPECT_EQ(link->ClosePort(), 1);
    QByteArray expected;
    for (const QString& r : records) expected += Cp1251(r) + "\r\n";
    EXPECT_EQ(StateFile(QStringLiteral("directories/wares.ux7")), expected);
    EXPECT_EQ(Profile::ReadString(state.File(QStringLiteral("terminal.ini")), QStringLiteral("clock"),
                                  QStringLiteral("Stamp")),
              QStringLiteral("20240131235959"));
}

TEST_F(ParlinkOverPty, RollbackAndClosingWithoutCommitKeepTheOldDirectory) {
    QDir(state.Path()).mkpath(QStringLiteral("directories"));
    state.Write(QStringLiteral("directories/opers.ux3"), "old\r\n");
    StartTerminal();
    for (const bool rollback : {true, false}) {
        auto link = NewLink();
        ASSERT_TRUE(Connect(*link));
        BeginUpload(*link, QStringLiteral("111"));
        link->SendData(QStringLiteral("new"));
        link->EndData();
        if (rollback) link->SendCommand(QStringLiteral("ROL"));
        ASSERT_TRUE(link->WaitLink(15000));
        EXPECT_EQ(link->ClosePort(), 1);
    }
    // A later session sees the old file and the emulator left no staging behind.
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    link->ClosePort();
    EXPECT_EQ(StateFile(QStringLiteral("directories/opers.ux3")), QByteArray("old\r\n"));
    EXPECT_TRUE(QDir(state.File(QStringLiteral(".staging"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(ParlinkOverPty, JournalWithAndWithoutNumbersAndFilters) {
    state.Write(QStringLiteral("journal.txt"),
                JournalBytes({QStringLiteral("4600001;1;5;7;3;10;Молоко;20240101 10:00:00;"),
                              QStringLiteral("4600002;2;6;7;3;11;Хлеб;20240101 10:01:00;x"),
                              QStringLiteral("4600003;1;5;8;4;10;Молоко;20240101 10:02:00;")}));
    StartTerminal();
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(Ask(*link, QStringLiteral("020")), QStringLiteral("3"));
    link->SendCommand(QStringLiteral("021"));
    bool ended = false;
    QStringList lines = ReceiveLines(*link, &ended);
    EXPECT_TRUE(ended);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1], QStringLiteral("4600002;2;6;7;3;11;Хлеб;20240101 10:01:00;x"));

    link->SendCommand(QStringLiteral("401"));
    link->SendData(QStringLiteral("5"));
    link->SendCommand(QStringLiteral("408"));
    link->SendData(QStringLiteral("Молоко"));
    ASSERT_TRUE(link->WaitLink(15000));
    EXPECT_EQ(Ask(*link, QStringLiteral("020")), QStringLiteral("2"));
    link->SendCommand(QStringLiteral("031"));
    lines = ReceiveLines(*link, &ended);
    EXPECT_EQ(lines, (QStringList{QStringLiteral("1;4600001;1;5;7;3;10;Молоко;20240101 10:00:00;"),
                                  QStringLiteral("3;4600003;1;5;8;4;10;Молоко;20240101 10:02:00;")}));
    link->ClosePort();

    // Filters stay on the terminal until "40R".
    link = NewLink();
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(Ask(*link, QStringLiteral("020")), QStringLiteral("2"));
    link->SendCommand(QStringLiteral("40R"));
    EXPECT_EQ(Ask(*link, QStringLiteral("020")), QStringLiteral("3"));
    link->SendCommand(QStringLiteral("001"));
    EXPECT_EQ(Ask(*link, QStringLiteral("020")), QStringLiteral("0"));
    link->ClosePort();
    EXPECT_TRUE(StateFile(QStringLiteral("journal.txt")).isEmpty());
}

// The processor time a process has used so far (utime + stime of /proc).
static double ProcessCpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

TEST_F(ParlinkOverPty, AProgramThatStopsTakingTheJournalCostsTheTerminalNothingWhileItWaitsAndThenGetsEveryLine) {
    // More lines than the component keeps untaken (16 MB of answers): it
    // stops reading the line, and the terminal's writes back up behind it.
    QStringList lines;
    QByteArray journal;
    for (int i = 0; i < 200000; ++i) {
        lines << QStringLiteral("46%1;%2;5;7;3;10;Молоко %3;20240101 10:00:00;")
                     .arg(i, 11, 10, QLatin1Char('0')).arg(1 + i % 7).arg(i % 97);
        journal += Cp1251(lines.back()) + "\r\n";
    }
    state.Write(QStringLiteral("journal.txt"), journal);
    StartTerminal(WithoutBlocks());
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    link->SendCommand(QStringLiteral("021"));
    QThread::msleep(3000);
    const double before = ProcessCpuSeconds(terminal.Pid());
    QThread::msleep(2000);
    const double spent = ProcessCpuSeconds(terminal.Pid()) - before;
    ASSERT_GE(before, 0);
    // Waiting on a line nobody reads is a wait, not a spin.
    EXPECT_LT(spent, 0.25) << "the terminal used " << spent << " s of 2 s while the line was full";
    bool ended = false;
    EXPECT_EQ(ReceiveLines(*link, &ended), lines);
    EXPECT_TRUE(ended);
    link->ClosePort();
}

TEST_F(ParlinkOverPty, WaitLinkFailsWhenNobodyAnswersOnTheLine) {
    // A pseudo-terminal with nobody serving its master side.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    const QString slave = QString::fromLocal8Bit(ptsname(master));
    auto link = NewLink();
    ASSERT_EQ(link->OpenPort(slave), 1);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(link->WaitLink(400), 0);
    EXPECT_GE(timer.elapsed(), 350);
    EXPECT_LT(timer.elapsed(), 5000);
    // Nothing can be received from a silent line either, and it does not hang.
    QString answer;
    EXPECT_EQ(link->Receive(&answer), 0);
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_EQ(link->ClosePort(), 0);  // nobody confirmed anything
    ::close(master);
}

TEST_F(ParlinkOverPty, OpenPortFailsForAMissingDevice) {
    auto link = NewLink();
    EXPECT_EQ(link->OpenPort(QStringLiteral("/dev/kx-no-such-port")), 0);
    EXPECT_EQ(link->SendCommand(QStringLiteral("998")), 0);
    EXPECT_EQ(link->WaitLink(100), 0);
    EXPECT_EQ(link->ClosePort(), 0);
}

TEST_F(ParlinkOverPty, ServesSessionAfterSessionAndStopsCleanly) {
    StartTerminal();
    for (int i = 0; i < 10; ++i) {
        auto link = NewLink();
        ASSERT_TRUE(Connect(*link)) << "session " << i;
        EXPECT_EQ(Ask(*link, QStringLiteral("998")), QStringLiteral("1;Готов к обмену"));
        // The last command before closing reaches the terminal before the port goes.
        link->SendCommand(QStringLiteral("004"));
        link->ClosePort();
        EXPECT_TRUE(CommandLog().endsWith(QLatin1String("C 998\nC 004\nS bye\n"))) << "session " << i;
    }
    EXPECT_EQ(terminal.Stop(), 0);
    EXPECT_EQ(CommandLog().count(QStringLiteral("S begin")), 10);
}

TEST_F(ParlinkOverPty, NotReadyScenarioAnswersWithItsText) {
    state.Write(QStringLiteral("scenario.ini"), Cp1251(QStringLiteral("[scenario]\n")) +
                                                    QStringLiteral("NotReady=Идет инвентаризация\n").toUtf8());
    StartTerminal();
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(Ask(*link, QStringLiteral("998")), QStringLiteral("0;Идет инвентаризация"));
    link->ClosePort();
}

TEST_F(ParlinkOverPty, LocalSocketFormWorksLikeTheSerialLine) {
    const QString name = QStringLiteral("kx-link-test-%1").arg(QCoreApplication::applicationPid());
    StartTerminal({QStringLiteral("--listen"), name});
    EXPECT_EQ(terminal.Port(), QStringLiteral("local:") + name);
    for (int i = 0; i < 2; ++i) {
        auto link = NewLink();
        ASSERT_TRUE(Connect(*link));
        EXPECT_EQ(Ask(*link, QStringLiteral("--s")), QStringLiteral("Orvane;4.4.0"));
        link->ClosePort();
    }
    terminal.Stop();
    auto link = NewLink();
    EXPECT_EQ(link->OpenPort(QStringLiteral("local:") + name), 0);
}

TEST(ParlinkPlugin, FactoryIsRegisteredAndChecksTheInterfaceVersion) {
    const QString ini = QStringLiteral(KX_PROGRAM_DIR "/components.ini");
    const QString library = Profile::ReadString(ini, QLatin1String(kParlinkProgId), QStringLiteral("library"));
    ASSERT_FALSE(library.isEmpty());
    QLibrary plugin(QStringLiteral(KX_PROGRAM_DIR "/") + library);
    ASSERT_TRUE(plugin.load()) << qPrintable(plugin.errorString());
    auto create = reinterpret_cast<KxCreateParlinkX2Fn>(plugin.resolve(kParlinkFactorySymbol));
    ASSERT_NE(create, nullptr);
    EXPECT_EQ(create(kParlinkInterfaceVersion + 1), nullptr);
    IParlinkX2* link = create(kParlinkInterfaceVersion);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->GetComponentVersion(), QStringLiteral("1.0.0"));
    EXPECT_EQ(link->OpenPort(QStringLiteral("local:kx-nobody-listens-here")), 0);
    link->Release();
    // Only the factory is exported; the protocol's own symbols stay inside.
    EXPECT_EQ(plugin.resolve("_ZN4Link5Crc32EPKvmj"), nullptr);
}

// The program compresses harder on a slow serial line (the line, not its CPU,
// is the limit there) and at the terminals' cheap level on a fast line or a
// socket; the terminal stores the same bytes either way.
namespace {

// Wares as a shop keeps them: random EAN-13 codes, names from a vocabulary.
QStringList ShopWares(int count) {
    QRandomGenerator random(4242);
    const QStringList products{"Молоко", "Кефир", "Сыр", "Хлеб", "Чай", "Кофе", "Сок", "Крупа", "Масло", "Печенье"};
    const QStringList brands{"Агрокомбинат", "Мираторг", "Простоквашино", "Фермерское", "Макфа", "Увелка"};
    QStringList records;
    for (int i = 0; i < count; ++i) {
        QString code = QStringLiteral("46");
        for (int d = 0; d < 11; ++d) code += QChar(u'0' + random.bounded(10));
        records << QStringLiteral("Т%1;%2 %3 г \"%4\";%5")
                       .arg(i, 6, 10, QLatin1Char('0'))
                       .arg(products[random.bounded(products.size())])
                       .arg(random.bounded(50, 2000))
                       .arg(brands[random.bounded(brands.size())], code);
    }
    return records;
}

}  // namespace

// A slow line on a socket (a weak network, here a paced emulator): nothing
// on it is lost, so a time-out must not send the window again. It once did,
// eleven frames went 39 more times, and the ping and goodbye waited behind
// the copies until the close gave up with the load stored.
TEST_F(ParlinkOverPty, ASlowSocketRepeatsNothingThatIsOnItsWayAndTheCloseIsConfirmed) {
    const QStringList records = ShopWares(500);
    const QByteArray expected = JournalBytes(records);
    terminal.Stop();
    StartTerminal({QStringLiteral("--listen"), QStringLiteral("kx-slow-%1").arg(QCoreApplication::applicationPid()),
                   QStringLiteral("--baud"), QStringLiteral("100000")});
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link)) << qPrintable(link->LastError());
    ASSERT_NO_FATAL_FAILURE(UploadWares(*link, records));
    ASSERT_TRUE(link->Session());
    const Link::EndpointStats stats = link->Session()->Stats();
    EXPECT_EQ(link->ClosePort(), 1) << qPrintable(link->LastError());
    EXPECT_EQ(StateFile(QStringLiteral("directories/wares.ux7")), expected);
    // The line took seconds, longer than the first time-outs: each of them
    // sent one frame, to ask for an answer, not the window.
    EXPECT_GT(stats.timeouts, 0u);
    EXPECT_LE(stats.dataFramesResent, stats.timeouts) << stats.dataFramesResent << " frames sent again";
}

TEST_F(ParlinkOverPty, ASocketStoresUnitsWhileTheTerminalKeepsUpAndCompressesWhenItFallsBehind) {
    const QStringList records = ShopWares(12000);
    const QByteArray expected = JournalBytes(records);
    // The terminal takes records at `baud` (0: as fast as it can); the
    // program's window is 32 frames, so a slow terminal fills it soon.
    const auto upload = [&](const QStringList& terminalArgs, const QString& port, Link::EndpointStats* stats) {
        terminal.Stop();
        StartTerminal(terminalArgs);
        settings.Write(QStringLiteral("parlink.ini"), "[link]\nWindow=32\n");
        auto link = NewLink();
        ASSERT_TRUE(link->OpenPort(port.isEmpty() ? terminal.Port() : port) == 1 && link->WaitLink(15000) == 1);
        ASSERT_NO_FATAL_FAILURE(UploadWares(*link, records));
        ASSERT_TRUE(link->Session());
        EXPECT_EQ(link->Session()->Features().storedUnits, stats != nullptr);
        if (stats) *stats = link->Session()->Stats();
        link->SendCommand(QStringLiteral("004"));
        EXPECT_EQ(link->ClosePort(), 1);
        EXPECT_EQ(StateFile(QStringLiteral("directories/wares.ux7")), expected);
        QFile::remove(state.File(QStringLiteral("directories/wares.ux7")));
    };
    const QString name = QStringLiteral("kx-stored-%1").arg(QCoreApplication::applicationPid());
    const QStringList socket{QStringLiteral("--listen"), name};
    Link::EndpointStats fast;
    upload(socket, QString(), &fast);
    EXPECT_GT(fast.unitsStored, 0u);
    // A terminal that reads 400,000 bytes a second: the window fills, and
    // from then on the units are compressed.
    Link::EndpointStats slow;
    upload(socket + QStringList{QStringLiteral("--baud"), QStringLiteral("4000000")}, QString(), &slow);
    EXPECT_GT(slow.unitsStored, 0u);
    EXPECT_LT(slow.wireBytesSent * 10, static_cast<std::uint64_t>(expected.size()) * 7)
        << slow.wireBytesSent << " wire bytes for " << expected.size() << " stored";
    // A terminal that does not take them, and a serial line, where the
    // program does not offer them: only compressed units.
    upload(WithoutBlocks(socket), QString(), nullptr);
    upload({QStringLiteral("--pty")}, QString(), nullptr);
}

TEST_F(ParlinkOverPty, ASlowSerialLineIsCompressedHarderAndTheTerminalStoresTheSameBytes) {
    const QStringList records = ShopWares(4000);
    const QByteArray expected = JournalBytes(records);
    std::uint64_t frames = 0;  // of the last upload
    std::uint64_t inFlight = 0;  // unacknowledged frames at most, in the last upload
    const auto upload = [&](int baud, const QString& port, const QString& more = QString()) -> std::uint64_t {
        settings.Write(QStringLiteral("parlink.ini"), QStringLiteral("[link]\nBaudRate=%1\n%2").arg(baud).arg(more).toUtf8());
        auto link = NewLink();
        if (link->OpenPort(port) != 1 || link->WaitLink(15000) != 1) return 0;
        link->SendCommand(QStringLiteral("303"));
        link->SendData(QStringLiteral("20240131235959"));
        BeginUpload(*link, QStringLiteral("151"));
        for (const QString& r : records) link->SendData(r);
        link->EndData();
        link->SendCommand(QStringLiteral("003"));
        const QString answer = ReceiveAnswer(*link, 60000);
        const std::uint64_t wire = link->Session() ? link->Session()->Stats().wireBytesSent : 0;
        frames = link->Session() ? link->Session()->Stats().dataFramesSent : 0;
        inFlight = link->Session() ? link->Session()->Stats().mostFramesInFlight : 0;
        link->SendCommand(QStringLiteral("004"));
        link->ClosePort();
        EXPECT_EQ(answer, QStringLiteral("SYNC")) << baud;
        EXPECT_EQ(StateFile(QStringLiteral("directories/wares.ux7")), expected) << baud;
        QFile::remove(state.File(QStringLiteral("directories/wares.ux7")));
        return wire;
    };
    StartTerminal(WithoutBlocks());
    const std::uint64_t slow = upload(115200, terminal.Port());
    const std::uint64_t fast = upload(1000000, terminal.Port());
    ASSERT_GT(slow, 0u);
    ASSERT_GT(fast, 0u);
    EXPECT_LE(inFlight, 16u) << "a serial line keeps the protocol's window of 16";
    EXPECT_LT(slow * 100, fast * 93) << "115200 baud: " << slow << " wire bytes, 1000000 baud: " << fast;
    // A socket has no line speed to go by: the cheap level, whatever BaudRate says.
    terminal.Stop();
    StartTerminal(WithoutBlocks({QStringLiteral("--listen"), QStringLiteral("kx-level-%1").arg(QCoreApplication::applicationPid())}));
    const std::uint64_t socket = upload(115200, terminal.Port());
    ASSERT_GT(socket, 0u);
    EXPECT_GT(socket * 100, fast * 97) << "socket: " << socket << ", serial at 1000000 baud: " << fast;
    // ... and the largest frames the protocol allows, unless the settings name a size.
    const std::uint64_t largest = frames;
    ASSERT_GT(upload(115200, terminal.Port(), QStringLiteral("FramePayload=1024\n")), 0u);
    EXPECT_LT(largest * 3, frames) << "default: " << largest << " frames, FramePayload=1024: " << frames;
    // SocketCompression=none: nothing is offered, the stream goes as it is
    // (frames and CRCs on top of the plain messages), and the terminal still
    // stores the same bytes; a serial line is compressed whatever it says.
    const std::uint64_t plain = upload(115200, terminal.Port(), QStringLiteral("SocketCompression=none\n"));
    EXPECT_GT(plain, static_cast<std::uint64_t>(expected.size()));
    // A socket neither loses nor reorders: its wide window lets more than
    // 16 frames be on their way while the terminal works through them.
    EXPECT_GT(inFlight, 16u);
    EXPECT_LE(inFlight, static_cast<std::uint64_t>(Link::kSocketWindow));
    terminal.Stop();
    StartTerminal(WithoutBlocks());
    const std::uint64_t serial = upload(1000000, terminal.Port(), QStringLiteral("SocketCompression=none\n"));
    ASSERT_GT(serial, 0u);
    EXPECT_LT(serial * 2, static_cast<std::uint64_t>(expected.size()));
}

TEST_F(ParlinkOverPty, RecordBlocksCarryEveryRecordAndLineExactlyInAFractionOfTheBytes) {
    // Wares as a shop keeps them, and among them what a block cannot carry
    // as it is: a character outside the code page, a record of many pieces.
    QRandomGenerator random(77);
    const QStringList products{"Молоко", "Кефир", "Сыр", "Хлеб", "Чай", "Кофе", "Сок", "Крупа", "Масло", "Печенье"};
    QList<QStringList> records;  // each record as the pieces it is sent in
    QByteArray expected, journalBytes;
    for (int i = 0; i < 6000; ++i) {
        QString code = QStringLiteral("46");
        for (int d = 0; d < 11; ++d) code += QChar(u'0' + random.bounded(10));
        QString r = QStringLiteral("Т%1;%2 %3 г;%4").arg(i, 6, 10, QLatin1Char('0'))
                        .arg(products[random.bounded(products.size())]).arg(random.bounded(50, 2000)).arg(code);
        if (i == 10) r = QStringLiteral("漢字;x");
        if (i == 11) r.clear();
        if (i == 12) r = QStringLiteral("a;b\tc;;");
        QStringList pieces;
        if (i == 2000) {
            r = QString(450, QLatin1Char('w'));
            pieces << r.left(200) << r.mid(200, 200) << r.mid(400);
        } else if (i == 2001) {
            r = QString(400, QLatin1Char('v'));
            pieces << r.left(200) << r.mid(200) << QString();
        } else {
            pieces << r;
        }
        records << pieces;
        expected += (i == 10 ? QByteArray("??;x") : Cp1251(r)) + "\r\n";
        if (i != 11) journalBytes += (i == 10 ? QByteArray("??;x") : Cp1251(r)) + "\r\n";
    }
    state.Write(QStringLiteral("journal.txt"), journalBytes);
    const auto exchange = [&](QStringList* journal) -> std::uint64_t {
        auto link = NewLink();
        if (link->OpenPort(terminal.Port()) != 1 || link->WaitLink(15000) != 1) return 0;
        BeginUpload(*link, QStringLiteral("151"));
        for (const QStringList& pieces : records)
            for (const QString& p : pieces) link->SendData(p);
        link->EndData();
        link->SendCommand(QStringLiteral("003"));
        EXPECT_EQ(ReceiveAnswer(*link, 60000), QStringLiteral("SYNC"));
        link->SendCommand(QStringLiteral("021"));
        bool ended = false;
        *journal = ReceiveLines(*link, &ended);
        EXPECT_TRUE(ended);
        const std::uint64_t wire = link->Session()->Stats().wireBytesSent + link->Session()->Stats().wireBytesReceived;
        link->SendCommand(QStringLiteral("004"));
        link->ClosePort();
        EXPECT_EQ(StateFile(QStringLiteral("directories/wares.ux7")), expected);
        QFile::remove(state.File(QStringLiteral("directories/wares.ux7")));
        return wire;
    };
    StartTerminal(WithoutBlocks());
    QStringList plainJournal, blockJournal;
    const std::uint64_t plain = exchange(&plainJournal);
    terminal.Stop();
    StartTerminal();
    const std::uint64_t blocks = exchange(&blockJournal);
    ASSERT_GT(plain, 0u);
    ASSERT_GT(blocks, 0u);
    ASSERT_EQ(blockJournal.size(), records.size() - 1);
    EXPECT_EQ(blockJournal, plainJournal);
    EXPECT_EQ(JournalBytes(blockJournal), journalBytes);
    // The columns must pay: far fewer bytes both ways than today's stream.
    EXPECT_LT(blocks * 100, plain * 75) << "blocks " << blocks << ", plain " << plain;
}
