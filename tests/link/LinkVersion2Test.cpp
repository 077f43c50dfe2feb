// The second protocol version in-process: what the HELLO exchange settles,
// version-1 peers seeing exactly the first version's bytes, compressed units,
// texts in the agreed code page, and compressed sessions over a bad line.

#include "components/parlink/protocol/LinkCompression.h"
#include "components/parlink/protocol/LinkHello.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "components/parlink/protocol/PackingChoice.h"
#include "platform/CodePage.h"
#include "tests/link/LinkLineSimulation.h"

#include <gtest/gtest.h>

#include <QList>
#include <QRandomGenerator>

#include <limits>
#include <QStringList>

using namespace Link;

namespace {

EndpointConfig Speaking(int version, bool compression = true, bool codePage = true) {
    EndpointConfig c;
    c.capabilities.maxVersion = static_cast<std::uint8_t>(version);
    c.capabilities.compression = compression;
    c.capabilities.codePage = codePage;
    return c;
}

// A socket's frames and units, stored units agreed, and a window of `window` frames.
EndpointConfig SocketSized(int window) {
    EndpointConfig c = Speaking(2);
    c.capabilities.storedUnits = true;
    c.maxPayload = kMaxFramePayload;
    c.window = window;
    c.unitPlain = kMaxUnitPlain;
    return c;
}

// The message stream of a wares upload and of a journal download.
QByteArray UploadStream(int records, TextCoding coding) {
    QByteArray s;
    AppendTextMessage(s, MessageType::Command, QStringLiteral("151"), coding);
    for (int i = 0; i < records; ++i)
        AppendTextMessage(s, MessageType::Data,
                          QStringLiteral("%1;460%2;Товар номер %3, упаковка %4 шт;шт;%5.50")
                              .arg(i).arg(i, 10, 10, QLatin1Char('0')).arg(i).arg(i % 24 + 1).arg(i % 1000),
                          coding);
    AppendEmptyMessage(s, MessageType::EndData);
    return s;
}

QByteArray JournalStream(int lines, TextCoding coding) {
    QByteArray s;
    for (int i = 0; i < lines; ++i)
        AppendTextMessage(s, MessageType::Answer,
                          QStringLiteral("460%1;%2;5;7;3;10;Молоко %3;20240101 10:%4:00;")
                              .arg(i, 10, 10, QLatin1Char('0')).arg(i % 7 + 1).arg(i).arg(i % 60, 2, 10, QLatin1Char('0')),
                          coding);
    return s;
}

QList<Frame> FramesOf(const QByteArray& wire) {
    CFrameDecoder d;
    d.Feed(wire.constData(), wire.size());
    QList<Frame> frames;
    Frame f;
    while (d.Next(&f) == CFrameDecoder::Result::Frame) frames << f;
    return frames;
}

QByteArray Encoded(const QList<Frame>& frames) {
    QByteArray b;
    for (const Frame& f : frames) AppendFrame(b, f);
    return b;
}

}  // namespace

TEST(LinkHello, BothEndsSettleOnWhatBothSpeak) {
    struct Case {
        const char* name;
        EndpointConfig program;
        EndpointConfig terminal;
        int version;
        Compression compression;
        std::uint16_t codePage;
    };
    const Case cases[] = {
        {"both version 2", Speaking(2), Speaking(2), 2, Compression::Zstd, kCodePageWindows1251},
        {"terminal of version 1", Speaking(2), Speaking(1), 1, Compression::None, kNoCodePage},
        {"program of version 1", Speaking(1), Speaking(2), 1, Compression::None, kNoCodePage},
        {"program offers no compression", Speaking(2, false), Speaking(2), 2, Compression::None, kCodePageWindows1251},
        {"terminal takes no code page", Speaking(2), Speaking(2, true, false), 2, Compression::Zstd, kNoCodePage},
    };
    for (const Case& c : cases) {
        CLineSimulation sim(7, {}, c.program, c.terminal);
        ASSERT_TRUE(sim.Run(QByteArray("x"), QByteArray("y"), 10000)) << c.name;
        for (const CLinkEndpoint* end : {&sim.program, &sim.terminal}) {
            EXPECT_EQ(end->Features().version, c.version) << c.name;
            EXPECT_EQ(end->Features().compression, c.compression) << c.name;
            EXPECT_EQ(end->Features().codePage, c.codePage) << c.name;
        }
    }

    // The first version's HELLO (nonce and version only) and its answer.
    HelloOffer offer;
    ASSERT_TRUE(ParseHello(QByteArray::fromHex("4d3c2b1a01"), &offer));
    EXPECT_EQ(offer.nonce, 0x1A2B3C4Du);
    const SessionFeatures chosen = ChooseFeatures(offer, LinkCapabilities());
    EXPECT_EQ(chosen.version, 1);
    EXPECT_EQ(HelloAnswerPayload(offer.nonce, chosen), QByteArray::fromHex("4d3c2b1a01"));
    EXPECT_EQ(HelloPayload(0x1A2B3C4D, LinkCapabilities()), QByteArray::fromHex("4d3c2b1a02010101e3040401020304"));
    // Rows are offered only with record blocks.
    LinkCapabilities noBlocks;
    noBlocks.recordBlocks = false;
    EXPECT_EQ(HelloPayload(0x1A2B3C4D, noBlocks), QByteArray::fromHex("4d3c2b1a02010101e304020102"));
    // The program on a socket: stored units besides (docs/link-protocol.md).
    LinkCapabilities socket = noBlocks;
    socket.storedUnits = true;
    EXPECT_EQ(HelloPayload(0x1A2B3C4D, socket), QByteArray::fromHex("4d3c2b1a02010101e30403010205"));
    LinkCapabilities noCapabilities;
    noCapabilities.journalSequence = noCapabilities.oneProgram = noCapabilities.recordBlocks = false;
    EXPECT_EQ(HelloPayload(0x1A2B3C4D, noCapabilities), QByteArray::fromHex("4d3c2b1a02010101e304"));
    // Cut offers are read as far as they go; a HELLO without a nonce is none.
    for (int n = 5; n < 10; ++n) EXPECT_TRUE(ParseHello(QByteArray::fromHex("4d3c2b1a02010101e304").left(n), &offer));
    EXPECT_FALSE(ParseHello(QByteArray::fromHex("00000000020101"), &offer));

    // An answer choosing what was not offered is not trusted.
    std::uint32_t nonce = 0;
    SessionFeatures answer;
    LinkCapabilities plain;
    plain.compression = false;
    EXPECT_FALSE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a0201e304"), plain, &nonce, &answer));
    EXPECT_FALSE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a0203e304"), LinkCapabilities(), &nonce, &answer));
    EXPECT_FALSE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a030000000"), LinkCapabilities(), &nonce, &answer));
    EXPECT_FALSE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a0201"), LinkCapabilities(), &nonce, &answer));
    EXPECT_TRUE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a0201e304"), LinkCapabilities(), &nonce, &answer));
    EXPECT_EQ(answer.compression, Compression::Zstd);
}

