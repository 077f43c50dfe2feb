#include "components/parlink/protocol/LinkFrame.h"

#include "components/parlink/protocol/LinkCrc.h"

#include <algorithm>
#include <cstring>

namespace Link {
namespace {

inline void Put16(char* p, std::uint16_t v) {
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8);
}
inline void Put32(char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline std::uint16_t Get16(const char* p) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) |
                                      (static_cast<unsigned char>(p[1]) << 8));
}
inline std::uint32_t Get32(const char* p) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}

bool KnownType(char c) {
    switch (static_cast<FrameType>(static_cast<std::uint8_t>(c))) {
    case FrameType::Hello:
    case FrameType::HelloAnswer:
    case FrameType::Data:
    case FrameType::Ack:
    case FrameType::Nak:
        return true;
    }
    return false;
}

}  // namespace

void AppendFrame(QByteArray& out, FrameType type, std::uint8_t tag, std::uint16_t seq,
                 std::uint16_t ack, const char* payload, int size) {
    const qsizetype start = out.size();
    out.resize(start + kFrameOverhead + size);
    char* p = out.data() + start;
    p[0] = 'K';
    p[1] = 'X';
    p[2] = static_cast<char>(type);
    p[3] = static_cast<char>(tag);
    Put16(p + 4, seq);
    Put16(p + 6, ack);
    Put16(p + 8, static_cast<std::uint16_t>(size));
    Put16(p + 10, Crc16(p, 10));
    // The payload is copied and summed in one pass.
    const std::uint32_t header = Crc32(p, static_cast<size_t>(kFrameHeaderSize));
    const std::uint32_t crc = size > 0 ? Crc32Copy(p + kFrameHeaderSize, payload, static_cast<size_t>(size), header) : header;
    Put32(p + kFrameHeaderSize + size, crc);
}

void CFrameDecoder::Compact() {
    if (m_pos > 0 && m_pos >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
}

void CFrameDecoder::Feed(const char* data, qsizetype size) {
    Compact();
    m_buffer.append(data, size);
}

char* CFrameDecoder::Space(qsizetype size) {
    Compact();
    m_spaceFrom = m_buffer.size();
    m_buffer.resize(m_spaceFrom + size);
    return m_buffer.data() + m_spaceFrom;
}

void CFrameDecoder::Filled(qsizetype n) {
    if (m_spaceFrom < 0) return;
    m_buffer.resize(m_spaceFrom + std::clamp<qsizetype>(n, 0, m_buffer.size() - m_spaceFrom));
    m_spaceFrom = -1;
}

void CFrameDecoder::Clear() {
    m_buffer.clear();
    m_pos = 0;
    m_spaceFrom = -1;
}

CFrameDecoder::Result CFrameDecoder::Next(Frame* frame, bool view) {
    for (;;) {
        const qsizetype avail = m_buffer.size() - m_pos;
        if (avail < kFrameHeaderSize) {
            // Keep a possible start of a magic; drop what cannot begin a frame.
            const char* p = m_buffer.constData() + m_pos;
            qsizetype keep = 0;
            for (qsizetype i = 0; i < avail; ++i)
                if (p[i] == 'K') { keep = avail - i; break; }
            m_skipped += static_cast<std::uint64_t>(avail - keep);
            m_pos += avail - keep;
            return Result::NeedMore;
        }
        const char* p = m_buffer.constData() + m_pos;
        if (p[0] != 'K' || p[1] != 'X' || !KnownType(p[2]) || Get16(p + 10) != Crc16(p, 10) ||
            Get16(p + 8) > kMaxFramePayload) {
            // Resynchronise at the next possible magic.
            const void* next = std::memchr(p + 1, 'K', static_cast<size_t>(avail - 1));
            const qsizetype step = next ? static_cast<const char*>(next) - p : avail;
            m_skipped += static_cast<std::uint64_t>(step);
            m_pos += step;
            continue;
        }
        const int size = Get16(p + 8);
        if (avail < kFrameOverhead + size) return Result::NeedMore;
        frame->type = static_cast<FrameType>(static_cast<std::uint8_t>(p[2]));
        frame->tag = static_cast<std::uint8_t>(p[3]);
        frame->seq = Get16(p + 4);
        frame->ack = Get16(p + 6);
        const bool sound = Get32(p + kFrameHeaderSize + size) ==
                           Crc32(p, static_cast<size_t>(kFrameHeaderSize + size));
        if (!sound)
            frame->payload.clear();
        else if (view)
            frame->payload = QByteArray::fromRawData(p + kFrameHeaderSize, size);
        else
            frame->payload = QByteArray(p + kFrameHeaderSize, size);
        m_pos += kFrameOverhead + size;
        if (m_pos == m_buffer.size()) {
            // Emptied, not freed: a payload just given as a view points here.
            m_buffer.resize(0);
            m_pos = 0;
        }
        if (!sound) {
            ++m_damaged;
            return Result::Damaged;
        }
        return Result::Frame;
    }
}

}  // namespace Link
