// The frame decoder of the link (both ends use it on every byte they read).
//
// Raw input: the bytes are a line's bytes as they come. Fed at once or in
// small pieces they must give the same frames, the same damaged frames and
// the same count of skipped bytes: where the reads of the port happen to cut
// the stream must not matter.
//
// Built input (first byte odd): frames made from the input with line noise
// between them and some of them damaged after their check sums were made.
// The decoder must give back exactly the frames sent (damaged ones as
// damaged, with their header), whatever the noise and however the stream is
// cut.

#include "components/parlink/protocol/LinkFrame.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QList>

namespace {

using Link::CFrameDecoder;
using Link::Frame;
using Link::FrameType;

struct Decoded {
    CFrameDecoder::Result result;
    Frame frame;
};

bool Same(const Decoded& a, const Decoded& b) {
    return a.result == b.result && a.frame.type == b.frame.type && a.frame.tag == b.frame.tag &&
           a.frame.seq == b.frame.seq && a.frame.ack == b.frame.ack && a.frame.payload == b.frame.payload;
}

QString Describe(const Decoded& d) {
    return QStringLiteral("%1 type %2 tag %3 seq %4 ack %5 payload %6")
        .arg(d.result == CFrameDecoder::Result::Frame ? "frame" : "damaged")
        .arg(static_cast<int>(d.frame.type))
        .arg(d.frame.tag)
        .arg(d.frame.seq)
        .arg(d.frame.ack)
        .arg(HexPreview(d.frame.payload, 16));
}

// Feeds `wire` in pieces of the given sizes (cycled; the rest at once when
// none are given) and takes every frame out after each piece.
QList<Decoded> Decode(const QByteArray& wire, const QList<int>& pieces, std::uint64_t* skipped) {
    CFrameDecoder decoder;
    QList<Decoded> out;
    qsizetype at = 0;
    int next = 0;
    while (at < wire.size()) {
        const qsizetype size = pieces.isEmpty() ? wire.size() - at
                                                : std::min<qsizetype>(pieces[next++ % pieces.size()], wire.size() - at);
        decoder.Feed(wire.constData() + at, size);
        at += size;
        Decoded d;
        while ((d.result = decoder.Next(&d.frame)) != CFrameDecoder::Result::NeedMore) {
            KX_FUZZ_CHECK(d.frame.payload.size() <= Link::kMaxFramePayload, Describe(d));
            if (d.result == CFrameDecoder::Result::Damaged)
                KX_FUZZ_CHECK(d.frame.payload.isEmpty(), QStringLiteral("a damaged frame kept its payload"));
            out.append(d);
        }
    }
    if (skipped) *skipped = decoder.SkippedBytes();
    return out;
}

void CompareDecodings(const QList<Decoded>& expected, const QList<Decoded>& got, const QString& what) {
    KX_FUZZ_CHECK(expected.size() == got.size(),
                  QStringLiteral("%1: %2 frames expected, %3 decoded").arg(what).arg(expected.size()).arg(got.size()));
    for (qsizetype i = 0; i < expected.size(); ++i)
        KX_FUZZ_CHECK(Same(expected[i], got[i]), QStringLiteral("%1: frame %2: expected %3, got %4")
                                                     .arg(what)
                                                     .arg(i)
                                                     .arg(Describe(expected[i]), Describe(got[i])));
}

void RawStream(const QByteArray& wire, const QList<int>& pieces) {
    std::uint64_t skippedWhole = 0, skippedPieces = 0, skippedBytes = 0;
    const QList<Decoded> whole = Decode(wire, {}, &skippedWhole);
    CompareDecodings(whole, Decode(wire, pieces, &skippedPieces), QStringLiteral("fed in pieces"));
    CompareDecodings(whole, Decode(wire, {1}, &skippedBytes), QStringLiteral("fed byte by byte"));
    KX_FUZZ_CHECK(skippedWhole == skippedPieces && skippedWhole == skippedBytes,
                  QStringLiteral("skipped %1 bytes at once, %2 in pieces, %3 byte by byte")
                      .arg(skippedWhole)
                      .arg(skippedPieces)
                      .arg(skippedBytes));
}

constexpr FrameType kTypes[] = {FrameType::Hello, FrameType::HelloAnswer, FrameType::Data, FrameType::Ack,
                                FrameType::Nak};

void BuiltStream(FuzzedDataProvider& fdp) {
    QByteArray wire;
    QList<Decoded> expected;
    const int count = fdp.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < count && fdp.remaining_bytes() > 0; ++i) {
        // Noise never holds the magic's first byte: nothing in it can be
        // taken for a frame, so the frames sent are all there is to find.
        QByteArray noise = QByteArray::fromStdString(fdp.ConsumeRandomLengthString(32));
        noise.replace('K', 'k');
        wire += noise;

        Decoded d;
        d.frame.type = kTypes[fdp.ConsumeIntegralInRange<int>(0, 4)];
        d.frame.tag = fdp.ConsumeIntegral<std::uint8_t>();
        d.frame.seq = fdp.ConsumeIntegral<std::uint16_t>();
        d.frame.ack = fdp.ConsumeIntegral<std::uint16_t>();
        const bool big = fdp.ConsumeBool();
        const int size = big ? fdp.ConsumeIntegralInRange(0, Link::kMaxFramePayload)
                             : fdp.ConsumeIntegralInRange(0, 48);
        QByteArray payload = QByteArray::fromStdString(fdp.ConsumeBytesAsString(static_cast<size_t>(size)));
        if (payload.size() < size) payload += QByteArray(size - payload.size(), 'P');
        d.frame.payload = payload;
        const qsizetype start = wire.size();
        Link::AppendFrame(wire, d.frame);
        d.result = CFrameDecoder::Result::Frame;
        if (fdp.ConsumeIntegralInRange(0, 3) == 0) {
            // One bit of the payload or of the trailing check sum changes on
            // the line: the header still holds, the frame is damaged.
            const int span = size + Link::kFrameTrailerSize;
            const int at = fdp.ConsumeIntegralInRange(0, span - 1);
            wire[start + Link::kFrameHeaderSize + at] =
                static_cast<char>(wire[start + Link::kFrameHeaderSize + at] ^ (1 << fdp.ConsumeIntegralInRange(0, 7)));
            d.result = CFrameDecoder::Result::Damaged;
            d.frame.payload.clear();
        }
        expected.append(d);
    }
    // A frame cut short at the end is never returned.
    if (fdp.ConsumeBool()) {
        QByteArray last;
        Link::AppendFrame(last, FrameType::Data, 1, 2, 3, "abc", 3);
        wire += last.left(fdp.ConsumeIntegralInRange<int>(0, static_cast<int>(last.size()) - 1));
    }
    const QList<int> pieces = ConsumePieces(fdp, 5000);
    CompareDecodings(expected, Decode(wire, {}, nullptr), QStringLiteral("built stream at once"));
    CompareDecodings(expected, Decode(wire, pieces, nullptr), QStringLiteral("built stream in pieces"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunStreamTarget(
        data, size, 40, [](std::uint8_t, const CutStream& raw) { RawStream(raw.stream, raw.pieces); }, BuiltStream);
}