TEST(LinkVersions, AVersionOnePeerSeesTheFirstVersionsBytesUnchanged) {
    const QByteArray up = UploadStream(3000, TextCoding::Utf8);
    const QByteArray down = JournalStream(2000, TextCoding::Utf8);
    CLineSimulation today(11, {}, Speaking(1), Speaking(1));
    ASSERT_TRUE(today.Run(up, down, 60000));
    const QList<Frame> todayUp = FramesOf(today.wireUp);
    ASSERT_GT(todayUp.size(), 50);
    ASSERT_EQ(todayUp.front().type, FrameType::Hello);

    // A program of version 2 and a terminal of version 1: the terminal's
    // bytes are the same, and so are the program's but for its HELLO offer.
    CLineSimulation newProgram(11, {}, Speaking(2), Speaking(1));
    ASSERT_TRUE(newProgram.Run(up, down, 60000));
    EXPECT_EQ(newProgram.wireDown, today.wireDown);
    QList<Frame> newUp = FramesOf(newProgram.wireUp);
    ASSERT_EQ(newUp.size(), todayUp.size());
    EXPECT_EQ(newUp.front().payload, HelloPayload(0xA1B2C3D4, LinkCapabilities()));
    EXPECT_EQ(Encoded(newUp.mid(1)), Encoded(todayUp.mid(1)));
    EXPECT_EQ(newProgram.gotUp, up);
    EXPECT_EQ(newProgram.gotDown, down);

    // A program of version 1 and a terminal of version 2: all bytes the same.
    CLineSimulation newTerminal(11, {}, Speaking(1), Speaking(2));
    ASSERT_TRUE(newTerminal.Run(up, down, 60000));
    EXPECT_EQ(newTerminal.wireUp, today.wireUp);
    EXPECT_EQ(newTerminal.wireDown, today.wireDown);
}

TEST(LinkVersions, CompressedStreamsCarryFarFewerBytesAndSurviveABadLine) {
    const QByteArray up = UploadStream(20000, TextCoding::Windows1251);
    const QByteArray down = JournalStream(10000, TextCoding::Windows1251);
    CLineSimulation clean(21, {});
    ASSERT_TRUE(clean.Run(up, down, 120000));
    ASSERT_EQ(clean.program.Features().compression, Compression::Zstd);
    EXPECT_EQ(clean.gotUp, up);
    EXPECT_EQ(clean.gotDown, down);
    EXPECT_EQ(clean.program.Stats().plainBytesSent, static_cast<std::uint64_t>(up.size()));
    EXPECT_LT(clean.wireUp.size() * 5, up.size());
    EXPECT_LT(clean.wireDown.size() * 3, down.size());

    // Lost, damaged and cut writes: the repeats carry the compressed bytes as
    // first sent, and the streams still arrive exactly.
    std::uint64_t repeats = 0;
    for (unsigned seed = 1; seed <= 5; ++seed) {
        CLineSimulation sim(seed, BadLine(seed, 4));
        ASSERT_TRUE(sim.Run(up.left(150000), down.left(100000), 900000)) << "seed " << seed;
        EXPECT_EQ(sim.gotUp, up.left(150000)) << "seed " << seed;
        EXPECT_EQ(sim.gotDown, down.left(100000)) << "seed " << seed;
        EXPECT_FALSE(sim.program.StreamFailed() || sim.terminal.StreamFailed()) << "seed " << seed;
        repeats += sim.program.Stats().dataFramesResent + sim.terminal.Stats().dataFramesResent;
    }
    EXPECT_GT(repeats, 0u);

    // Socket-sized frames, units and window, stored units among compressed
    // ones, and megabytes each way: frames repeated after the sender has
    // dropped what its acknowledged frames held are still the bytes first
    // sent.
    const EndpointConfig wide = SocketSized(16);
    const QByteArray bigUp = up + UploadStream(60000, TextCoding::Windows1251) + Pattern(600000, 7);
    const QByteArray bigDown = Pattern(500000, 8) + JournalStream(30000, TextCoding::Windows1251);
    std::uint64_t wideRepeats = 0;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        CLineSimulation sim(seed, BadLine(seed, 4), wide);
        ASSERT_TRUE(sim.Run(bigUp, bigDown, 900000)) << "seed " << seed;
        EXPECT_EQ(sim.gotUp, bigUp) << "seed " << seed;
        EXPECT_EQ(sim.gotDown, bigDown) << "seed " << seed;
        EXPECT_GT(sim.program.Stats().unitsStored, 0u);
        wideRepeats += sim.program.Stats().dataFramesResent + sim.terminal.Stats().dataFramesResent;
    }
    EXPECT_GT(wideRepeats, 20u);
}

TEST(LinkVersions, ACorruptCompressedStreamIsNeverDeliveredAndSilencesTheReceiver) {
    const QByteArray up = UploadStream(20000, TextCoding::Windows1251);
    CLineSimulation sim(31, {});
    sim.program.SetFaults(0, 0, 0, 3);  // the third data frame: wrong payload, sound check sums
    EXPECT_FALSE(sim.Run(up, QByteArray(), 20000));
    EXPECT_TRUE(sim.terminal.StreamFailed());
    EXPECT_LT(sim.gotUp.size(), up.size());
    EXPECT_TRUE(up.startsWith(sim.gotUp));
    QByteArray nothing;
    sim.terminal.Produce(sim.m_now + 10000, nothing);
    EXPECT_TRUE(nothing.isEmpty());
}

