#pragma once
// Record blocks: many records of one kind sent as column streams.
//
// A record (a directory line, a journal line, an info record) is split at ';'
// into fields; field j of every record forms column j. Each column is
// written with the transform that suits what it holds (numbers as binary
// values with their digit count, barcode check digits left out, dates as
// differences, words of texts as ids of a dictionary the block carries) and
// each of its streams is then compressed on its own. A field that does not
// suit its column's transform is carried as text, so every record comes back
// byte for byte whatever it holds. The layout is in docs/link-protocol.md,
// "Record blocks".
//
// Encoding is deterministic for a given zstd level; decoding needs no
// knowledge of the records' kind: a block says how each column is written.

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <vector>

namespace Link {

// A block holds at most this many records and this many record bytes; a
// decoder's memory stays within a few times the second figure.
inline constexpr int kBlockMaxRecords = 4096;
inline constexpr qsizetype kBlockMaxRecordBytes = qsizetype(1) << 20;
// Fields a record is split into at most: the last one keeps the rest of the
// record, ';' included.
inline constexpr int kBlockMaxColumns = 64;
// Streams shorter than this are stored as they are (zstd's frame would cost
// more than it saves, and the bytes stay independent of the zstd version).
inline constexpr int kBlockPackFrom = 64;

enum class BlockCoding : std::uint8_t {
    Utf8 = 0,         // the records' texts in generalised UTF-8
    Windows1251 = 1,  // one byte a character, in the session's code page
};

struct RecordBlock {
    BlockCoding coding = BlockCoding::Utf8;
    std::vector<QByteArray> records;
};

// The block's bytes; `zstdLevel` only changes how hard streams are packed.
// Needs 1..kBlockMaxRecords records of kBlockMaxRecordBytes at most together.
QByteArray EncodeRecordBlock(const RecordBlock& block, int zstdLevel);
// The same for records the caller keeps elsewhere (no copy of them is made).
QByteArray EncodeRecordViews(BlockCoding coding, const std::vector<QByteArrayView>& records, int zstdLevel);
// False for bytes that are not a sound block (nothing is trusted: sizes,
// ids, values and digit counts are checked against the block's bounds).
bool DecodeRecordBlock(const char* data, qsizetype size, RecordBlock* block);

// A decoded block laid out as a file keeps it: every record followed by the
// terminator; record i ends at ends[i] (its terminator not counted).
struct RecordLines {
    BlockCoding coding = BlockCoding::Utf8;
    QByteArray bytes;
    std::vector<qsizetype> ends;
};
bool DecodeRecordLines(const char* data, qsizetype size, QByteArrayView terminator, RecordLines* lines);

}  // namespace Link
