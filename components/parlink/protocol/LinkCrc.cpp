#include "components/parlink/protocol/LinkCrc.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KX_CRC32_CLMUL 1
#include <immintrin.h>
#endif

namespace Link {
namespace {

struct Tables {
    std::array<std::uint16_t, 256> crc16{};
    std::array<std::array<std::uint32_t, 256>, 8> crc32{};
    Tables() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint16_t c = static_cast<std::uint16_t>(i << 8);
            for (int k = 0; k < 8; ++k)
                c = (c & 0x8000) ? static_cast<std::uint16_t>((c << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(c << 1);
            crc16[i] = c;
            std::uint32_t d = i;
            for (int k = 0; k < 8; ++k) d = (d & 1) ? (d >> 1) ^ 0xEDB88320u : d >> 1;
            crc32[0][i] = d;
        }
        // Slicing-by-8 tables: every frame and every unit of the journal and
        // directory streams is summed on both ends, so the sum is on the hot
        // path; eight bytes a step keep it a small share of a transfer.
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int t = 1; t < 8; ++t)
                crc32[t][i] = (crc32[t - 1][i] >> 8) ^ crc32[0][crc32[t - 1][i] & 0xFF];
    }
};

const Tables& T() {
    static const Tables tables;
    return tables;
}

}  // namespace

std::uint16_t Crc16(const void* data, std::size_t size) {
    const auto& t = T().crc16;
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ t[((crc >> 8) ^ p[i]) & 0xFF]);
    return crc;
}

namespace {

// The running sum (inverted, as the tables keep it) carried over `size` bytes.
std::uint32_t TableSteps(const unsigned char* p, std::size_t size, std::uint32_t crc) {
    const auto& t = T().crc32;
    while (size >= 8) {
        const std::uint32_t lo = crc ^ (static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                        (static_cast<std::uint32_t>(p[2]) << 16) |
                                        (static_cast<std::uint32_t>(p[3]) << 24));
        const std::uint32_t hi = static_cast<std::uint32_t>(p[4]) | (static_cast<std::uint32_t>(p[5]) << 8) |
                                 (static_cast<std::uint32_t>(p[6]) << 16) | (static_cast<std::uint32_t>(p[7]) << 24);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    while (size--) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return crc;
}

#ifdef KX_CRC32_CLMUL
// Folding with carry-less multiplication, four 128-bit lanes at a time, then
// one, then a Barrett reduction to 32 bits ("Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ Instruction", Intel, 2009; the constants are
// the paper's for the bit-reflected CRC-32). `size` is at least 64 and a
// multiple of 16; `crc` the inverted running sum, and so is the result.
#define KX_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

KX_CLMUL_TARGET inline __m128i Load(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// x folded forward by the distance k stands for, onto `next`.
KX_CLMUL_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), next);
}

// Loads 16 bytes; with a copy under way, stores them at the same offset of
// `to` as well (the copy and the sum then read the bytes once).
// (`to` is null without a copy: no arithmetic on it then.)
template <bool kCopy>
KX_CLMUL_TARGET inline __m128i Take(const unsigned char* p, unsigned char* to, std::size_t offset) {
    const __m128i v = Load(p + offset);
    if constexpr (kCopy) _mm_storeu_si128(reinterpret_cast<__m128i*>(to + offset), v);
    return v;
}

template <bool kCopy>
KX_CLMUL_TARGET std::uint32_t ClmulSteps(const unsigned char* p, std::size_t size, std::uint32_t crc,
                                         unsigned char* to = nullptr) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);

    __m128i x1 = _mm_xor_si128(Take<kCopy>(p, to, 0), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Take<kCopy>(p, to, 16), x3 = Take<kCopy>(p, to, 32), x4 = Take<kCopy>(p, to, 48);
    p += 64;
    if constexpr (kCopy) to += 64;
    size -= 64;
    while (size >= 64) {
        x1 = Fold(x1, k1k2, Take<kCopy>(p, to, 0));
        x2 = Fold(x2, k1k2, Take<kCopy>(p, to, 16));
        x3 = Fold(x3, k1k2, Take<kCopy>(p, to, 32));
        x4 = Fold(x4, k1k2, Take<kCopy>(p, to, 48));
        p += 64;
        if constexpr (kCopy) to += 64;
        size -= 64;
    }
    x1 = Fold(x1, k3k4, x2);
    x1 = Fold(x1, k3k4, x3);
    x1 = Fold(x1, k3k4, x4);
    while (size >= 16) {
        x1 = Fold(x1, k3k4, Take<kCopy>(p, to, 0));
        p += 16;
        if constexpr (kCopy) to += 16;
        size -= 16;
    }
    // 128 bits to 64, then to 32 by Barrett reduction.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), _mm_srli_si128(x1, 4));
    __m128i x2b = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    x2b = _mm_clmulepi64_si128(_mm_and_si128(x2b, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2b);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HasClmul() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has;
}
#endif

}  // namespace

std::uint32_t Crc32WithTables(const void* data, std::size_t size, std::uint32_t previous) {
    return ~TableSteps(static_cast<const unsigned char*>(data), size, ~previous);
}

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t previous) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t crc = ~previous;
#ifdef KX_CRC32_CLMUL
    if (size >= 64 && HasClmul()) {
        const std::size_t folded = size & ~std::size_t(15);
        crc = ClmulSteps<false>(p, folded, crc);
        p += folded;
        size -= folded;
    }
#endif
    return ~TableSteps(p, size, crc);
}

std::uint32_t Crc32Copy(void* to, const void* data, std::size_t size, std::uint32_t previous) {
    const auto* p = static_cast<const unsigned char*>(data);
    auto* d = static_cast<unsigned char*>(to);
    std::uint32_t crc = ~previous;
#ifdef KX_CRC32_CLMUL
    if (size >= 64 && HasClmul()) {
        const std::size_t folded = size & ~std::size_t(15);
        crc = ClmulSteps<true>(p, folded, crc, d);
        p += folded;
        d += folded;
        size -= folded;
    }
#endif
    if (size > 0) std::memcpy(d, p, size);
    return ~TableSteps(p, size, crc);
}

}  // namespace Link