TEST(LinkCompression, UnitsDecodeInAnyPiecesAndACorruptStreamStopsAtTheLastSoundUnit) {
    std::mt19937 rng(5);
    CStreamPacker packer;
    QByteArray plain;
    QByteArray packed;
    QList<qsizetype> unitEnds;  // plain and packed positions after each unit
    QList<qsizetype> packedEnds;
    const QByteArray text = JournalStream(3000, TextCoding::Windows1251);
    for (const int size : {1, 7, kUnitPlain, kMaxUnitPlain, 300, 40000, 2, kUnitPlain}) {
        // Text for the ratio, random bytes for the incompressible case.
        const QByteArray piece = size == 40000 ? Pattern(size, 9) : text.mid(plain.size() % 100000, size);
        ASSERT_TRUE(packer.Seal(piece.constData(), piece.size(), packed));
        plain += piece;
        unitEnds << plain.size();
        packedEnds << packed.size();
    }
    EXPECT_LT(packed.size(), plain.size());
    {
        CStreamUnpacker unpacker;
        QByteArray got;
        for (qsizetype at = 0; at < packed.size();) {
            const qsizetype n = std::uniform_int_distribution<qsizetype>(1, 3000)(rng);
            ASSERT_TRUE(unpacker.Feed(packed.constData() + at, std::min(n, packed.size() - at), got));
            at += n;
        }
        EXPECT_EQ(got, plain);
        EXPECT_EQ(unpacker.Buffered(), 0);
    }
    // One byte changed anywhere in the sizes, the check sum or the packed
    // bytes of the fourth unit: the units before it arrive, nothing after.
    const qsizetype from = packedEnds[2];
    const qsizetype to = packedEnds[3];
    int failed = 0;
    for (qsizetype at = from; at < to; at += std::max<qsizetype>(1, (to - from) / 97)) {
        QByteArray bad = packed;
        bad[at] = static_cast<char>(bad[at] ^ (1 << (at % 8)));
        CStreamUnpacker unpacker;
        QByteArray got;
        unpacker.Feed(bad.constData(), bad.size(), got);
        EXPECT_EQ(got, plain.left(unitEnds[2])) << "byte " << at;
        if (unpacker.Failed()) ++failed;
        // A longer packed size may leave it waiting for bytes that never come.
        EXPECT_TRUE(unpacker.Failed() || at - from < 4) << "byte " << at;
    }
    EXPECT_GT(failed, 90);
    // Sizes beyond the bounds fail at once instead of waiting.
    CStreamUnpacker unpacker;
    QByteArray got;
    EXPECT_FALSE(unpacker.Feed("\x81\x80\x04\x01", 4, got));  // 65537 plain bytes
    EXPECT_TRUE(got.isEmpty());
}

TEST(LinkCompression, StoredUnitsStandBesideCompressedOnesAndOnlyWhereAgreed) {
    // Units stored and compressed in turn, repeating text so that the
    // compressed ones refer back: a stored unit must not enter either end's
    // zstd stream, or every later back-reference lands on the wrong bytes.
    CStreamPacker packer;
    QByteArray plain;
    QByteArray stream;
    const QByteArray text = JournalStream(2000, TextCoding::Windows1251);
    qsizetype storedBytes = 0;
    for (int i = 0; i < 12; ++i) {
        const QByteArray piece = text.mid((i % 3) * 5000, i == 4 ? kMaxUnitPlain : 7000 + i);
        if (i % 3 == 1) {
            CStreamPacker::Store(piece.constData(), piece.size(), stream);
            storedBytes += piece.size();
        } else {
            ASSERT_TRUE(packer.Seal(piece.constData(), piece.size(), stream));
        }
        plain += piece;
    }
    EXPECT_LT(stream.size() - storedBytes, (plain.size() - storedBytes) / 2) << "the compressed units lost their ratio";
    CStreamUnpacker unpacker;
    unpacker.AllowStoredUnits(true);
    QByteArray got;
    for (qsizetype at = 0; at < stream.size(); at += 777)
        ASSERT_TRUE(unpacker.Feed(stream.constData() + at, std::min<qsizetype>(777, stream.size() - at), got));
    EXPECT_EQ(got, plain);
    EXPECT_EQ(unpacker.Buffered(), 0);

    // The documented stored unit: "998" as a command, P 5, C 0, its check,
    // then the plain bytes.
    QByteArray unit;
    CStreamPacker::Store("\x43\x03" "998", 5, unit);
    EXPECT_EQ(unit.toHex(' '), QByteArray("05 00 51 91 f8 c6 43 03 39 39 38"));
    // Without the agreement packed size 0 is a corrupt stream, as it always was;
    // a stored unit whose bytes do not match its check hands on nothing.
    CStreamUnpacker strict;
    QByteArray none;
    EXPECT_FALSE(strict.Feed(unit.constData(), unit.size(), none));
    QByteArray damaged = unit;
    damaged[8] = 'X';
    CStreamUnpacker agreed;
    agreed.AllowStoredUnits(true);
    EXPECT_FALSE(agreed.Feed(damaged.constData(), damaged.size(), none));
    EXPECT_TRUE(none.isEmpty());
}

