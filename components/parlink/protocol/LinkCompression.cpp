#include "components/parlink/protocol/LinkCompression.h"

#include "components/parlink/protocol/LinkCrc.h"
#include "components/parlink/protocol/LinkLeb128.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>

namespace Link {
namespace {

// Reads a LEB128 number of at most three bytes (enough for a unit's sizes).
// 0: more bytes needed; -1: malformed; otherwise the bytes used.
int ReadLeb128(const unsigned char* p, qsizetype avail, std::uint32_t* value) {
    std::uint32_t v = 0;
    for (int i = 0; i < 3; ++i) {
        if (i >= avail) return 0;
        v |= static_cast<std::uint32_t>(p[i] & 0x7F) << (7 * i);
        if (!(p[i] & 0x80)) {
            *value = v;
            return i + 1;
        }
    }
    return -1;
}

qsizetype MaxPacked() { return static_cast<qsizetype>(ZSTD_compressBound(kMaxUnitPlain)); }

// A unit's header, then its packed bytes, or (packed size 0) its plain ones.
void AppendUnit(QByteArray& out, const char* plain, qsizetype size, const char* packed, qsizetype packedSize) {
    AppendLeb128(out, static_cast<std::uint32_t>(size));
    AppendLeb128(out, static_cast<std::uint32_t>(packedSize));
    const qsizetype sumAt = out.size();
    out.resize(sumAt + 4 + (packedSize > 0 ? packedSize : size));
    char* const body = out.data() + sumAt + 4;
    std::uint32_t crc = 0;
    if (packedSize > 0) {
        crc = Crc32(plain, static_cast<std::size_t>(size));
        std::memcpy(body, packed, static_cast<std::size_t>(packedSize));
    } else {
        // A stored unit: its bytes copied and summed in one pass.
        crc = Crc32Copy(body, plain, static_cast<std::size_t>(size));
    }
    for (int i = 0; i < 4; ++i) out[sumAt + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
}

}  // namespace

void CStreamPacker::Free::operator()(ZSTD_CCtx_s* c) const { ZSTD_freeCCtx(c); }
void CStreamUnpacker::Free::operator()(ZSTD_DCtx_s* d) const { ZSTD_freeDCtx(d); }

int ZstdLevelForLine(int baudRate) {
    return baudRate > 0 && baudRate <= kSlowLineBaud ? kZstdSlowLineLevel : kZstdLevel;
}

CStreamPacker::CStreamPacker(int level) : m_ctx(ZSTD_createCCtx()) {
    if (!m_ctx) return;
    ZSTD_CCtx_setParameter(m_ctx.get(), ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(m_ctx.get(), ZSTD_c_windowLog, kZstdWindowLog);
    // The higher levels size their match tables for windows of megabytes
    // (tens of MB, made and cleared for every session, which slows the start
    // of many sessions at once); no match reaches further back than the
    // window here, so tables for the window do as well.
    if (level > kZstdLevel) {
        ZSTD_CCtx_setParameter(m_ctx.get(), ZSTD_c_hashLog, kZstdWindowLog + 1);
        ZSTD_CCtx_setParameter(m_ctx.get(), ZSTD_c_chainLog, kZstdWindowLog + 1);
    }
    ZSTD_CCtx_setParameter(m_ctx.get(), ZSTD_c_checksumFlag, 0);
}

CStreamPacker::~CStreamPacker() = default;

std::size_t CStreamPacker::MemoryBytes() const { return m_ctx ? ZSTD_sizeof_CCtx(m_ctx.get()) : 0; }

bool CStreamPacker::Seal(const char* plain, qsizetype size, QByteArray& out) {
    if (!m_ctx || size <= 0 || size > kMaxUnitPlain) return false;
    if (m_scratch.size() < MaxPacked() + 64) m_scratch.resize(MaxPacked() + 64);
    ZSTD_inBuffer in{plain, static_cast<size_t>(size), 0};
    ZSTD_outBuffer dst{m_scratch.data(), static_cast<size_t>(m_scratch.size()), 0};
    for (;;) {
        const size_t left = ZSTD_compressStream2(m_ctx.get(), &dst, &in, ZSTD_e_flush);
        if (ZSTD_isError(left)) return false;
        if (left == 0) break;
        if (dst.pos == dst.size) return false;  // cannot happen: the buffer holds the bound
    }
    AppendUnit(out, plain, size, m_scratch.constData(), static_cast<qsizetype>(dst.pos));
    return true;
}

void CStreamPacker::Store(const char* plain, qsizetype size, QByteArray& out) {
    AppendUnit(out, plain, size, nullptr, 0);
}

CStreamUnpacker::CStreamUnpacker() : m_ctx(ZSTD_createDCtx()) {
    if (m_ctx) ZSTD_DCtx_setParameter(m_ctx.get(), ZSTD_d_windowLogMax, kZstdWindowLog);
    m_failed = !m_ctx;
}

CStreamUnpacker::~CStreamUnpacker() = default;

bool CStreamUnpacker::Feed(const char* data, qsizetype size, QByteArray& plain) {
    if (m_failed) return false;
    if (m_storedLeft > 0) {
        // The body of a stored unit under way: straight on to `plain`.
        const qsizetype n = std::min<qsizetype>(size, m_storedLeft);
        if (!TakeStored(data, n, plain)) return false;
        data += n;
        size -= n;
        if (size == 0) return true;
    }
    if (m_pos > 0 && m_pos >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    m_buffer.append(data, size);
    for (;;) {
        const auto* p = reinterpret_cast<const unsigned char*>(m_buffer.constData() + m_pos);
        const qsizetype avail = m_buffer.size() - m_pos;
        std::uint32_t plainSize = 0;
        std::uint32_t packedSize = 0;
        const int a = ReadLeb128(p, avail, &plainSize);
        if (a == 0) return true;
        const int b = a < 0 ? -1 : ReadLeb128(p + a, avail - a, &packedSize);
        if (b == 0) return true;
        if (a < 0 || b < 0 || plainSize == 0 || plainSize > kMaxUnitPlain || (packedSize == 0 && !m_storedUnits) ||
            packedSize > MaxPacked()) {
            m_failed = true;
            return false;
        }
        const bool stored = packedSize == 0;
        const qsizetype header = a + b + 4;
        const qsizetype body = stored ? static_cast<qsizetype>(plainSize) : static_cast<qsizetype>(packedSize);
        if (avail < (stored ? header : header + body)) return true;
        std::uint32_t crc = 0;
        for (int i = 0; i < 4; ++i) crc |= static_cast<std::uint32_t>(p[a + b + i]) << (8 * i);
        const char* bytes = reinterpret_cast<const char*>(p + header);
        if (stored) {
            // Its bytes go on as they come (those here now, the rest with
            // the next pieces), summed on the way; they are taken back if
            // the sum does not hold.
            m_storedCrc = 0;
            m_storedExpected = crc;
            m_storedDone = 0;
            m_storedLeft = plainSize;
            const qsizetype here = std::min<qsizetype>(avail - header, plainSize);
            if (!TakeStored(bytes, here, plain)) return false;
            m_pos += header + here;
        } else {
            if (!DecodeUnit(bytes, packedSize, plainSize, crc, plain)) {
                m_failed = true;
                return false;
            }
            m_pos += header + body;
        }
        if (m_pos == m_buffer.size()) {
            // Emptied keeping its memory.
            m_buffer.resize(0);
            m_pos = 0;
        }
        if (m_storedLeft > 0) return true;
    }
}

bool CStreamUnpacker::TakeStored(const char* bytes, qsizetype size, QByteArray& plain) {
    // Copied and summed in one pass over the bytes.
    const qsizetype at = plain.size();
    plain.resize(at + size);
    m_storedCrc = Crc32Copy(plain.data() + at, bytes, static_cast<std::size_t>(size), m_storedCrc);
    m_storedDone += size;
    m_storedLeft -= size;
    if (m_storedLeft > 0) return true;
    if (m_storedCrc != m_storedExpected) {
        plain.truncate(plain.size() - m_storedDone);
        m_storedDone = 0;
        m_failed = true;
        return false;
    }
    m_storedDone = 0;
    return true;
}

bool CStreamUnpacker::DecodeUnit(const char* packed, qsizetype packedSize, qsizetype plainSize, std::uint32_t crc,
                                 QByteArray& plain) {
    const qsizetype start = plain.size();
    // One byte of room beyond the stated size: a unit that decodes to more is caught.
    plain.resize(start + plainSize + 1);
    ZSTD_inBuffer in{packed, static_cast<size_t>(packedSize), 0};
    ZSTD_outBuffer out{plain.data() + start, static_cast<size_t>(plainSize + 1), 0};
    for (;;) {
        const std::size_t inBefore = in.pos;
        const std::size_t outBefore = out.pos;
        const size_t rc = ZSTD_decompressStream(m_ctx.get(), &out, &in);
        if (ZSTD_isError(rc) || out.pos > static_cast<std::size_t>(plainSize)) break;
        if (in.pos == in.size && out.pos == static_cast<std::size_t>(plainSize)) {
            plain.resize(start + plainSize);
            if (Crc32(plain.constData() + start, static_cast<std::size_t>(plainSize)) == crc) return true;
            break;
        }
        if (in.pos == inBefore && out.pos == outBefore) break;  // no progress: the unit is short of bytes
    }
    plain.resize(start);
    return false;
}

}  // namespace Link
