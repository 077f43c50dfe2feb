// The component and the emulator of either protocol version: every pairing
// carries the same texts and stores the same bytes; a corrupt compressed
// stream in either direction ends the session with nothing wrong kept.

#include "tests/link/LinkTestSupport.h"

#include "components/parlink/protocol/LinkEndpoint.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "platform/ProfileFile.h"

#include <QFile>
#include <QThread>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString WareLine(int i) {
    return QStringLiteral("%1;460%2;Товар номер %3, упаковка %4 шт;шт;%5.50")
        .arg(i).arg(i, 10, 10, QLatin1Char('0')).arg(i).arg(i % 24 + 1).arg(i % 1000);
}

QString ScanLine(int i) {
    return QStringLiteral("460%1;%2;5;7;3;10;Молоко «Весна» №%3;20240101 10:%4:00;")
        .arg(i, 10, 10, QLatin1Char('0')).arg(i % 7 + 1).arg(i).arg(i % 60, 2, 10, QLatin1Char('0'));
}

QByteArray FileOf(const QStringList& lines) {
    QByteArray b;
    for (const QString& l : lines) b += Cp1251(l) + "\r\n";
    return b;
}

struct Pairing {
    int program;
    int terminal;
    int agreed;
};

}  // namespace

class ParlinkVersions : public CLinkFixture, public ::testing::WithParamInterface<Pairing> {};

TEST_P(ParlinkVersions, EveryPairingCarriesTheSameTextsAndStoresTheSameBytes) {
    const Pairing pairing = GetParam();
    Profile::WriteString(settings.File(QStringLiteral("parlink.ini")), QStringLiteral("link"),
                         QStringLiteral("ProtocolVersion"), QString::number(pairing.program));
    QStringList scans;
    for (int i = 0; i < 3000; ++i) scans << ScanLine(i);
    state.Write(QStringLiteral("journal.txt"), FileOf(scans));
    StartTerminal({QStringLiteral("--pty"), QStringLiteral("--protocol"), QString::number(pairing.terminal)});
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(link->GetProtocolVersion(), QString::number(pairing.agreed));
    const Link::SessionFeatures features = link->Session()->Features();
    EXPECT_EQ(features.compression, pairing.agreed == 2 ? Link::Compression::Zstd : Link::Compression::None);
    EXPECT_EQ(features.codePage, pairing.agreed == 2 ? Link::kCodePageWindows1251 : Link::kNoCodePage);

    // Texts the code page holds and texts it does not, both ways.
    const QStringList texts = {QString(), QStringLiteral("a;b;;\r\n"), QString(QChar(0x0004)),
                               QStringLiteral("Привет; «ёлка» №1 €"), QStringLiteral("漢字 и кириллица"),
                               QString(QChar(0xD800)) + QStringLiteral("lone"), QStringLiteral("\U0001F600?"),
                               QString(QChar(0)) + QStringLiteral("nul"), QString(5000, QChar(u'Ж'))};
    ASSERT_EQ(link->SendCommand(QStringLiteral("ECH")), 1);
    for (const QString& t : texts) ASSERT_EQ(link->SendData(t), 1);
    for (const QString& t : texts) {
        QString answer;
        ASSERT_EQ(link->Receive(&answer), 1);
        EXPECT_EQ(answer, t);
    }

    // An upload: what the terminal keeps is the records in Windows-1251,
    // whatever the link carried them in.
    QStringList records;
    for (int i = 0; i < 5000; ++i) records << WareLine(i);
    records << QString(450, QChar(u'Щ')) << QStringLiteral("7;漢;шт") << QString();
    BeginUpload(*link, QStringLiteral("151"));
    for (const QString& r : records)
        for (qsizetype off = 0; off <= r.size(); off += 200) ASSERT_EQ(link->SendData(r.mid(off, 200)), 1);
    link->EndData();
    EXPECT_EQ(Ask(*link, QStringLiteral("003")), QStringLiteral("SYNC"));

    // A journal with record numbers.
    link->SendCommand(QStringLiteral("031"));
    bool ended = false;
    const QStringList lines = ReceiveLines(*link, &ended);
    EXPECT_TRUE(ended);
    ASSERT_EQ(lines.size(), scans.size());
    for (qsizetype i = 0; i < lines.size(); i += 499) EXPECT_EQ(lines[i], QStringLiteral("%1;").arg(i + 1) + scans[i]);
    EXPECT_EQ(lines.last(), QStringLiteral("3000;") + scans.last());

    const Link::EndpointStats stats = link->Session()->Stats();
    link->SendCommand(QStringLiteral("004"));
    EXPECT_EQ(link->ClosePort(), 1);
    EXPECT_EQ(StateFile(QStringLiteral("directories/wares.ux7")), FileOf(records));
    if (pairing.agreed == 2) {
        // Against what the ends keep: the records as stored, the lines as kept.
        qint64 kept = 0;
        for (const QString& l : lines) kept += l.size() + 2;
        EXPECT_LT(stats.wireBytesSent * 4, static_cast<std::uint64_t>(FileOf(records).size()));
        EXPECT_LT(stats.wireBytesReceived * 3, static_cast<std::uint64_t>(kept));
    } else {
        EXPECT_GT(stats.wireBytesSent, stats.plainBytesSent);
    }
}

