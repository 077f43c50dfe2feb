#include "components/parlink/protocol/RecordBlockStream.h"

#include "components/parlink/protocol/LinkLeb128.h"

#include "platform/CodePage.h"

namespace Link {

bool CarriesRecords(QStringView command) {
    static const char* const kCommands[] = {"111", "121", "131", "141", "151", "161", "171", "1F1"};
    for (const char* c : kCommands)
        if (command == QLatin1String(c)) return true;
    return false;
}

void CRecordBlockWriter::Command(QStringView command, QByteArray& stream) {
    Flush(stream);
    m_piecesAsData = false;
    m_records = CarriesRecords(command);
    // Each directory's records are of their own kind: their columns are chosen afresh.
    if (m_records) m_encoder = std::make_unique<CRecordBlockEncoder>(m_level);
}

bool CRecordBlockWriter::Data(const QString& piece, QByteArray& stream) {
    if (!m_records) return false;
    if (m_piecesAsData) {
        AppendTextMessage(stream, MessageType::Data, piece, m_coding);
        if (piece.size() < kRecordPiece) m_piecesAsData = false;
        return true;
    }
    m_pieces.append(piece);
    if (piece.size() >= kRecordPiece) {
        // A record longer than a block goes as data texts as it comes.
        qsizetype chars = 0;
        for (const QString& p : m_pieces) chars += p.size();
        if (chars * 3 > kBlockMaxRecordBytes) {
            WriteBlock(stream);
            WritePieces(stream);
            m_piecesAsData = true;
        }
        return true;
    }
    const QString record = m_pieces.join(QString());
    if (m_block.records.empty())
        m_block.coding = m_coding == TextCoding::Windows1251 ? BlockCoding::Windows1251 : BlockCoding::Utf8;
    QByteArray bytes;
    const bool fits = m_block.coding == BlockCoding::Windows1251 ? AppendIfWindows1251(record, bytes)
                                                                  : (AppendText(bytes, record), true);
    if (!fits || bytes.size() > kBlockMaxRecordBytes) {
        WriteBlock(stream);
        WritePieces(stream);
        return true;
    }
    if (m_blockBytes + bytes.size() > kBlockMaxRecordBytes) WriteBlock(stream);
    m_blockBytes += bytes.size();
    m_block.records.push_back(std::move(bytes));
    m_pieces.clear();
    if (static_cast<int>(m_block.records.size()) == kBlockMaxRecords) WriteBlock(stream);
    return true;
}

void CRecordBlockWriter::Flush(QByteArray& stream) {
    WriteBlock(stream);
    if (!m_pieces.isEmpty()) {
        // A record not ended yet: its pieces so far, and the rest of it, go
        // as data texts.
        WritePieces(stream);
        m_piecesAsData = true;
    }
}

void CRecordBlockWriter::WriteBlock(QByteArray& stream) {
    if (m_block.records.empty()) return;
    if (!m_encoder) m_encoder = std::make_unique<CRecordBlockEncoder>(m_level);
    std::vector<QByteArrayView> records(m_block.records.begin(), m_block.records.end());
    AppendBlockMessage(stream, MessageType::RecordBlock, m_encoder->Encode(m_block.coding, records));
    m_block.records.clear();
    m_blockBytes = 0;
}

void CRecordBlockWriter::WritePieces(QByteArray& stream) {
    for (const QString& p : m_pieces) AppendTextMessage(stream, MessageType::Data, p, m_coding);
    m_pieces.clear();
}

void AppendReferenceRecord(QByteArray& out, QStringView record) {
    QByteArray bytes;
    AppendText(bytes, record);
    AppendLeb128(out, static_cast<std::uint32_t>(bytes.size()));
    out.append(bytes);
}

bool ReadAnswerBlock(const QByteArray& body, QStringList* answers, const BlockReferences* references) {
    return ReadAnswerBlock(
        body,
        [&](QByteArrayView r, bool codePage) {
            answers->append(codePage ? CodePage::FromWindows1251(r.data(), r.size()) : DecodeText(r.data(), r.size()));
        },
        references);
}

bool ReadAnswerBlock(const QByteArray& body, const std::function<void(QByteArrayView bytes, bool codePage)>& each,
                     const BlockReferences* references) {
    RecordBlock block;
    if (!DecodeRecordBlock(body.constData(), body.size(), &block, references)) return false;
    for (const QByteArray& r : block.records) each(r, block.coding == BlockCoding::Windows1251);
    return true;
}

}  // namespace Link
