#pragma once
// A zstd frame (RFC 8878) that holds its bytes as literals alone: one
// compressed block whose literals are Huffman-coded (or one byte repeated)
// and that has no sequences. Any zstd decoder reads it.
//
// Streams of a few small values (digit counts, kinds, word codes, small
// numbers' bytes) are where zstd's match finder costs most for least: it
// finds many short matches and pays for each, while an order-0 code of the
// bytes is both smaller and several times cheaper to make. The terminal's
// record blocks use such frames (RecordBlock.cpp).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Link {

// The most bytes such a frame holds (one block of zstd's largest).
inline constexpr size_t kLiteralFrameMaxBytes = size_t(128) << 10;

// How often each byte value occurs in a stream: what the frame is made
// from, and what a writer weighs it against zstd by.
struct ByteCounts {
    std::array<std::uint32_t, 256> of{};
    int distinct = 0;      // values that occur
    int last = 0;          // the largest value that occurs
    std::uint32_t top = 0;  // the count of the most frequent value
};
ByteCounts CountBytes(const unsigned char* data, size_t size);

// Appends the frame of the `size` bytes at `data` (counted in `counts`) to
// `out`; false, with `out` as it was, when the bytes cannot be written so
// (none, more than kLiteralFrameMaxBytes, two values or more and one
// above 0x80) or the frame
// would not be smaller than `size` bytes.
bool AppendLiteralFrame(const unsigned char* data, size_t size, const ByteCounts& counts, std::string& out);

}  // namespace Link
