#pragma once
// The wares directory the emulated terminal keeps, as a reference for record
// blocks: its digest (the one the program names its copies by), its rows,
// and an index of its barcodes, which a terminal needs anyway to look up
// what it scans. Read once per version of the file.

#include "components/parlink/protocol/RecordBlock.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
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
    // it. 16 bytes a row, as a view of the row alone took.
    struct Row {
        Span bytes;
        Span barcode;
    };

    std::string_view ViewOf(Span s) const { return {m_bytes.constData() + s.at, s.size}; }
    void IndexBarcodes();

    QByteArray m_bytes;
    std::vector<Row> m_rows;
    // Open addressing over the barcodes: each slot the barcode's hash (high
    // half) and its row + 1 (low half), 0 empty. A lookup reads a slot, the
    // row's barcode place and the barcode; Prefetch starts each of them ahead.
    std::vector<std::uint64_t> m_slots;
    std::uint64_t m_mask = 0;
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
