#include "components/parlink/protocol/LiteralFrame.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace Link {
namespace {

// The weights of a Huffman table written directly (four bits a symbol)
// describe symbols 0 … 128; longer codes than 11 bits are not allowed.
constexpr int kSymbols = 129;
constexpr int kMaxCodeBits = 11;

using Counts = std::array<std::uint32_t, kSymbols>;
using Lengths = std::array<std::uint8_t, kSymbols>;

// Code lengths of a Huffman code for the symbols with a count (two at
// least), none over `limit` bits: built on the counts, and on the counts
// halved again and again while it is deeper than that.
void CodeLengths(const Counts& counts, int last, Lengths& lengths) {
    std::array<int, kSymbols> symbols{};
    int n = 0;
    for (int s = 0; s <= last; ++s)
        if (counts[s] != 0) symbols[n++] = s;
    // Leaves by count, then by symbol: the same code for the same bytes.
    std::stable_sort(symbols.begin(), symbols.begin() + n,
                     [&](int a, int b) { return counts[a] < counts[b]; });
    for (int shift = 0;; ++shift) {
        // Leaves 0 … n-1 in order, inner nodes n … 2n-2 as they are made:
        // both queues are in order of weight, so the two lightest are at
        // their fronts.
        std::array<std::uint64_t, 2 * kSymbols> weight{};
        std::array<int, 2 * kSymbols> parent{};
        for (int i = 0; i < n; ++i) weight[i] = std::max<std::uint64_t>(1, counts[symbols[i]] >> shift);
        int leaf = 0, inner = n, made = n;
        const auto lightest = [&] {
            if (leaf < n && (inner == made || weight[leaf] <= weight[inner])) return leaf++;
            return inner++;
        };
        while (made < 2 * n - 1) {
            const int a = lightest();
            const int b = lightest();
            weight[made] = weight[a] + weight[b];
            parent[a] = parent[b] = made;
            ++made;
        }
        // Depths from the root (the last node made) down.
        std::array<int, 2 * kSymbols> depth{};
        depth[made - 1] = 0;
        int deepest = 0;
        for (int i = made - 2; i >= 0; --i) {
            depth[i] = depth[parent[i]] + 1;
            if (i < n) deepest = std::max(deepest, depth[i]);
        }
        if (deepest > kMaxCodeBits) continue;
        lengths.fill(0);
        for (int i = 0; i < n; ++i) lengths[symbols[i]] = static_cast<std::uint8_t>(depth[i]);
        return;
    }
}

// Bits written forwards from the lowest: the decoder reads them backwards,
// from the marker bit after the last one.
class CBitWriter {
public:
    explicit CBitWriter(std::string& out) : m_out(out) {}
    void Add(std::uint32_t value, int bits) {
        m_bits |= std::uint64_t(value) << m_count;
        m_count += bits;
        if (m_count >= 32) {
            char word[4];
            for (int i = 0; i < 4; ++i) word[i] = static_cast<char>(m_bits >> (8 * i));
            m_out.append(word, 4);
            m_bits >>= 32;
            m_count -= 32;
        }
    }
    // The marker bit and the last, partly filled, byte.
    void Close() {
        Add(1, 1);
        for (; m_count > 0; m_count -= 8, m_bits >>= 8) m_out.push_back(static_cast<char>(m_bits));
        m_count = 0;
    }

private:
    std::string& m_out;
    std::uint64_t m_bits = 0;
    int m_count = 0;
};

void PutLittle(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// Magic number, a frame header without content size, checksum or
// dictionary, and a window that holds the whole block.
void PutFrameHeader(std::string& out, size_t size) {
    PutLittle(out, 0xFD2FB528u, 4);
    out.push_back('\0');
    int windowLog = 10;
    while ((size_t(1) << windowLog) < size) ++windowLog;
    out.push_back(static_cast<char>((windowLog - 10) << 3));
}

// The last block of the frame, compressed, of `size` bytes.
void PutBlockHeader(std::string& out, size_t size) { PutLittle(out, 1u | (2u << 1) | (size << 3), 3); }

}  // namespace

ByteCounts CountBytes(const unsigned char* data, size_t size) {
    ByteCounts result;
    // Four tables, summed after: a byte's count is not waited on by the next.
    std::array<std::array<std::uint32_t, 256>, 4> partial{};
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++partial[0][data[i]];
        ++partial[1][data[i + 1]];
        ++partial[2][data[i + 2]];
        ++partial[3][data[i + 3]];
    }
    for (; i < size; ++i) ++partial[0][data[i]];
    for (int s = 0; s < 256; ++s) {
        const std::uint32_t c = partial[0][s] + partial[1][s] + partial[2][s] + partial[3][s];
        result.of[static_cast<size_t>(s)] = c;
        if (c == 0) continue;
        ++result.distinct;
        result.last = s;
        result.top = std::max(result.top, c);
    }
    return result;
}

