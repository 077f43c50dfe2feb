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
// Encoding is deterministic for a given zstd level and the blocks encoded
// before it by the same encoder; decoding needs no knowledge of the records'
// kind: a block says how each column is written.

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
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

// A directory both ends hold, named by its digest: a block may write a
// field as the number of one of its rows (a scanned barcode as the row of
// the wares the terminal received), and another field of the same record
// as "that row's field g" (the ware's code beside its barcode).
class CBlockReference {
public:
    virtual ~CBlockReference() = default;
    // SHA-256 of its records (kReferenceDigestBytes bytes).
    virtual QByteArray Digest() const = 0;
    virtual std::uint32_t RowCount() const = 0;
    // Appends field `field` of row `row` (split at ';' as a record is) in
    // `coding`; false when the row has no such field or it cannot be written so.
    virtual bool AppendField(std::uint32_t row, int field, BlockCoding coding, QByteArray& out) const = 0;
    // The reader's side of many rows: field `field` of rows[0 … count) in
    // `coding`, appended to `out` one after another, ends[i] where the i-th
    // ends in `out`; false when a row has no such field or it cannot be
    // written so, or once `out` holds more than `limit` bytes. The default
    // takes each from AppendField, asking for the rows ahead (rows are read
    // at random).
    virtual bool AppendFields(const std::uint32_t* rows, size_t count, int field, BlockCoding coding, size_t limit,
                              std::string& out, std::vector<size_t>& ends) const;
    // Whether field `field` of row `row` in `coding` is exactly `value`;
    // a reference that can compare without copying says so faster.
    virtual bool FieldEquals(std::uint32_t row, int field, BlockCoding coding, QByteArrayView value) const {
        QByteArray bytes;
        return AppendField(row, field, coding, bytes) && QByteArrayView(bytes) == value;
    }
    // The encoder's side: the fields a value may be looked up in, and the
    // first row whose field holds exactly `value` (in the block's coding), -1 none.
    virtual std::vector<int> KeyFields() const { return {}; }
    virtual std::int64_t Find(int field, QByteArrayView value) const {
        (void)field;
        (void)value;
        return -1;
    }
    // FieldEquals for `count` rows at once: equal[i] is 1 when field `field`
    // of row rows[i] is exactly values[i], else 0 (as for a row below 0 or
    // past the last). The default asks for each row ahead of comparing it.
    virtual void FieldsEqual(int field, BlockCoding coding, const std::int64_t* rows, const std::string_view* values,
                             size_t count, char* equal) const;
    // Whether Find's row always holds `value` byte for byte as AppendField
    // writes it in `coding`: the encoder then takes Find's word for it
    // instead of comparing the field again (another wait on memory).
    virtual bool FindIsExact(BlockCoding coding) const {
        (void)coding;
        return false;
    }
    // Find for `count` values at once into `rows`. The default looks each
    // up in turn with Prefetch's hints ahead of it; a reference that can
    // overlap its lookups better says so here. Each row found is also
    // brought in, as its other fields are compared next.
    virtual void FindMany(int field, const std::string_view* values, size_t count, std::int64_t* rows) const;
    // A hint that `value` is looked up in `field` soon: a reference whose
    // lookups wait on memory starts bringing in what stage `stage` (0, 1,
    // 2: each one step further along the lookup, the earlier stages having
    // been asked for a while before) needs, so a column's lookups overlap.
    virtual void Prefetch(int field, QByteArrayView value, int stage) const {
        (void)field;
        (void)value;
        (void)stage;
    }
    // The same kind of hint for a pass that knows its rows: row `row`'s
    // fields are compared soon (stage 0 asked for first, then 1).
    virtual void PrefetchRow(std::uint32_t row, int stage) const {
        (void)row;
        (void)stage;
    }
};
inline constexpr int kReferenceDigestBytes = 32;
// The reference a decoder may resolve a digest to; nullptr: not held.
using BlockReferences = std::function<const CBlockReference*(QByteArrayView digest)>;

// The block's bytes; `zstdLevel` only changes how hard streams are packed.
// Needs 1..kBlockMaxRecords records of kBlockMaxRecordBytes at most together.
// With `reference`, fields found in it may be written as its rows.
QByteArray EncodeRecordBlock(const RecordBlock& block, int zstdLevel, const CBlockReference* reference = nullptr);
// The same for records the caller keeps elsewhere (no copy of them is made).
QByteArray EncodeRecordViews(BlockCoding coding, const std::vector<QByteArrayView>& records, int zstdLevel,
                             const CBlockReference* reference = nullptr);
// Encodes the blocks of one run of records of a kind (a load, a journal). It
// remembers how each column was written and tries that way first in the next
// block: one pass over a column instead of a trial of every transform, which
// is what keeps the terminal's side cheap. A column whose fields no longer
// fit that way is chosen afresh, so any records still encode exactly.
class CRecordBlockEncoder {
public:
    explicit CRecordBlockEncoder(int zstdLevel);
    ~CRecordBlockEncoder();
    CRecordBlockEncoder(const CRecordBlockEncoder&) = delete;
    CRecordBlockEncoder& operator=(const CRecordBlockEncoder&) = delete;
    QByteArray Encode(BlockCoding coding, const std::vector<QByteArrayView>& records,
                      const CBlockReference* reference = nullptr);

private:
    struct Plans;
    int m_level;
    std::unique_ptr<Plans> m_plans;
};

// False for bytes that are not a sound block (nothing is trusted: sizes,
// ids, values and digit counts are checked against the block's bounds), and
// for a block that names a reference `references` does not resolve.
bool DecodeRecordBlock(const char* data, qsizetype size, RecordBlock* block,
                       const BlockReferences* references = nullptr);

// A decoded block laid out as a file keeps it: every record followed by the
// terminator; record i ends at ends[i] (its terminator not counted).
struct RecordLines {
    BlockCoding coding = BlockCoding::Utf8;
    QByteArray bytes;
    std::vector<qsizetype> ends;
};
bool DecodeRecordLines(const char* data, qsizetype size, QByteArrayView terminator, RecordLines* lines,
                       const BlockReferences* references = nullptr);

}  // namespace Link
