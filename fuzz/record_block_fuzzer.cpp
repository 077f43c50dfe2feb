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

#include "components/parlink/protocol/RecordBlock.h"
#include "fuzz/FuzzSupport.h"

#include <QList>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));
    Link::RecordBlock block;
    if (data[0] & 1) {
        block.coding = (data[0] & 2) ? Link::BlockCoding::Windows1251 : Link::BlockCoding::Utf8;
        for (const QByteArray& r : input.split('\n')) {
            if (static_cast<int>(block.records.size()) == Link::kBlockMaxRecords) break;
            block.records.push_back(r);
        }
    } else {
        if (!Link::DecodeRecordBlock(input.constData(), input.size(), &block)) return 0;
    }
    const QByteArray bytes = Link::EncodeRecordBlock(block, 1);
    Link::RecordBlock back;
    KX_FUZZ_CHECK(Link::DecodeRecordBlock(bytes.constData(), bytes.size(), &back), HexPreview(bytes));
    KX_FUZZ_CHECK(back.coding == block.coding, HexPreview(bytes));
    KX_FUZZ_CHECK(back.records == block.records, HexPreview(input));
    return 0;
}
