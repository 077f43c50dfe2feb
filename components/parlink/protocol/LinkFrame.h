#pragma once
// One frame on the wire (all numbers little-endian):
//
//   offset size  field
//   0      2     magic "KX" (0x4B 0x58)
//   2      1     type: 'H' hello, 'h' hello answer, 'D' data, 'A' ack, 'N' nak
//   3      1     session tag (low byte of the session nonce, never 0)
//   4      2     sequence number of a data frame (0 for the other types)
//   6      2     acknowledgement: the next data sequence number expected from the peer
//   8      2     payload length N (0..kMaxFramePayload)
//   10     2     CRC-16/CCITT-FALSE of bytes 0..9
//   12     N     payload
//   12+N   4     CRC-32 of bytes 0..11+N
//
// The decoder finds frames in any byte stream: it skips bytes until a header
// whose check sum holds, so line noise, a half frame left from an earlier
// session or a damaged frame costs only that frame.

#include <QByteArray>

#include <cstdint>

namespace Link {

inline constexpr int kFrameHeaderSize = 12;
inline constexpr int kFrameTrailerSize = 4;
inline constexpr int kFrameOverhead = kFrameHeaderSize + kFrameTrailerSize;
inline constexpr int kMaxFramePayload = 4096;

enum class FrameType : std::uint8_t {
    Hello = 'H',
    HelloAnswer = 'h',
    Data = 'D',
    Ack = 'A',
    Nak = 'N',
};

struct Frame {
    FrameType type = FrameType::Ack;
    std::uint8_t tag = 0;
    std::uint16_t seq = 0;
    std::uint16_t ack = 0;
    QByteArray payload;
};

// Appends the encoded frame to `out`.
void AppendFrame(QByteArray& out, FrameType type, std::uint8_t tag, std::uint16_t seq,
                 std::uint16_t ack, const char* payload, int size);
inline void AppendFrame(QByteArray& out, const Frame& f) {
    AppendFrame(out, f.type, f.tag, f.seq, f.ack, f.payload.constData(),
                static_cast<int>(f.payload.size()));
}

class CFrameDecoder {
public:
    enum class Result {
        NeedMore,  // no complete frame in the buffer yet
        Frame,     // a sound frame
        Damaged,   // the header held but the frame's check sum did not: header fields are valid
    };

    void Feed(const char* data, qsizetype size);
    // Room for up to `size` bytes read straight into the buffer, behind what
    // is left of an unfinished frame; Filled(n) then takes n of them. The
    // pointer is good until the next call on the decoder.
    char* Space(qsizetype size);
    void Filled(qsizetype n);
    // Takes the next frame out of the buffer. With `view`, the payload points
    // into the decoder's buffer (no copy) and is good only until the next
    // Feed, Space or Clear: for a caller that is done with each frame first.
    Result Next(Frame* frame, bool view = false);
    void Clear();

    std::uint64_t SkippedBytes() const { return m_skipped; }
    std::uint64_t DamagedFrames() const { return m_damaged; }

private:
    // Drops what was read, keeping the buffer's memory.
    void Compact();

    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_spaceFrom = -1;  // Space() given out from here, until Filled()
    std::uint64_t m_skipped = 0;
    std::uint64_t m_damaged = 0;
};

}  // namespace Link