TEST(LinkCompression, AStoredUnitGoesOnAsItComesButNothingOfItIsHandedOnBeforeItsCheckHolds) {
    // The unpacker alone: a stored unit fed a few bytes at a time.
    const QByteArray text = JournalStream(3000, TextCoding::Windows1251).left(kMaxUnitPlain);
    QByteArray unit;
    CStreamPacker::Store(text.constData(), text.size(), unit);
    for (const bool damaged : {false, true}) {
        QByteArray stream = unit;
        if (damaged) stream[stream.size() - 1] = static_cast<char>(stream[stream.size() - 1] ^ 1);
        CStreamUnpacker unpacker;
        unpacker.AllowStoredUnits(true);
        QByteArray got = "before";
        bool ok = true;
        for (qsizetype at = 0; at < stream.size() && ok; at += 1000) {
            ok = unpacker.Feed(stream.constData() + at, std::min<qsizetype>(1000, stream.size() - at), got);
            if (at + 1000 < stream.size()) {
                ASSERT_TRUE(ok);
                EXPECT_EQ(got.size() - unpacker.Unchecked(), 6) << "byte " << at;
                EXPECT_EQ(unpacker.Buffered(), unpacker.Unchecked());
            }
        }
        EXPECT_EQ(ok, !damaged);
        EXPECT_EQ(unpacker.Unchecked(), 0);
        EXPECT_EQ(got, damaged ? QByteArray("before") : "before" + text);
    }

    // Two endpoints: the terminal's stream is read after every frame, and
    // one frame in the middle of the program's second unit had a byte
    // changed before its check sums were made (the frames hold, the unit's
    // own check does not). The terminal hands on the first unit whole and
    // nothing of the second.
    const EndpointConfig c = SocketSized(64);
    CLinkEndpoint program(CLinkEndpoint::Role::Initiator, c);
    CLinkEndpoint terminal(CLinkEndpoint::Role::Responder, c);
    const QByteArray up = UploadStream(6000, TextCoding::Windows1251);
    ASSERT_GT(up.size(), 2 * kMaxUnitPlain + 1000);
    program.SetFaults(0, 0, 0, 16 + 8);
    program.StartSession(0x5EED, 0);
    QByteArray toTerminal, toProgram, got;
    bool queued = false;
    for (std::int64_t now = 0; now < 2000 && !terminal.StreamFailed(); ++now) {
        if (!queued && program.Established()) {
            program.Queue(up, false);
            queued = true;
        }
        program.Produce(now, toTerminal);
        CFrameDecoder frames;
        frames.Feed(toTerminal.constData(), toTerminal.size());
        toTerminal.clear();
        Frame f;
        QByteArray frameBytes;
        while (frames.Next(&f) == CFrameDecoder::Result::Frame) {
            frameBytes.clear();
            AppendFrame(frameBytes, f);
            terminal.Feed(frameBytes.constData(), frameBytes.size(), now);
            got += terminal.TakeReceived();
            ASSERT_TRUE(up.startsWith(got)) << "a wrong byte handed on after " << got.size();
        }
        terminal.Produce(now, toProgram);
        program.Feed(toProgram.constData(), toProgram.size(), now);
        toProgram.clear();
    }
    EXPECT_TRUE(program.Features().storedUnits);
    EXPECT_TRUE(terminal.StreamFailed());
    EXPECT_EQ(got.size(), kMaxUnitPlain);
}

TEST(LinkCompression, ASenderBehindItsLineCompressesOnlyWhereThatGetsTheStreamThroughFaster) {
    // A sender that always has more to send than its line takes; `rate`
    // gives the plain bytes a millisecond each way gets through. Returns the
    // share of milliseconds spent compressing.
    std::uint64_t sent = 0;  // the sender's running count, as the endpoint keeps it
    const auto run = [&sent](CPackingChoice& choice, std::int64_t from, std::int64_t to, auto rate) {
        int compressing = 0;
        for (std::int64_t now = from; now < to; ++now) {
            choice.Observe(now, sent, true);
            compressing += choice.CompressWhenBehind();
            sent += static_cast<std::uint64_t>(rate(choice.CompressWhenBehind()));
        }
        return compressing / static_cast<double>(to - from);
    };
    const std::uint64_t span = 8 * kMaxUnitPlain;
    // A slow line, where compressed units carry twice the stream.
    CPackingChoice slowLine(span);
    EXPECT_GT(run(slowLine, 0, 60000, [](bool compress) { return compress ? 20000 : 10000; }), 0.8);
    EXPECT_GT(slowLine.Rate(true), 1.8 * slowLine.Rate(false));
    // A fast socket to a receiver that unpacks slower than it takes stored units.
    CPackingChoice fastSocket(span);
    EXPECT_LT(run(fastSocket, 0, 10000, [](bool compress) { return compress ? 120000 : 160000; }), 0.2);
    // The same socket once the receiver is loaded by something else and the
    // line is the limit: the choice follows within a few spans.
    EXPECT_GT(run(fastSocket, 10000, 20000, [](bool compress) { return compress ? 90000 : 40000; }), 0.75);
    // And back, where only the way not taken got faster: seen by trying it.
    EXPECT_LT(run(fastSocket, 20000, 30000, [](bool compress) { return compress ? 90000 : 200000; }), 0.25);
    // A long steady socket: the tries of the slower way grow rare...
    CPackingChoice steady(span);
    EXPECT_LT(run(steady, 0, 60000, [](bool compress) { return compress ? 120000 : 160000; }), 0.03);
    // ...and a line that then changes is still followed.
    EXPECT_GT(run(steady, 60000, 75000, [](bool compress) { return compress ? 90000 : 40000; }), 0.6);
    // A sender that runs dry between bursts shorter than any span measures
    // nothing (its pace is the caller's): it goes on as a sender behind its
    // line always did.
    static_assert(CPackingChoice::kFirstSpanMs > 10 && CPackingChoice::kFirstSpanMs < CPackingChoice::kSpanMs);
    CPackingChoice bursts(span);
    for (std::int64_t now = 0; now < 10000; ++now) {
        bursts.Observe(now, sent, now % 10 != 0);
        sent += 200000;
        EXPECT_TRUE(bursts.CompressWhenBehind());
    }
    EXPECT_LT(bursts.Rate(true), 0);
    // A span carries a few units even when the line takes longer for them.
    CPackingChoice crawling(span);
    std::uint64_t crawled = 0;
    for (std::int64_t now = 0; now < 3000; ++now) {
        crawling.Observe(now, crawled, true);
        crawled += 100;
    }
    EXPECT_LT(crawling.Rate(true), 0) << "a span of 300,000 bytes ended before it had " << span;
}

