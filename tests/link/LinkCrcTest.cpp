// The frame and unit check sums against their published check values and
// against the plain bit-by-bit definition, over every length, alignment and
// split a stream can hand them; the wares digest against FIPS 180's examples.

#include "components/parlink/protocol/LinkCrc.h"
#include "components/parlink/security/Sha256.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <algorithm>
#include <QRandomGenerator>

using namespace Link;

namespace {

// CRC-32 as the definition gives it, one bit at a time (reflected
// polynomial 0xEDB88320, all ones in and out).
std::uint32_t BitwiseCrc32(const unsigned char* p, std::size_t size, std::uint32_t previous = 0) {
    std::uint32_t crc = ~previous;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

}  // namespace

TEST(LinkCrc32, MatchesThePublishedCheckValues) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    // The same over sixteen bytes and more, where the table steps take over.
    EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(LinkCrc32, EqualsTheBitwiseDefinitionOnALongRandomBufferAtEveryAlignmentAndSplit) {
    QRandomGenerator random(20261209);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (char& c : buffer) c = static_cast<char>(random.bounded(256));
    const auto* p = reinterpret_cast<const unsigned char*>(buffer.constData());
    // Both ways of summing: carry-less multiplication where this processor
    // has it, and the tables every processor can use.
    for (const auto crc32 : {&Crc32, &Crc32WithTables}) {
        EXPECT_EQ(crc32(p, static_cast<std::size_t>(buffer.size()), 0),
                  BitwiseCrc32(p, static_cast<std::size_t>(buffer.size())));
        // Every start alignment, and every length through several 64-byte
        // folds and every tail of the 16- and 8-byte steps.
        for (std::size_t start = 0; start < 16; ++start)
            for (std::size_t size = 0; size < 300; ++size)
                ASSERT_EQ(crc32(p + start, size, 0), BitwiseCrc32(p + start, size)) << start << " " << size;
        // A running sum over pieces cut anywhere equals the sum over the whole.
        for (int round = 0; round < 50; ++round) {
            const std::size_t size = 1 + random.bounded(70000);
            const std::size_t cut = random.bounded(static_cast<quint32>(size + 1));
            ASSERT_EQ(crc32(p + cut, size - cut, crc32(p, cut, 0)), BitwiseCrc32(p, size)) << size << " " << cut;
        }
    }
}

TEST(LinkCrc32, ACopyWithItsSumCopiesExactlyAndSumsAsCrc32) {
    QRandomGenerator random(20261210);
    QByteArray source(80000, Qt::Uninitialized);
    for (char& c : source) c = static_cast<char>(random.bounded(256));
    const auto* p = reinterpret_cast<const unsigned char*>(source.constData());
    QByteArray target(source.size() + 64, '\x5A');
    const auto check = [&](std::size_t from, std::size_t at, std::size_t size, std::uint32_t previous) {
        target.fill('\x5A');
        const std::uint32_t sum = Crc32Copy(target.data() + at, p + from, size, previous);
        ASSERT_EQ(sum, BitwiseCrc32(p + from, size, previous)) << from << " " << at << " " << size;
        ASSERT_EQ(QByteArrayView(target).sliced(static_cast<qsizetype>(at), static_cast<qsizetype>(size)),
                  QByteArrayView(source).sliced(static_cast<qsizetype>(from), static_cast<qsizetype>(size)))
            << from << " " << at << " " << size;
        // Not a byte before or after.
        for (qsizetype i = 0; i < target.size(); ++i)
            if (i < static_cast<qsizetype>(at) || i >= static_cast<qsizetype>(at + size))
                ASSERT_EQ(target[i], '\x5A') << "byte " << i << " of " << from << " " << at << " " << size;
    };
    for (std::size_t size = 0; size < 300; ++size) check(size % 16, (size * 7) % 16, size, 0);
    for (int round = 0; round < 30; ++round)
        check(random.bounded(16), random.bounded(16), random.bounded(70000), random.generate());
}

TEST(LinkSha256, PublishedExamplesInOnePieceAndInAnyPieces) {
    // FIPS 180-2, appendix B: one block, two blocks; and the empty message.
    const QByteArray twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(LinkTls::Sha256("abc").toHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(LinkTls::Sha256(twoBlocks).toHex(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(LinkTls::Sha256(QByteArray()).toHex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // A million 'a' (the third example), added in pieces of every size up
    // to 1,000; the result starts the hash afresh.
    LinkTls::CSha256 hash;
    hash.Add("left over from before");
    hash.Result();
    const QByteArray a(1000, 'a');
    qsizetype added = 0;
    for (qsizetype piece = 1; added < 1000000; piece = piece % 1000 + 1) {
        const qsizetype n = std::min(piece, 1000000 - added);
        hash.Add(QByteArrayView(a.constData(), n));
        added += n;
    }
    EXPECT_EQ(hash.Result().toHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
