#pragma once
// Unsigned LEB128, the length encoding of the link's messages and units:
// seven bits a byte, least significant first, bit 7 set on all but the last.

#include <QByteArray>

#include <cstdint>
#include <string>

namespace Link {

// Writes `n` at `out` (room for 5 bytes); the bytes written.
inline int PutLeb128(char* out, std::uint32_t n) {
    int size = 0;
    for (; n >= 0x80; n >>= 7) out[size++] = static_cast<char>(0x80 | (n & 0x7F));
    out[size++] = static_cast<char>(n);
    return size;
}

// How many bytes PutLeb128 writes for `n`.
inline int Leb128Size(std::uint32_t n) {
    int size = 1;
    for (; n >= 0x80; n >>= 7) ++size;
    return size;
}

inline void AppendLeb128(QByteArray& out, std::uint32_t n) {
    while (n >= 0x80) {
        out.append(static_cast<char>(0x80 | (n & 0x7F)));
        n >>= 7;
    }
    out.append(static_cast<char>(n));
}

// The same onto a std::string (where many small appends must stay cheap).
inline void AppendLeb128(std::string& out, std::uint64_t n) {
    while (n >= 0x80) {
        out.push_back(static_cast<char>(0x80 | (n & 0x7F)));
        n >>= 7;
    }
    out.push_back(static_cast<char>(n));
}

}  // namespace Link