TEST(LinkCompression, TwoEndsOnASocketStoreWhereTheReceiverIsTheLimitAndCompressWhereTheLineIs) {
    // A program sends a wares upload (random EAN-13 codes, names from a
    // vocabulary: zstd packs it to about 0.4) to a terminal over a simulated
    // socket, both with the socket's frames and units and a window of 64
    // frames (a quarter of a socket's, so that a simulated stream of 10 MB
    // spans many measures). Per simulated millisecond the line carries
    // `lineBytes` and the terminal has `work` to spend: a plain byte costs 1,
    // and a byte its unpacking made beyond what the line brought costs 2
    // more. Returns the wire bytes per plain byte sent.
    QRandomGenerator random(20261209);
    const QStringList words{"Молоко", "Кефир", "Сыр", "Хлеб", "Чай", "Кофе", "Сок", "Крупа", "Масло", "Печенье",
                            "Агрокомбинат", "Мираторг", "Простоквашино", "Фермерское", "Макфа", "Увелка"};
    QByteArray up;
    AppendTextMessage(up, MessageType::Command, QStringLiteral("151"), TextCoding::Windows1251);
    for (int i = 0; up.size() < 10 * 1024 * 1024; ++i)
        AppendTextMessage(up, MessageType::Data,
                          QStringLiteral("Т%1;%2 %3 г \"%4\";46%5%6")
                              .arg(i, 6, 10, QLatin1Char('0'))
                              .arg(words[random.bounded(10)])
                              .arg(random.bounded(50, 2000))
                              .arg(words[random.bounded(10, 16)])
                              .arg(random.bounded(100000), 5, 10, QLatin1Char('0'))
                              .arg(random.bounded(1000000), 6, 10, QLatin1Char('0')),
                          TextCoding::Windows1251);
    // `piece`: the program's caller hands it the stream this many bytes at a
    // time, whenever less than a window's worth waits unframed (as a
    // session's I/O thread takes its caller's records); 0: all at once.
    const auto run = [&up](qsizetype lineBytes, qsizetype work, qsizetype piece = 0) {
        const EndpointConfig c = SocketSized(64);
        CLinkEndpoint program(CLinkEndpoint::Role::Initiator, c);
        CLinkEndpoint terminal(CLinkEndpoint::Role::Responder, c);
        program.StartSession(0x600DF00D, 0);
        QByteArray toTerminal, toProgram, got;
        qsizetype budget = 0;
        qsizetype carriedAll = 0;
        qsizetype unpacked = 0;  // plain bytes beyond the wire bytes that brought them
        qsizetype queued = 0;
        for (std::int64_t now = 0; now < 600000 && got.size() < up.size(); ++now) {
            if (piece == 0 && queued == 0 && program.Established()) {
                program.Queue(up, false);
                queued = up.size();
            }
            while (piece > 0 && program.Established() && queued < up.size() &&
                   program.UnframedBytes() < static_cast<qsizetype>(c.window) * c.maxPayload) {
                program.Queue(up.mid(queued, piece), false);
                queued += piece;
            }
            program.Produce(now, toTerminal);
            budget = std::min(budget + work, 2 * work);
            for (qsizetype carried = 0; !toTerminal.isEmpty() && carried < lineBytes && budget > 0;) {
                const QByteArray chunk = toTerminal.left(std::min<qsizetype>(4096, lineBytes - carried));
                toTerminal.remove(0, chunk.size());
                carried += chunk.size();
                carriedAll += chunk.size();
                terminal.Feed(chunk.constData(), chunk.size(), now);
                const QByteArray plain = terminal.TakeReceived();
                got += plain;
                const qsizetype beyond = std::max(unpacked, got.size() - carriedAll);
                budget -= plain.size() + 2 * (beyond - unpacked);
                unpacked = beyond;
            }
            terminal.Produce(now, toProgram);
            program.Feed(toProgram.constData(), toProgram.size(), now);
            toProgram.clear();
        }
        EXPECT_EQ(got, up);
        EXPECT_TRUE(program.Features().storedUnits);
        const EndpointStats& stats = program.Stats();
        return static_cast<double>(stats.wireBytesSent) / static_cast<double>(std::max<std::uint64_t>(stats.plainBytesSent, 1));
    };
    // A line that carries everything at once to a terminal that works off
    // 20,000 plain bytes a millisecond: stored units get twice the stream
    // through, and after the first measures most units go stored.
    EXPECT_GT(run(std::numeric_limits<qsizetype>::max() / 4, 20000), 0.8);
    // The same with the stream handed over in pieces: the sender's plain
    // bytes run out now and then although the window stays full, and it is
    // still held back by the terminal.
    EXPECT_GT(run(std::numeric_limits<qsizetype>::max() / 4, 20000, 64 * 1024), 0.8);
    // A line of 5,000 bytes a millisecond to a terminal with work to spare:
    // compressed units carry more than twice the stream, and most go compressed.
    EXPECT_LT(run(5000, std::numeric_limits<qsizetype>::max() / 8), 0.6);
}

