// The link protocol in-process: check sums, frames, messages, and two
// endpoints over a simulated line that loses, damages and delays bytes.

#include "components/parlink/protocol/LinkCrc.h"
#include "components/parlink/protocol/LinkEndpoint.h"
#include "components/parlink/protocol/LinkFrame.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "tests/link/LinkLineSimulation.h"

#include <gtest/gtest.h>

#include <QList>
#include <QStringList>


using namespace Link;

TEST(LinkChecksums, MatchTheStandardCheckValues) {
    EXPECT_EQ(Crc16("123456789", 9), 0x29B1);
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    // A running sum over pieces equals the sum over the whole.
    EXPECT_EQ(Crc32("6789", 4, Crc32("12345", 5)), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(LinkFrames, RoundTripEvenWhenFedByteByByte) {
    QByteArray wire;
    AppendFrame(wire, FrameType::Data, 0x33, 65535, 7, "hello", 5);
    AppendFrame(wire, FrameType::Ack, 0x33, 0, 9, nullptr, 0);
    EXPECT_EQ(wire.size(), 2 * kFrameOverhead + 5);
    CFrameDecoder d;
    Frame f;
    QList<Frame> frames;
    for (char c : wire) {
        d.Feed(&c, 1);
        while (d.Next(&f) == CFrameDecoder::Result::Frame) frames << f;
    }
    ASSERT_EQ(frames.size(), 2);
    EXPECT_EQ(frames[0].type, FrameType::Data);
    EXPECT_EQ(frames[0].tag, 0x33);
    EXPECT_EQ(frames[0].seq, 65535);
    EXPECT_EQ(frames[0].ack, 7);
    EXPECT_EQ(frames[0].payload, QByteArray("hello"));
    EXPECT_EQ(frames[1].type, FrameType::Ack);
    EXPECT_EQ(frames[1].ack, 9);
    EXPECT_TRUE(frames[1].payload.isEmpty());
}

TEST(LinkFrames, NoiseIsSkippedAndDamageIsReported) {
    QByteArray good;
    AppendFrame(good, FrameType::Data, 1, 4, 0, "payload", 7);
    QByteArray damaged = good;
    damaged[kFrameHeaderSize + 2] ^= 0x01;  // payload bit
    QByteArray badHeader = good;
    badHeader[8] ^= 0x40;  // length bit: the header check fails
    QByteArray wire = QByteArray("KXKX\x00garbageK", 13) + badHeader + damaged + QByteArray("\xff\xfeKX") + good;
    CFrameDecoder d;
    d.Feed(wire.constData(), wire.size());
    Frame f;
    ASSERT_EQ(d.Next(&f), CFrameDecoder::Result::Damaged);
    EXPECT_EQ(f.seq, 4);  // header fields of a damaged frame are still known
    ASSERT_EQ(d.Next(&f), CFrameDecoder::Result::Frame);
    EXPECT_EQ(f.payload, QByteArray("payload"));
    EXPECT_EQ(d.Next(&f), CFrameDecoder::Result::NeedMore);
    EXPECT_GT(d.SkippedBytes(), 0u);
    EXPECT_EQ(d.DamagedFrames(), 1u);
}

TEST(LinkFrames, OversizedLengthNeverStallsTheDecoder) {
    // A header claiming more than the largest frame is not waited for.
    QByteArray fake("KXD\x01\x00\x00\x00\x00\xff\xff", 10);
    const std::uint16_t crc = Crc16(fake.constData(), 10);
    fake.append(static_cast<char>(crc & 0xFF));
    fake.append(static_cast<char>(crc >> 8));
    QByteArray good;
    AppendFrame(good, FrameType::Ack, 1, 0, 3, nullptr, 0);
    CFrameDecoder d;
    const QByteArray wire = fake + good;
    d.Feed(wire.constData(), wire.size());
    Frame f;
    ASSERT_EQ(d.Next(&f), CFrameDecoder::Result::Frame);
    EXPECT_EQ(f.ack, 3);
}

TEST(LinkMessages, TextsSurviveExactly) {
    QString all;
    for (int u = 1; u < 0x10000; u += 37) all += QChar(static_cast<char16_t>(u));
    const QStringList texts = {QString(), QStringLiteral("998"), QStringLiteral(";\r\n\u0004"),
                               QStringLiteral("Справочник; «ёж»"), QString(QChar(0xDFFF)) + QChar(0xD800),
                               QStringLiteral("\U0010FFFF\U0001F600"), all, QString(70000, QChar(u'ы'))};
    QByteArray stream;
    for (const QString& t : texts) AppendTextMessage(stream, MessageType::Answer, t);
    AppendIdMessage(stream, MessageType::Pong, 0xDEADBEEF);
    AppendEmptyMessage(stream, MessageType::EndData);
    stream.append("Z\x03xyz", 5);  // a kind this side does not know: skipped
    AppendTextMessage(stream, MessageType::Command, QStringLiteral("004"));
    CMessageParser p;
    QList<Message> got;
    Message m;
    for (qsizetype i = 0; i < stream.size(); i += 3) {
        p.Feed(stream.mid(i, 3));
        while (p.Next(&m)) got << m;
    }
    ASSERT_FALSE(p.Failed());
    ASSERT_EQ(got.size(), texts.size() + 3);
    for (qsizetype i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(got[i].type, MessageType::Answer);
        EXPECT_EQ(got[i].text, texts[i]) << "text " << i;
    }
    EXPECT_EQ(got[texts.size()].id, 0xDEADBEEFu);
    EXPECT_EQ(got[texts.size() + 1].type, MessageType::EndData);
    EXPECT_EQ(got[texts.size() + 2].text, QStringLiteral("004"));
}

TEST(LinkMessages, MalformedIdBodyStopsTheParser) {
    CMessageParser p;
    p.Feed(QByteArray("G\x02\x01\x02", 4));
    Message m;
    EXPECT_FALSE(p.Next(&m));
    EXPECT_TRUE(p.Failed());
}

TEST(LinkEndpoints, CleanLineDeliversBothWaysWithoutRepeats) {
    CLineSimulation sim(1, {});
    const QByteArray up = Pattern(300000, 1), down = Pattern(200000, 2);
    ASSERT_TRUE(sim.Run(up, down, 60000));
    EXPECT_EQ(sim.gotUp, up);
    EXPECT_EQ(sim.gotDown, down);
    EXPECT_EQ(sim.program.Stats().dataFramesResent, 0u);
    EXPECT_EQ(sim.terminal.Stats().dataFramesResent, 0u);
    EXPECT_EQ(sim.newSessions, 1);
    EXPECT_LE(sim.maxInFlight, EndpointConfig().window);
    // Full frames: the overhead stays small.
    EXPECT_LT(static_cast<double>(sim.program.Stats().wireBytesSent) / up.size(), 1.03);
}

TEST(LinkEndpoints, LossyNoisyLineStillDeliversExactlyAndInOrder) {
    std::uint64_t repeats = 0;
    for (unsigned seed = 1; seed <= 6; ++seed) {
        CLineSimulation sim(seed, BadLine(seed, 5));
        const QByteArray up = Pattern(60000, seed), down = Pattern(40000, seed + 100);
        ASSERT_TRUE(sim.Run(up, down, 600000)) << "seed " << seed;
        EXPECT_EQ(sim.gotUp, up) << "seed " << seed;
        EXPECT_EQ(sim.gotDown, down) << "seed " << seed;
        repeats += sim.program.Stats().dataFramesResent + sim.terminal.Stats().dataFramesResent;
    }
    EXPECT_GT(repeats, 0u);
}

TEST(LinkEndpoints, NewSessionDropsTheOldOneAndOldFramesAreIgnored) {
    CLineSimulation sim(3, {});
    ASSERT_TRUE(sim.Run(QByteArray("first"), QByteArray(), 10000));
    QByteArray stale;
    AppendFrame(stale, FrameType::Data, static_cast<std::uint8_t>(0xD4), 1, 0, "old", 3);  // old tag, next seq

    CLinkEndpoint program2(CLinkEndpoint::Role::Initiator);
    program2.StartSession(0x01020305, 20000);
    QByteArray hello;
    program2.Produce(20000, hello);
    sim.terminal.Feed(hello.constData(), hello.size(), 20000);
    EXPECT_TRUE(sim.terminal.TakeNewSession());
    sim.terminal.Feed(stale.constData(), stale.size(), 20001);
    EXPECT_TRUE(sim.terminal.TakeReceived().isEmpty());
    EXPECT_EQ(sim.terminal.Stats().foreignFrames, 1u);
    // The same HELLO again (its answer was lost) is not a new session.
    sim.terminal.Feed(hello.constData(), hello.size(), 20002);
    EXPECT_FALSE(sim.terminal.TakeNewSession());
    QByteArray answer;
    sim.terminal.Produce(20002, answer);
    program2.Feed(answer.constData(), answer.size(), 20003);
    EXPECT_TRUE(program2.Established());
}

TEST(LinkEndpoints, DeafTerminalStaysSilentUntilANewSession) {
    CLineSimulation sim(4, {});
    sim.terminal.SetFaults(2, 0, 0);
    EndpointConfig small;
    EXPECT_FALSE(sim.Run(Pattern(20000, 4), QByteArray(), 5000));
    EXPECT_TRUE(sim.terminal.Deaf());
    EXPECT_EQ(sim.terminal.ReceivedDataFrames(), 2);
    EXPECT_LT(sim.gotUp.size(), 20000);
    // The program keeps trying, with growing pauses: no flood.
    EXPECT_LT(sim.program.Stats().dataFramesResent, 200u);
    QByteArray nothing;
    sim.terminal.Produce(sim.m_now, nothing);
    EXPECT_TRUE(nothing.isEmpty());
}

TEST(LinkEndpoints, ResponderStopsRepeatingToAnAbsentProgram) {
    EndpointConfig config;
    config.maxSilentTimeouts = 3;
    CLineSimulation sim(5, {}, config);
    ASSERT_TRUE(sim.Run(QByteArray("x"), QByteArray(), 10000));
    // The program vanishes; the terminal has an answer to send.
    sim.terminal.Queue(Pattern(5000, 5), true);
    std::uint64_t sent = 0;
    for (std::int64_t t = sim.m_now; t < sim.m_now + 600000; t += 10) {
        QByteArray w;
        sim.terminal.Produce(t, w);
        sent += static_cast<std::uint64_t>(w.size());
    }
    EXPECT_LE(sim.terminal.Stats().timeouts, 4u);
    EXPECT_LT(sent, 5u * 5000u + 1000u);
}

TEST(LinkFrames, DocumentedExampleFrameIsWhatTheCodeSends) {
    // docs/link-protocol.md, "An example exchange": "998" and a poll in one frame.
    QByteArray stream;
    AppendTextMessage(stream, MessageType::Command, QStringLiteral("998"));
    AppendIdMessage(stream, MessageType::Poll, 2);
    QByteArray wire;
    AppendFrame(wire, FrameType::Data, 0x4D, 1, 1, stream.constData(), static_cast<int>(stream.size()));
    EXPECT_EQ(wire.toHex(' ').toUpper(),
              QByteArray("4B 58 44 4D 01 00 01 00 0B 00 CA 6C 43 03 39 39 38 51 04 02 00 00 00 F0 5D 77 85"));
}
