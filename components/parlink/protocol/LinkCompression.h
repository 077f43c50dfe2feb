#pragma once
// The compressed stream of one direction of a version-2 session. The sender's
// message stream goes through one zstd compressor for the whole session, cut
// into sealed units:
//
//   unit := plain size P (LEB128, 1..65536) | packed size C (LEB128)
//           | CRC-32 of the P plain bytes (4, little-endian) | C packed bytes
//
// The compressor is flushed at the end of every unit, so a unit's packed
// bytes decode to all of its plain bytes without waiting for more; it is never
// reset inside a session, so later units refer back to earlier ones (that is
// where the ratio on repetitive records comes from). The receiver hands on a
// unit's plain bytes only after their CRC holds: a stream that decodes to
// anything but what was sent stops before a wrong byte reaches a message.
//
// Where both ends agreed on stored units, a unit may also be stored: packed
// size 0, then its P plain bytes as they are. A stored unit never goes through
// either end's zstd stream, so the compressed units around it refer back only
// to what went through the stream on both ends alike.
//
// Units are made before the send window, so a repeated frame carries the same
// bytes; a unit may span frames and a frame may hold many units.

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

namespace Link {

inline constexpr int kMaxUnitPlain = 65536;
// Plain bytes the sender puts into a unit when it has plenty to send: large
// enough for a good ratio, small enough that the receiver gets on with it.
inline constexpr int kUnitPlain = 16384;
// The compressor's window: 128 KiB, which also bounds the receiver's memory.
inline constexpr int kZstdWindowLog = 17;
// The sender's level where nothing says the line is slow (a socket, a fast
// serial line), and the one terminals always use: cheap on their CPU.
inline constexpr int kZstdLevel = 1;
// On a serial line of kSlowLineBaud or slower the line, not the PC, is the
// limit: the program compresses harder there, which costs it CPU it has to
// spare and the terminal nothing (decoding speed hardly depends on the level,
// and the window, hence the decoder's memory, stays kZstdWindowLog).
inline constexpr int kSlowLineBaud = 921600;
inline constexpr int kZstdSlowLineLevel = 19;

// The program's level for a serial line of `baudRate`; 0: no line speed
// (a socket), kZstdLevel.
int ZstdLevelForLine(int baudRate);

class CStreamPacker {
public:
    explicit CStreamPacker(int level = kZstdLevel);
    ~CStreamPacker();
    CStreamPacker(const CStreamPacker&) = delete;
    CStreamPacker& operator=(const CStreamPacker&) = delete;

    // Appends one unit holding `size` (1..kMaxUnitPlain) plain bytes to `out`.
    // False only when the compressor fails (out of memory).
    bool Seal(const char* plain, qsizetype size, QByteArray& out);
    // Appends one stored unit of `size` (1..kMaxUnitPlain) plain bytes; only
    // where stored units were agreed.
    static void Store(const char* plain, qsizetype size, QByteArray& out);
    // Bytes the compressor holds (its tables and buffers); one a session.
    std::size_t MemoryBytes() const;

private:
    struct Free {
        void operator()(ZSTD_CCtx_s* c) const;
    };
    std::unique_ptr<ZSTD_CCtx_s, Free> m_ctx;
    QByteArray m_scratch;
};

class CStreamUnpacker {
public:
    CStreamUnpacker();
    ~CStreamUnpacker();
    CStreamUnpacker(const CStreamUnpacker&) = delete;
    CStreamUnpacker& operator=(const CStreamUnpacker&) = delete;

    // Takes the next bytes of the stream in any pieces; appends the plain
    // bytes of every unit completed and checked to `plain`. A stored unit's
    // bytes are appended as they come (no copy into a buffer of its own):
    // the last Unchecked() bytes of `plain` wait for their unit's check, and
    // are removed from it again if the check fails. False, for good, once
    // the stream is found corrupt (bad header, undecodable bytes, a size or
    // CRC that does not match). Every call must get the same `plain`, its
    // unchecked end as this left it.
    bool Feed(const char* data, qsizetype size, QByteArray& plain);
    // Bytes at the end of `plain` from a stored unit not yet complete.
    qsizetype Unchecked() const { return m_storedLeft > 0 ? m_storedDone : 0; }
    // Stored units were agreed: a unit of packed size 0 is taken as stored.
    // Otherwise such a unit is a corrupt stream, as always.
    void AllowStoredUnits(bool allow) { m_storedUnits = allow; }
    bool Failed() const { return m_failed; }
    // Bytes received that do not yet make a whole unit.
    qsizetype Buffered() const { return m_buffer.size() - m_pos + Unchecked(); }

private:
    bool DecodeUnit(const char* packed, qsizetype packedSize, qsizetype plainSize, std::uint32_t crc,
                    QByteArray& plain);
    // The next `size` bytes of the stored unit under way; its check once complete.
    bool TakeStored(const char* bytes, qsizetype size, QByteArray& plain);

    struct Free {
        void operator()(ZSTD_DCtx_s* d) const;
    };
    std::unique_ptr<ZSTD_DCtx_s, Free> m_ctx;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_failed = false;
    bool m_storedUnits = false;
    // The stored unit under way: its bytes still to come, those taken, their
    // running sum, and the sum its header gave.
    qsizetype m_storedLeft = 0;
    qsizetype m_storedDone = 0;
    std::uint32_t m_storedCrc = 0;
    std::uint32_t m_storedExpected = 0;
};

}  // namespace Link