TEST(LinkMessages, BytesFedAfterACutMessageAreReadInPlaceAndEveryBodyHoldsUntilTheNextFeed) {
    // Code-page records of every length class (one-, two- and three-byte
    // lengths), a record in UTF-8, an empty end marker, cut into pieces of
    // many sizes; read by Next alone, and as the terminal reads a load:
    // code-page records straight from the buffer (TakeCodePageTexts), the
    // rest by Next.
    QByteArray stream;
    std::vector<qsizetype> starts;
    std::vector<QByteArray> bodies;
    std::vector<bool> inCodePage;
    QRandomGenerator random(20261211);
    for (int i = 0; i < 400; ++i) {
        starts.push_back(stream.size());
        if (i % 97 == 50) {
            AppendEmptyMessage(stream, MessageType::EndData);
            bodies.emplace_back();
            inCodePage.push_back(false);
            continue;
        }
        if (i % 131 == 70) {
            const QString text = QStringLiteral("漢字 %1").arg(i);
            AppendTextMessage(stream, MessageType::Data, text, TextCoding::Windows1251);
            bodies.push_back(text.toUtf8());
            inCodePage.push_back(false);
            continue;
        }
        const int most = i == 200 ? 20000 : i % 5 == 0 ? 400 : 60;
        QByteArray body(static_cast<qsizetype>(random.bounded(most / 2, most)), Qt::Uninitialized);
        for (char& c : body) c = static_cast<char>(random.bounded(256));
        AppendWindows1251Message(stream, MessageType::Data, body.constData(), body.size());
        bodies.push_back(body);
        inCodePage.push_back(true);
    }
    for (const bool atOnce : {false, true}) {
        for (const qsizetype cut : {1, 2, 3, 7, 100, 1000, 5000, 30000}) {
            CMessageParser parser;
            parser.SetTextCoding(TextCoding::Windows1251);
            parser.SetTextsAsUnownedBytes(true);
            std::size_t next = 0;
            qsizetype inPlace = 0;
            qsizetype takenAtOnce = 0;
            for (qsizetype at = 0; at < stream.size(); at += cut) {
                const QByteArray piece = stream.mid(at, cut);  // memory of its own, as a receiver hands it over
                parser.Feed(piece);
                std::vector<Message> round;
                Message m;
                for (;;) {
                    if (atOnce) {
                        parser.TakeCodePageTexts(MessageType::Data, [&](const char* bytes, qsizetype size) {
                            Message record;
                            record.type = MessageType::Data;
                            record.inCodePage = true;
                            record.body = QByteArray::fromRawData(bytes, size);
                            round.push_back(record);
                            ++takenAtOnce;
                        });
                    }
                    if (!parser.Next(&m)) break;
                    round.push_back(m);
                }
                // Every body of the round, checked only now: still what was sent.
                for (const Message& got : round) {
                    ASSERT_LT(next, bodies.size()) << cut;
                    EXPECT_EQ(got.type, bodies[next].isNull() ? MessageType::EndData : MessageType::Data) << next;
                    if (!bodies[next].isNull()) {
                        EXPECT_EQ(got.body, bodies[next]) << "message " << next << " in pieces of " << cut;
                        EXPECT_EQ(got.inCodePage, inCodePage[next]) << next;
                    }
                    // A message that starts in this piece is read where it lies.
                    if (starts[next] >= at && !bodies[next].isEmpty()) {
                        EXPECT_TRUE(got.body.constData() >= piece.constData() &&
                                    got.body.constData() + got.body.size() <= piece.constData() + piece.size())
                            << "message " << next << " copied, in pieces of " << cut;
                        ++inPlace;
                    }
                    ++next;
                }
            }
            EXPECT_EQ(next, bodies.size()) << cut;
            EXPECT_FALSE(parser.Failed());
            if (cut >= 1000) {
                EXPECT_GT(inPlace, 300) << cut;
            }
            // Whole records in a piece are taken in the one pass.
            if (atOnce && cut >= 1000) {
                EXPECT_GT(takenAtOnce, 300) << cut;
            }
        }
    }
}

TEST(LinkMessages, CodePageTextsWhereEveryCharacterFitsUtf8Otherwise) {
    const QStringList fitting = {QStringLiteral("998"), QStringLiteral("Справочник; «ёж» №5 €"), QStringLiteral("?"),
                                 QStringLiteral("a?b"), QString(QChar(0)) + QChar(4) + QStringLiteral("\r\n"),
                                 QString(QChar(0x98))};
    const QStringList notFitting = {QStringLiteral("漢字"), QStringLiteral("Ā"), QStringLiteral("?\U0001F600"),
                                    QString(QChar(0xD800)), QStringLiteral("ok ") + QChar(0x2603)};
    QByteArray stream;
    QList<std::uint8_t> types;
    for (const QStringList* list : {&fitting, &notFitting}) {
        for (const QString& t : *list) {
            const qsizetype at = stream.size();
            AppendTextMessage(stream, MessageType::Data, t, TextCoding::Windows1251);
            types << static_cast<std::uint8_t>(stream[at]);
        }
    }
    for (qsizetype i = 0; i < types.size(); ++i)
        EXPECT_EQ(types[i], i < fitting.size() ? ('D' | kCodePageTypeFlag) : 'D') << "text " << i;
    // Body bytes of a code-page text are the file's bytes.
    QByteArray one;
    AppendTextMessage(one, MessageType::Answer, QStringLiteral("Ёж"), TextCoding::Windows1251);
    EXPECT_EQ(one, QByteArray("\xC1\x02") + CodePage::ToWindows1251(QStringLiteral("Ёж")));

    CMessageParser agreed;
    agreed.SetTextCoding(TextCoding::Windows1251);
    CMessageParser utf8Only;
    for (qsizetype i = 0; i < stream.size(); i += 5) {
        agreed.Feed(stream.mid(i, 5));
        utf8Only.Feed(stream.mid(i, 5));
    }
    QStringList got;
    Message m;
    while (agreed.Next(&m)) got << m.text;
    EXPECT_EQ(got, fitting + notFitting);
    // A session that agreed on no code page skips such messages as unknown.
    got.clear();
    while (utf8Only.Next(&m)) got << m.text;
    EXPECT_EQ(got, notFitting);
    EXPECT_FALSE(utf8Only.Failed());
}

