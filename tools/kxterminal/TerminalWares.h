#pragma once
// The wares directory the emulated terminal keeps, as a reference for record
// blocks: its digest (the one the program names its copies by), its rows,
// and an index of its barcodes, which a terminal needs anyway to look up
// what it scans. Read once per version of the file.

#include "components/parlink/protocol/RecordBlock.h"
#include "platform/FileBlock.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

class CTerminalWares final : public Link::CBlockReference {
public:
    // The field of a wares record that holds its barcode.
    static constexpr int kBarcodeField = 2;

    // The directory in `path` (Windows-1251, one record a line); nullptr
    // when there is none.
    static std::shared_ptr<const CTerminalWares> Read(const QString& path);

    QByteArray Digest() const override { return m_digest; }
    std::uint32_t RowCount() const override { return static_cast<std::uint32_t>(m_rows.size()); }
    bool AppendField(std::uint32_t row, int field, Link::BlockCoding coding, QByteArray& out) const override;
    bool FieldEquals(std::uint32_t row, int field, Link::BlockCoding coding, QByteArrayView value) const override;
    std::vector<int> KeyFields() const override { return {kBarcodeField}; }
    std::int64_t Find(int field, QByteArrayView value) const override;
    // Find compares the barcode's own bytes (or its digits and length).
    bool FindIsExact(Link::BlockCoding coding) const override { return coding == Link::BlockCoding::Windows1251; }
    void FindMany(int field, const std::string_view* values, size_t count, std::int64_t* rows) const override;
    void FieldsEqual(int field, Link::BlockCoding coding, const std::int64_t* rows, const std::string_view* values,
                     size_t count, char* equal) const override;
    void Prefetch(int field, QByteArrayView value, int stage) const override;
    void PrefetchRow(std::uint32_t row, int stage) const override;

private:
    // Bytes of m_bytes.
    struct Span {
        std::uint32_t at = kNone;
        std::uint32_t size = 0;
    };
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;  // a row without a barcode field
    // A row's bytes and its barcode field's, found once: a lookup compares
    // the barcode's own bytes instead of stepping through the fields before
    // it. Its first field (the ware's code, which a journal line names
    // beside the barcode) is kept here too when it is short: comparing it
    // then waits on the row alone and not on the file's bytes as well.
    // 32 bytes a row, half a cache line.
    struct Row {
        Span bytes;
        Span barcode;
        // first[0]: the first field's length (≤ kFirstInline), its bytes
        // after it; kFirstElsewhere: only in the file.
        unsigned char first[16] = {kFirstElsewhere};
    };
    static constexpr unsigned char kFirstInline = 15;
    static constexpr unsigned char kFirstElsewhere = 0xFF;
    // Whether the first field kept beside `row` (not kFirstElsewhere) is exactly `wanted`.
    static bool FirstFieldIs(const Row& row, std::string_view wanted) {
        return wanted.size() == row.first[0] && std::memcmp(wanted.data(), row.first + 1, wanted.size()) == 0;
    }

    std::string_view ViewOf(Span s) const { return {m_bytes.Data() + s.at, s.size}; }
    // The row of `wanted` whose key is `key` (KeyOf), -1 none.
    std::int64_t Probe(std::uint64_t key, std::string_view wanted) const;
    bool IndexBarcodes();

    // The file, its rows and the index below are looked up at random, and
    // kept where the system gives large pages: a journal block's lookups
    // then wait on the memory alone and not on the page tables too.
    CFileBlock m_bytes;
    CBlockArray<Row> m_rows;
    // Open addressing over the barcodes. A barcode of up to 16 digits (EAN,
    // UPC, ITF-14) is its own key, its digits as a number with its length,
    // so a lookup of one reads a single slot and nothing else; any other
    // barcode's key is a hash with the top bit set, and a lookup compares
    // the row's barcode bytes too. 16 bytes a slot, twice as many slots as
    // rows or more.
    struct Slot {
        std::uint64_t key = 0;
        std::uint32_t row = 0;  // row + 1; 0: empty
        std::uint32_t unused = 0;
    };
    CBlockArray<Slot> m_slots;
    std::uint64_t m_mask = 0;
    bool m_anyHashed = false;  // a barcode other than up to 16 digits is indexed
    QByteArray m_digest;
};

// The directory as last read, read again only when the file changed.
class CTerminalWaresCache {
public:
    std::shared_ptr<const CTerminalWares> Get(const QString& path);

private:
    QString m_path;
    qint64 m_size = -1, m_modified = -1, m_inode = -1;
    std::shared_ptr<const CTerminalWares> m_wares;
};