INSTANTIATE_TEST_SUITE_P(Pairings, ParlinkVersions,
                         ::testing::Values(Pairing{2, 2, 2}, Pairing{2, 1, 1}, Pairing{1, 2, 1}),
                         [](const ::testing::TestParamInfo<Pairing>& info) {
                             return "Program" + std::to_string(info.param.program) + "Terminal" +
                                    std::to_string(info.param.terminal);
                         });

class ParlinkCorruptStream : public CLinkFixture {};

TEST_F(ParlinkCorruptStream, FromTheTerminalEndsTheSessionWithTheLinkErrorAndNoWrongLine) {
    QStringList scans;
    for (int i = 0; i < 20000; ++i) scans << ScanLine(i);
    state.Write(QStringLiteral("journal.txt"), FileOf(scans));
    StartTerminalWith("CorruptSentStream=4\n", WithoutBlocks());
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    link->SendCommand(QStringLiteral("021"));
    QElapsedTimer timer;
    timer.start();
    bool ended = false;
    const QStringList lines = ReceiveLines(*link, &ended);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(ended);
    EXPECT_LT(lines.size(), scans.size());
    EXPECT_EQ(lines, scans.mid(0, lines.size()));
    EXPECT_EQ(link->Session()->FailureText(), QStringLiteral("garbled data from the terminal"));
    QString answer;
    EXPECT_EQ(link->Receive(&answer), 0);
    EXPECT_EQ(link->ClosePort(), 0);  // a session that failed has no confirmed end

    // The terminal serves the next session as usual.
    QFile::remove(state.File(QStringLiteral("scenario.ini")));
    auto again = NewLink();
    ASSERT_TRUE(Connect(*again));
    EXPECT_EQ(Ask(*again, QStringLiteral("020")), QStringLiteral("20000"));
    again->ClosePort();
}

namespace {

// The program's end of the link run by hand over the pseudo-terminal, so that
// the test can spoil what it sends.
class CRawProgram {
public:
    explicit CRawProgram(const QString& port) {
        m_fd = ::open(port.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) return;
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        tcsetattr(m_fd, TCSANOW, &t);
    }
    ~CRawProgram() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool Open() const { return m_fd >= 0; }

    // Runs the link for `ms`, or until `done` holds; returns what arrived.
    template <typename Done>
    QByteArray Run(int ms, Done done) {
        const std::int64_t end = Now() + ms;
        QByteArray got;
        char buffer[4096];
        while (Now() < end && !done()) {
            QByteArray wire;
            endpoint.Produce(Now(), wire);
            for (qsizetype off = 0; off < wire.size();) {
                const ssize_t n = ::write(m_fd, wire.constData() + off, static_cast<size_t>(wire.size() - off));
                if (n > 0) off += n;
                else QThread::msleep(1);
            }
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 5) > 0) {
                const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
                if (n > 0) endpoint.Feed(buffer, n, Now());
            }
            got += endpoint.TakeReceived();
        }
        return got;
    }

    Link::CLinkEndpoint endpoint{Link::CLinkEndpoint::Role::Initiator};

private:
    static std::int64_t Now() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    int m_fd = -1;
};

}  // namespace

TEST_F(ParlinkCorruptStream, ToTheTerminalStoresNothingAndTheTerminalFallsSilent) {
    StartTerminal();
    CRawProgram program(terminal.Port());
    ASSERT_TRUE(program.Open());
    program.endpoint.StartSession(0x5EED1234, 0);
    program.Run(10000, [&] { return program.endpoint.Established(); });
    ASSERT_TRUE(program.endpoint.Established());
    ASSERT_EQ(program.endpoint.Features().compression, Link::Compression::Zstd);
    // The tenth data frame goes out wrong with sound check sums; the records
    // around it and the commit behind them must not be taken.
    program.endpoint.SetFaults(0, 0, 0, 10);
    QByteArray stream;
    const auto coding = Link::TextCoding::Windows1251;
    Link::AppendTextMessage(stream, Link::MessageType::Command, QStringLiteral("002"), coding);
    Link::AppendTextMessage(stream, Link::MessageType::Command, QStringLiteral("151"), coding);
    for (int i = 0; i < 30000; ++i) Link::AppendTextMessage(stream, Link::MessageType::Data, WareLine(i), coding);
    Link::AppendEmptyMessage(stream, Link::MessageType::EndData);
    Link::AppendTextMessage(stream, Link::MessageType::Command, QStringLiteral("003"), coding);
    Link::AppendIdMessage(stream, Link::MessageType::Poll, 1);
    program.endpoint.Queue(stream, true);
    const QByteArray answers =
        program.Run(8000, [&] { return CommandLog().contains(QLatin1String("? corrupt stream")); });
    ASSERT_TRUE(CommandLog().contains(QLatin1String("? corrupt stream"))) << qPrintable(CommandLog());
    // Nothing came back: no "SYNC", not even the poll's reply.
    const QByteArray later = program.Run(1500, [] { return false; });
    EXPECT_TRUE((answers + later).isEmpty());
    EXPECT_FALSE(program.endpoint.AllAcknowledged());
    EXPECT_FALSE(CommandLog().contains(QLatin1String("L committed")));
    EXPECT_TRUE(CommandLog().contains(QLatin1String("L discarded")));
    EXPECT_FALSE(QFile::exists(state.File(QStringLiteral("directories/wares.ux7"))));

    // A new session is served as usual.
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(Ask(*link, QStringLiteral("998")), QStringLiteral("1;Готов к обмену"));
    link->ClosePort();
}
