// The unpacker of a version-2 session's compressed stream, on either end.
//
// Built input (first byte odd): plain chunks from the input, sealed into
// units by the sender's packer or stored as they are, fed in any pieces: the plain bytes must come
// back exactly. Then, optionally, one byte of the packed stream changes (a
// peer's fault the frame checks cannot see): the unpacker may stop, but
// whatever it hands on must still be the start of the true plain bytes -
// never a wrong byte.
//
// Raw input: any bytes as a compressed stream, stored units agreed or not. Fed at once or in pieces they
// must give the same plain bytes and the same failure, and what waits for the
// rest of a unit never exceeds the largest unit (no memory growth from a
// stream that announces more than a unit can hold).

#include "components/parlink/protocol/LinkCompression.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <zstd.h>

#include <QList>

namespace {

using Link::CStreamPacker;
using Link::CStreamUnpacker;

// The largest a unit may be: two LEB128 sizes, the check and the packed bytes.
qsizetype LargestUnit() { return 3 + 3 + 4 + static_cast<qsizetype>(ZSTD_compressBound(Link::kMaxUnitPlain)); }

struct Unpacked {
    QByteArray plain;
    bool failed = false;
};

Unpacked Unpack(const QByteArray& stream, const QList<int>& pieces, bool storedUnits) {
    CStreamUnpacker unpacker;
    unpacker.AllowStoredUnits(storedUnits);
    Unpacked out;
    qsizetype at = 0;
    int next = 0;
    while (at < stream.size()) {
        const qsizetype size = pieces.isEmpty() ? stream.size() - at
                                                : std::min<qsizetype>(pieces[next++ % pieces.size()], stream.size() - at);
        const bool ok = unpacker.Feed(stream.constData() + at, size, out.plain);
        at += size;
        KX_FUZZ_CHECK(ok == !unpacker.Failed(), QStringLiteral("Feed and Failed disagree"));
        if (!ok) break;
        KX_FUZZ_CHECK(unpacker.Buffered() <= LargestUnit(),
                      QStringLiteral("%1 bytes wait for a unit").arg(unpacker.Buffered()));
    }
    out.failed = unpacker.Failed();
    // What a receiver hands on: a stored unit not yet complete waits for its check.
    KX_FUZZ_CHECK(unpacker.Unchecked() <= out.plain.size() && unpacker.Unchecked() < Link::kMaxUnitPlain,
                  QStringLiteral("%1 bytes unchecked").arg(unpacker.Unchecked()));
    out.plain.chop(unpacker.Unchecked());
    return out;
}

void RawStream(const QByteArray& stream, const QList<int>& cut, bool storedUnits) {
    const Unpacked whole = Unpack(stream, {}, storedUnits);
    const Unpacked pieces = Unpack(stream, cut, storedUnits);
    KX_FUZZ_CHECK(whole.failed == pieces.failed && whole.plain == pieces.plain,
                  QStringLiteral("at once: %1 bytes, failed %2; in pieces: %3 bytes, failed %4")
                      .arg(whole.plain.size())
                      .arg(whole.failed)
                      .arg(pieces.plain.size())
                      .arg(pieces.failed));
}

void BuiltStream(FuzzedDataProvider& fdp) {
    CStreamPacker packer;
    QByteArray stream;
    QByteArray plain;
    const int units = fdp.ConsumeIntegralInRange(1, 12);
    for (int i = 0; i < units && fdp.remaining_bytes() > 0; ++i) {
        QByteArray chunk = QByteArray::fromStdString(fdp.ConsumeRandomLengthString(2000));
        // Now and then a long repetitive unit, as the records of a directory are.
        if (fdp.ConsumeIntegralInRange(0, 7) == 0 && !chunk.isEmpty())
            chunk = chunk.repeated(std::min<qsizetype>(Link::kMaxUnitPlain / chunk.size(), 64));
        if (chunk.isEmpty()) chunk = "x";
        chunk.truncate(Link::kMaxUnitPlain);
        if (fdp.ConsumeBool())
            CStreamPacker::Store(chunk.constData(), chunk.size(), stream);
        else
            KX_FUZZ_CHECK(packer.Seal(chunk.constData(), chunk.size(), stream), QStringLiteral("Seal failed"));
        plain += chunk;
    }
    const QList<int> pieces = ConsumePieces(fdp, 9000);
    const Unpacked whole = Unpack(stream, {}, true);
    KX_FUZZ_CHECK(!whole.failed && whole.plain == plain,
                  QStringLiteral("sound stream: %1 of %2 plain bytes, failed %3")
                      .arg(whole.plain.size())
                      .arg(plain.size())
                      .arg(whole.failed));
    const Unpacked cut = Unpack(stream, pieces, true);
    KX_FUZZ_CHECK(!cut.failed && cut.plain == plain, QStringLiteral("sound stream in pieces: %1 of %2 bytes")
                                                         .arg(cut.plain.size())
                                                         .arg(plain.size()));

    if (!fdp.ConsumeBool() || stream.isEmpty()) return;
    QByteArray damaged = stream;
    const int at = fdp.ConsumeIntegralInRange<int>(0, static_cast<int>(damaged.size()) - 1);
    const char flip = static_cast<char>(fdp.ConsumeIntegralInRange(1, 255));
    damaged[at] = static_cast<char>(damaged[at] ^ flip);
    const Unpacked bad = Unpack(damaged, pieces, true);
    KX_FUZZ_CHECK(plain.startsWith(bad.plain),
                  QStringLiteral("byte %1 changed: %2 plain bytes handed on are not the true ones")
                      .arg(at)
                      .arg(bad.plain.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunStreamTarget(
        data, size, 64,
        [](std::uint8_t selector, const CutStream& raw) { RawStream(raw.stream, raw.pieces, (selector & 2) != 0); },
        BuiltStream);
}
