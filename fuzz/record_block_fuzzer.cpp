// Record blocks, on either end.
//
// Built input (first byte odd): the rest, cut at '\n' into records (at most a
// block's worth), is encoded and decoded: every record must come back byte for
// byte, whatever it holds.
//
// Raw input: any bytes as a block. They decode to a refusal, or to records
// that encode and decode to the same records again (a block is one of many
// encodings of its records: the sender's level and choices vary, the records
// may not).
//
// Both ways hold a small wares directory as the reference both ends share,
// so fields found in it go as rows (and raw blocks may name its rows).
//
// A stream (first byte F0-FF): the rest as one stream of a block, written as
// a literals-only zstd frame where that can be done; zstd itself must read
// the frame back to the same bytes.

#include "components/parlink/protocol/LiteralFrame.h"
#include "components/parlink/protocol/RecordBlock.h"
#include "components/parlink/protocol/RecordBlockStream.h"
#include "fuzz/FuzzSupport.h"

#include <QCryptographicHash>
#include <QList>

#include <zstd.h>

#include <cstring>
#include <string>

namespace {

class CFuzzWares final : public Link::CBlockReference {
public:
    CFuzzWares() {
        for (int i = 0; i < 300; ++i)
            m_rows.push_back("T" + QByteArray::number(i) + ";Ware " + QByteArray::number(i % 7) + ";46" +
                             QByteArray::number(10000000000LL + i * 7919LL) + (i % 5 ? "" : ";0"));
        QByteArray form;
        for (const QByteArray& r : m_rows) Link::AppendReferenceRecord(form, QString::fromLatin1(r));
        m_digest = QCryptographicHash::hash(form, QCryptographicHash::Sha256);
    }
    QByteArray Digest() const override { return m_digest; }
    std::uint32_t RowCount() const override { return static_cast<std::uint32_t>(m_rows.size()); }
    bool AppendField(std::uint32_t row, int field, Link::BlockCoding, QByteArray& out) const override {
        if (row >= m_rows.size()) return false;
        const QList<QByteArray> fields = m_rows[row].split(';');
        if (field < 0 || field >= fields.size()) return false;
        out.append(fields[field]);
        return true;
    }
    std::vector<int> KeyFields() const override { return {2}; }
    std::int64_t Find(int field, QByteArrayView value) const override {
        for (size_t r = 0; r < m_rows.size(); ++r) {
            QByteArray f;
            if (AppendField(static_cast<std::uint32_t>(r), field, Link::BlockCoding::Utf8, f) && f == value)
                return static_cast<std::int64_t>(r);
        }
        return -1;
    }

private:
    std::vector<QByteArray> m_rows;
    QByteArray m_digest;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const CFuzzWares wares;
    static const Link::BlockReferences references = [](QByteArrayView digest) -> const Link::CBlockReference* {
        return digest == wares.Digest() ? &wares : nullptr;
    };
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));
    if ((data[0] & 0xF0) == 0xF0) {
        const auto* bytes = data + 1;
        std::string frame;
        if (!Link::AppendLiteralFrame(bytes, size - 1, Link::CountBytes(bytes, size - 1), frame)) return 0;
        KX_FUZZ_CHECK(frame.size() < size - 1, HexPreview(input));
        std::string back(size - 1 + 16, '\0');
        const size_t n = ZSTD_decompress(back.data(), back.size(), frame.data(), frame.size());
        KX_FUZZ_CHECK(!ZSTD_isError(n) && n == size - 1 && std::memcmp(back.data(), bytes, n) == 0, HexPreview(input));
        return 0;
    }
    Link::RecordBlock block;
    if (data[0] & 1) {
        block.coding = (data[0] & 2) ? Link::BlockCoding::Windows1251 : Link::BlockCoding::Utf8;
        for (const QByteArray& r : input.split('\n')) {
            if (static_cast<int>(block.records.size()) == Link::kBlockMaxRecords) break;
            block.records.push_back(r);
        }
    } else {
        if (!Link::DecodeRecordBlock(input.constData(), input.size(), &block, &references)) return 0;
    }
    const QByteArray bytes = Link::EncodeRecordBlock(block, 1, (data[0] & 4) ? &wares : nullptr);
    Link::RecordBlock back;
    KX_FUZZ_CHECK(Link::DecodeRecordBlock(bytes.constData(), bytes.size(), &back, &references), HexPreview(bytes));
    KX_FUZZ_CHECK(back.coding == block.coding, HexPreview(bytes));
    KX_FUZZ_CHECK(back.records == block.records, HexPreview(input));
    if (data[0] & 8) {
        // An encoder of a run: the first half of the records sets its
        // columns' ways, which the whole, whatever it holds, then meets.
        Link::CRecordBlockEncoder run(1);
        const Link::CBlockReference* reference = (data[0] & 4) ? &wares : nullptr;
        const std::vector<QByteArrayView> all(block.records.begin(), block.records.end());
        const std::vector<QByteArrayView> half(all.begin(), all.begin() + static_cast<qsizetype>(all.size() / 2));
        for (const auto* records : {&half, &all}) {
            if (records->empty()) continue;
            const QByteArray inRun = run.Encode(block.coding, *records, reference);
            Link::RecordBlock again;
            KX_FUZZ_CHECK(Link::DecodeRecordBlock(inRun.constData(), inRun.size(), &again, &references), HexPreview(inRun));
            KX_FUZZ_CHECK(again.records.size() == records->size(), HexPreview(input));
            for (size_t i = 0; i < records->size(); ++i)
                KX_FUZZ_CHECK(QByteArrayView(again.records[i]) == (*records)[i], HexPreview(input));
        }
    }
    return 0;
}