bool AppendLiteralFrame(const unsigned char* data, size_t size, const ByteCounts& byteCounts, std::string& out) {
    if (size == 0 || size > kLiteralFrameMaxBytes) return false;
    const int last = byteCounts.last;
    if (byteCounts.distinct == 1) {
        // One byte repeated: the literals are that byte and its count.
        if (size <= 2 + 6 + 3 + 3 + 2) return false;
        PutFrameHeader(out, size);
        const int header = size <= 31 ? 1 : size <= 4095 ? 2 : 3;
        PutBlockHeader(out, static_cast<size_t>(header) + 2);
        if (header == 1) PutLittle(out, 1u | (size << 3), 1);
        else if (header == 2) PutLittle(out, 1u | (1u << 2) | (size << 4), 2);
        else PutLittle(out, 1u | (3u << 2) | (size << 4), 3);
        out.push_back(static_cast<char>(last));
        out.push_back('\0');  // no sequences
        return true;
    }
    if (last >= kSymbols) return false;
    Counts counts{};
    std::copy(byteCounts.of.begin(), byteCounts.of.begin() + kSymbols, counts.begin());

    Lengths lengths{};
    CodeLengths(counts, last, lengths);
    int tableLog = 0;
    std::uint64_t bits = 0;
    for (int s = 0; s <= last; ++s) {
        tableLog = std::max<int>(tableLog, lengths[s]);
        bits += std::uint64_t(counts[s]) * lengths[s];
    }
    // The table: weights of symbols 0 … last-1, four bits each (the last's
    // follows from them); then the jump table of four streams and the
    // streams, each with its marker bit. Not worth it unless clearly smaller.
    const size_t tableBytes = 1 + (static_cast<size_t>(last) + 1) / 2;
    const size_t estimate = 6 + 3 + 5 + tableBytes + 6 + bits / 8 + 4 + 1;
    if (estimate >= size) return false;

    // Canonical codes as the decoder lays out its table: from the longest
    // codes (weight 1) to the shortest, symbols in order within a weight.
    std::array<std::uint32_t, kSymbols> code{};
    {
        std::uint32_t place = 0;
        for (int weight = 1; weight <= tableLog; ++weight)
            for (int s = 0; s <= last; ++s) {
                if (lengths[s] == 0 || tableLog + 1 - lengths[s] != weight) continue;
                code[s] = place >> (weight - 1);
                place += std::uint32_t(1) << (weight - 1);
            }
    }

    std::string literals;
    literals.reserve(tableBytes + 6 + bits / 8 + 8);
    literals.push_back(static_cast<char>(127 + last));
    for (int s = 0; s < last; s += 2) {
        const auto weightOf = [&](int symbol) {
            return symbol < last && lengths[symbol] != 0 ? tableLog + 1 - lengths[symbol] : 0;
        };
        literals.push_back(static_cast<char>((weightOf(s) << 4) | weightOf(s + 1)));
    }
    const size_t jump = literals.size();
    literals.append(6, '\0');
    const size_t segment = (size + 3) / 4;
    size_t sizes[4] = {};
    for (int k = 0; k < 4; ++k) {
        const size_t from = std::min(size, segment * static_cast<size_t>(k));
        const size_t to = k == 3 ? size : std::min(size, from + segment);
        const size_t before = literals.size();
        CBitWriter writer(literals);
        // From the segment's last byte to its first: the decoder reads the
        // bits backwards and gives the first byte first.
        for (size_t i = to; i-- > from;) writer.Add(code[data[i]], lengths[data[i]]);
        writer.Close();
        sizes[k] = literals.size() - before;
    }
    for (int k = 0; k < 3; ++k) {
        if (sizes[k] > 0xFFFF) return false;
        literals[jump + 2 * k] = static_cast<char>(sizes[k]);
        literals[jump + 2 * k + 1] = static_cast<char>(sizes[k] >> 8);
    }

    // The literals section's header: compressed literals in four streams,
    // with the smallest size fields that hold both sizes.
    const size_t packed = literals.size();
    const size_t larger = std::max(size, packed);
    const int header = larger <= 1023 ? 3 : larger <= 16383 ? 4 : 5;
    const size_t frame = 6 + 3 + static_cast<size_t>(header) + packed + 1;
    if (frame >= size) return false;
    PutFrameHeader(out, size);
    PutBlockHeader(out, static_cast<size_t>(header) + packed + 1);
    const std::uint64_t type = 2;  // compressed literals
    if (header == 3) PutLittle(out, type | (1u << 2) | (std::uint64_t(size) << 4) | (std::uint64_t(packed) << 14), 3);
    else if (header == 4) PutLittle(out, type | (2u << 2) | (std::uint64_t(size) << 4) | (std::uint64_t(packed) << 18), 4);
    else PutLittle(out, type | (3u << 2) | (std::uint64_t(size) << 4) | (std::uint64_t(packed) << 22), 5);
    out += literals;
    out.push_back('\0');  // no sequences
    return true;
}

}  // namespace Link
