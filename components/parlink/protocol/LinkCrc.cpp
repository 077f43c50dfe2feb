#include "components/parlink/protocol/LinkCrc.h"

#include <array>

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

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t previous) {
    const auto& t = T().crc32;
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t crc = ~previous;
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
    return ~crc;
}

}  // namespace Link
