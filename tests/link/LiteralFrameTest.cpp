// Literals-only zstd frames: zstd's own decoder is the judge of every frame.

#include "components/parlink/protocol/LiteralFrame.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <QRandomGenerator>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace Link;

namespace {

using Bytes = std::vector<unsigned char>;

// The frame of `bytes`, or an empty string where none is made.
std::string FrameOf(const Bytes& bytes) {
    std::string frame = "kept";  // what is there before must stay
    if (!AppendLiteralFrame(bytes.data(), bytes.size(), CountBytes(bytes.data(), bytes.size()), frame)) {
        EXPECT_EQ(frame, "kept");
        return {};
    }
    EXPECT_EQ(frame.substr(0, 4), "kept");
    return frame.substr(4);
}

// What zstd reads from `frame`; empty when it refuses it.
Bytes Decoded(const std::string& frame, size_t capacity) {
    Bytes out(capacity + 64);
    const size_t n = ZSTD_decompress(out.data(), out.size(), frame.data(), frame.size());
    if (ZSTD_isError(n)) {
        ADD_FAILURE() << ZSTD_getErrorName(n);
        return {};
    }
    out.resize(n);
    return out;
}

}  // namespace

// Streams as a block's columns make them, and shapes around every bound of
// the frame's headers: each frame is smaller than its bytes and zstd reads
// them back exactly.
TEST(LiteralFrame, ZstdReadsEveryFrameBackAsItsBytes) {
    QRandomGenerator random(32);
    struct Shape {
        const char* name;
        int values;      // 0 … values-1
        int dominant;    // percent of the stream that is 0, else none
    };
    const Shape shapes[] = {{"two values", 2, 80},  {"three", 3, 0},        {"codes", 7, 52},
                            {"small numbers", 60, 0}, {"up to 0x80", 129, 0}, {"skewed", 129, 95}};
    // Sizes across the literals header's three forms (10, 14 and 18 bits)
    // and the largest block.
    const size_t sizes[] = {64, 100, 1023, 1024, 4096, 16383, 16384, 70000, kLiteralFrameMaxBytes};
    int made = 0;
    for (const Shape& shape : shapes)
        for (size_t size : sizes) {
            Bytes bytes(size);
            for (auto& b : bytes)
                b = static_cast<unsigned char>(static_cast<int>(random.bounded(100)) < shape.dominant
                                                   ? 0
                                                   : random.bounded(shape.values));
            const std::string frame = FrameOf(bytes);
            if (frame.empty()) continue;
            ++made;
            EXPECT_LT(frame.size(), size) << shape.name << " " << size;
            EXPECT_EQ(Decoded(frame, size), bytes) << shape.name << " " << size;
        }
    EXPECT_GE(made, 50);

    // Code lengths that would pass 11 bits unlimited: counts of a Fibonacci
    // series make a Huffman tree as deep as it has symbols.
    Bytes deep;
    for (int s = 0, a = 1, b = 1; s < 20; ++s, std::tie(a, b) = std::make_pair(b, a + b))
        deep.insert(deep.end(), static_cast<size_t>(a), static_cast<unsigned char>(s));
    const std::string deepFrame = FrameOf(deep);
    ASSERT_FALSE(deepFrame.empty());
    EXPECT_EQ(Decoded(deepFrame, deep.size()), deep);

    // One value repeated, any value, at the lengths of the three RLE headers.
    for (size_t size : {size_t(64), size_t(4095), size_t(4096), size_t(100000)})
        for (unsigned char value : {0x00, 0x07, 0xFF}) {
            const Bytes same(size, value);
            const std::string frame = FrameOf(same);
            ASSERT_FALSE(frame.empty()) << size;
            EXPECT_LT(frame.size(), 20u);
            EXPECT_EQ(Decoded(frame, size), same) << size;
        }
}

TEST(LiteralFrame, BytesItCannotHoldOrNotShrinkAreLeftToZstd) {
    EXPECT_TRUE(FrameOf({}).empty());
    // Two values and one above 0x80: four-bit weights cannot describe it.
    Bytes high(4096, 1);
    high[100] = 0x81;
    EXPECT_TRUE(FrameOf(high).empty());
    high[100] = 0x80;
    EXPECT_FALSE(FrameOf(high).empty());
    // More than one block.
    EXPECT_TRUE(FrameOf(Bytes(kLiteralFrameMaxBytes + 1, 1)).empty());
    // Every value up to 0x80 as often: codes of seven and eight bits, and
    // a frame an eighth smaller than the bytes, headers included.
    Bytes even(4096 * 129 / 128);
    for (size_t i = 0; i < even.size(); ++i) even[i] = static_cast<unsigned char>(i % 129);
    const std::string evenFrame = FrameOf(even);
    EXPECT_EQ(Decoded(evenFrame, even.size()), even);
    EXPECT_LT(evenFrame.size(), even.size() * 7 / 8 + 100);
    EXPECT_GT(evenFrame.size(), even.size() * 7 / 8);
    // Too short to pay for the headers.
    EXPECT_TRUE(FrameOf(Bytes{1, 2, 1, 2, 1, 2}).empty());
}