TEST(LinkVersions, DocumentedExampleExchangeDecodesOnBothEnds) {
    // docs/link-protocol.md, "Example (version 2)": neither end lists a
    // capability, so the bytes are those of a version-2 session from before
    // capabilities existed.
    EndpointConfig plain;
    plain.capabilities.journalSequence = plain.capabilities.oneProgram = plain.capabilities.recordBlocks = false;
    const QByteArray hello = QByteArray::fromHex("4B58484D000000000A00587D4D3C2B1A02010101E304AB4F4608");
    const QByteArray fromProgram = QByteArray::fromHex(
        "4B58444D0000000015 00A27F060FF16870F028B52FFD0038300000500401000000 34F12A02"
        "4B58444D01000100 1400877F0B0E6D203CA3580000C30339393851040200000 02FE572AA");
    const QByteArray fromTerminal = QByteArray::fromHex(
        "4B58684D000000000800 52604D3C2B1A0201E30497CFCD44"
        "4B58444D0000010015001609060FD25AA3EE28B52FFD0038300000470401000000 72BBBA75"
        "4B58444D010002002100 3B1E181BE57A7BCFC00000C110313BC3EEF2EEE220EA20EEE1ECE5EDF3520402000000 9D46B3C8");

    CLinkEndpoint program(CLinkEndpoint::Role::Initiator, plain);
    program.StartSession(0x1A2B3C4D, 0);
    QByteArray wire;
    program.Produce(0, wire);
    EXPECT_EQ(wire, hello);
    program.Feed(fromTerminal.constData(), fromTerminal.size(), 1);
    ASSERT_TRUE(program.Established());
    ASSERT_FALSE(program.StreamFailed());
    CMessageParser parser;
    parser.SetTextCoding(TextCoding::Windows1251);
    parser.Feed(program.TakeReceived());
    QList<Message> got;
    Message m;
    while (parser.Next(&m)) got << m;
    ASSERT_EQ(got.size(), 3);
    EXPECT_EQ(got[0].type, MessageType::Pong);
    EXPECT_EQ(got[0].id, 1u);
    EXPECT_EQ(got[1].type, MessageType::Answer);
    EXPECT_EQ(got[1].text, QStringLiteral("1;Готов к обмену"));
    EXPECT_EQ(got[2].type, MessageType::PollReply);
    EXPECT_EQ(got[2].id, 2u);

    // A terminal that knows capabilities answers a HELLO listing none just so.
    CLinkEndpoint terminal(CLinkEndpoint::Role::Responder);
    terminal.Feed(hello.constData(), hello.size(), 0);
    EXPECT_TRUE(terminal.TakeNewSession());
    QByteArray answer;
    terminal.Produce(0, answer);
    EXPECT_EQ(answer, fromTerminal.left(24));
    terminal.Feed(fromProgram.constData(), fromProgram.size(), 1);
    EXPECT_EQ(terminal.TakeReceived(), QByteArray::fromHex("500401000000 C303393938510402000000"));
}

// The program's level for a slow serial line packs realistic records tighter
// than the terminals' level, decodes with the same small window, and keeps
// its compressor small: one is made for every session, and many sessions
// start at once.
TEST(LinkCompression, TheSlowLineLevelPacksTighterInTheSameWindowAndStaysSmall) {
    EXPECT_EQ(ZstdLevelForLine(115200), kZstdSlowLineLevel);
    EXPECT_EQ(ZstdLevelForLine(kSlowLineBaud), kZstdSlowLineLevel);
    EXPECT_EQ(ZstdLevelForLine(kSlowLineBaud + 1), kZstdLevel);
    EXPECT_EQ(ZstdLevelForLine(0), kZstdLevel);  // a socket
    EXPECT_GT(kZstdSlowLineLevel, kZstdLevel);

    // Wares with random barcodes and names from a vocabulary.
    QByteArray plain;
    std::uint32_t seed = 12345;
    const auto next = [&seed](std::uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    const QStringList words{"Молоко", "Кефир", "Сыр", "Хлеб", "Чай", "Кофе", "Сок", "Крупа", "Масло", "Печенье"};
    for (int i = 0; i < 20000; ++i) {
        QString barcode = QStringLiteral("46");
        for (int d = 0; d < 11; ++d) barcode += QChar(u'0' + next(10));
        AppendTextMessage(plain, MessageType::Data,
                          QStringLiteral("Т%1;%2 %3 %4 г;%5").arg(i).arg(words[next(10)], words[next(10)]).arg(next(2000)).arg(barcode),
                          TextCoding::Windows1251);
    }
    qsizetype packedSize[2] = {0, 0};
    std::size_t memory[2] = {0, 0};
    const int levels[2] = {kZstdLevel, kZstdSlowLineLevel};
    for (int k = 0; k < 2; ++k) {
        CStreamPacker packer(levels[k]);
        QByteArray packed;
        for (qsizetype off = 0; off < plain.size(); off += kUnitPlain)
            ASSERT_TRUE(packer.Seal(plain.constData() + off, std::min<qsizetype>(kUnitPlain, plain.size() - off), packed));
        memory[k] = packer.MemoryBytes();
        packedSize[k] = packed.size();
        CStreamUnpacker unpacker;  // the terminal's: a window of 128 KiB at most
        QByteArray back;
        ASSERT_TRUE(unpacker.Feed(packed.constData(), packed.size(), back)) << levels[k];
        EXPECT_EQ(back, plain) << levels[k];
    }
    EXPECT_LT(packedSize[1] * 100, packedSize[0] * 92) << packedSize[0] << " " << packedSize[1];
    EXPECT_LT(memory[1], std::size_t{8} << 20) << memory[1];
}

// docs/link-protocol.md, "Capabilities" and "One program at a time": the
// documented frames, what a program that never heard of capabilities makes
// of them, and a second program kept out while the first one's session is
// open — however long it stays idle — and let in once it said goodbye.
TEST(LinkCapabilities, DocumentedFramesAndOneProgramAtATime) {
    const QByteArray hello = QByteArray::fromHex("4B58484D000000000F00AD824D3C2B1A02010101E3040401020304E0B5F9C5");
    const QByteArray answer = QByteArray::fromHex("4B58684D000000000D00A79F4D3C2B1A0201E30404010203040F6FCA54");
    const QByteArray busy = QByteArray::fromHex("4B58684D0000000006005D434D3C2B1A000163EFAD80");

    CLinkEndpoint program(CLinkEndpoint::Role::Initiator);
    program.StartSession(0x1A2B3C4D, 0);
    QByteArray wire;
    program.Produce(0, wire);
    EXPECT_EQ(wire, hello);
    CLinkEndpoint terminal(CLinkEndpoint::Role::Responder);
    terminal.Feed(hello.constData(), hello.size(), 0);
    ASSERT_TRUE(terminal.TakeNewSession());
    wire.clear();
    terminal.Produce(0, wire);
    EXPECT_EQ(wire, answer);
    EXPECT_TRUE(terminal.Features().journalSequence && terminal.Features().oneProgram);
    program.Feed(answer.constData(), answer.size(), 1);
    ASSERT_TRUE(program.Established());
    EXPECT_TRUE(program.Features().journalSequence && program.Features().oneProgram);

    // Another terminal serving one program, whose session has been idle for
    // a long time: the program keeps it alive, a frame a second.
    CLinkEndpoint busyTerminal(CLinkEndpoint::Role::Responder);
    CLinkEndpoint first(CLinkEndpoint::Role::Initiator);
    first.StartSession(0x55667788, 0);
    wire.clear();
    first.Produce(0, wire);
    busyTerminal.Feed(wire.constData(), wire.size(), 0);
    ASSERT_TRUE(busyTerminal.TakeNewSession());
    wire.clear();
    busyTerminal.Produce(0, wire);
    first.Feed(wire.constData(), wire.size(), 1);
    ASSERT_TRUE(first.Established());
    std::int64_t now = 1;
    for (; now < 20000; now += 100) {
        QByteArray out;
        first.Produce(now, out);
        if (!out.isEmpty()) busyTerminal.Feed(out.constData(), out.size(), now);
        ASSERT_LE(first.NextDeadline(now), now + 1000);
    }

    // A second program after 20 s of idleness: "busy", the session untouched.
    CLinkEndpoint second(CLinkEndpoint::Role::Initiator);
    second.StartSession(0x1A2B3C4D, now);  // the nonce of the documented frame
    wire.clear();
    second.Produce(now, wire);
    busyTerminal.Feed(wire.constData(), wire.size(), now);
    EXPECT_FALSE(busyTerminal.TakeNewSession());
    wire.clear();
    busyTerminal.Produce(now, wire);
    EXPECT_EQ(wire, busy);
    second.Feed(wire.constData(), wire.size(), now);
    EXPECT_TRUE(second.PeerBusy());
    EXPECT_FALSE(second.Established());
    EXPECT_EQ(busyTerminal.BusyAnswers(), 1u);

    // A program that offered nothing of this does not trust a busy answer.
    EndpointConfig old;
    old.capabilities.journalSequence = old.capabilities.oneProgram = false;
    CLinkEndpoint oldProgram(CLinkEndpoint::Role::Initiator, old);
    oldProgram.StartSession(0x1A2B3C4D, now);
    oldProgram.Feed(busy.constData(), busy.size(), now);
    EXPECT_FALSE(oldProgram.PeerBusy());
    EXPECT_FALSE(oldProgram.Established());

    // The first program said goodbye: the next HELLO is taken at once.
    busyTerminal.CloseSession();
    now += 1000;
    wire.clear();
    second.Produce(now, wire);
    busyTerminal.Feed(wire.constData(), wire.size(), now);
    EXPECT_TRUE(busyTerminal.TakeNewSession());
    wire.clear();
    busyTerminal.Produce(now, wire);
    second.Feed(wire.constData(), wire.size(), now);
    EXPECT_TRUE(second.Established());
    EXPECT_FALSE(second.PeerBusy());

    // A program that went silent without a goodbye (killed) holds the
    // busyTerminal no longer than the quiet time.
    CLinkEndpoint third(CLinkEndpoint::Role::Initiator);
    third.StartSession(0x99AABBCC, now + 4000);
    wire.clear();
    third.Produce(now + 4000, wire);
    busyTerminal.Feed(wire.constData(), wire.size(), now + 4000);
    EXPECT_FALSE(busyTerminal.TakeNewSession());
    busyTerminal.Feed(wire.constData(), wire.size(), now + 5001);
    EXPECT_TRUE(busyTerminal.TakeNewSession());
}

// Answers that list what was not offered, or what this code does not know,
// are not acted on; an offer's unknown ids are passed over.
TEST(LinkCapabilities, OnlyWhatWasOfferedIsTaken) {
    std::uint32_t nonce = 0;
    SessionFeatures chosen;
    LinkCapabilities none;
    none.journalSequence = none.oneProgram = false;
    EXPECT_FALSE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a0201e3040101"), none, &nonce, &chosen));
    EXPECT_FALSE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a0201e3040109"), LinkCapabilities(), &nonce, &chosen));
    ASSERT_TRUE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a0201e3040102"), LinkCapabilities(), &nonce, &chosen));
    EXPECT_TRUE(chosen.oneProgram);
    EXPECT_FALSE(chosen.journalSequence);
    HelloOffer offer;
    ASSERT_TRUE(ParseHello(QByteArray::fromHex("4d3c2b1a02010101e304030901ff"), &offer));
    EXPECT_TRUE(offer.journalSequence);
    EXPECT_FALSE(offer.oneProgram);
    // Stored units: listed by a program that compresses, agreed only with
    // compression, and an answer may not take them unasked.
    LinkCapabilities fast;
    fast.journalSequence = fast.oneProgram = fast.recordBlocks = fast.waresRows = false;
    fast.storedUnits = true;
    EXPECT_EQ(HelloPayload(0x1a2b3c4d, fast).toHex(), QByteArray("4d3c2b1a02010101e3040105"));
    ASSERT_TRUE(ParseHello(HelloPayload(0x1a2b3c4d, fast), &offer));
    EXPECT_TRUE(offer.storedUnits);
    EXPECT_FALSE(ChooseFeatures(offer, LinkCapabilities()).storedUnits) << "a terminal that does not take them";
    EXPECT_TRUE(ChooseFeatures(offer, fast).storedUnits);
    LinkCapabilities plainFast = fast;
    plainFast.compression = false;
    EXPECT_EQ(HelloPayload(0x1a2b3c4d, plainFast).toHex(), QByteArray("4d3c2b1a020001e304"));
    EXPECT_FALSE(ChooseFeatures(offer, plainFast).storedUnits) << "no compression, no stored units";
    EXPECT_FALSE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a0201e3040105"), LinkCapabilities(), &nonce, &chosen));
    ASSERT_TRUE(ParseHelloAnswer(QByteArray::fromHex("4d3c2b1a0201e3040105"), fast, &nonce, &chosen));
    EXPECT_TRUE(chosen.storedUnits);
    // The code pages cut short: no capability list is read from their bytes.
    ASSERT_TRUE(ParseHello(QByteArray::fromHex("4d3c2b1a0201010102e304"), &offer));
    EXPECT_FALSE(offer.journalSequence || offer.oneProgram);
    EXPECT_EQ(ChooseFeatures(offer, LinkCapabilities()).journalSequence, false);
}
