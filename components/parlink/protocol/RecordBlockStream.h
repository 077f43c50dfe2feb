#pragma once
// Record blocks in a session's message stream.
//
// The program sends each record of a load as data texts of up to 200
// characters, the last one shorter. Where both ends agreed on record blocks,
// CRecordBlockWriter gathers the records that follow a record command into
// blocks and writes each block as one 'B' message instead; the terminal reads
// a 'B' as if every record in it had come as data texts. A record the block
// cannot carry as it is (a character outside the agreed code page, a record
// longer than a block) goes as data texts, after the records before it.
// CAnswerBlocks turns the terminal's 'L' messages back into answers.

#include "components/parlink/protocol/LinkMessage.h"
#include "components/parlink/protocol/RecordBlock.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>

namespace Link {

// Characters of a data text piece: a shorter piece ends its record.
inline constexpr int kRecordPiece = 200;

// The commands whose data texts are records: the directories and the info table of a load.
bool CarriesRecords(QStringView command);

class CRecordBlockWriter {
public:
    CRecordBlockWriter(TextCoding coding, int zstdLevel) : m_coding(coding), m_level(zstdLevel) {}

    // A command is about to be written: the records before it are written
    // first, and the data after it are records when it carries them.
    void Command(QStringView command, QByteArray& stream);
    // A data text: false when it is not a record piece (the caller writes it).
    bool Data(const QString& piece, QByteArray& stream);
    // Writes what is gathered: before any message other than data.
    void Flush(QByteArray& stream);
    bool Empty() const { return m_block.records.empty() && m_pieces.isEmpty(); }

private:
    void WriteBlock(QByteArray& stream);
    void WritePieces(QByteArray& stream);

    TextCoding m_coding;
    int m_level;
    bool m_records = false;       // the data now are record pieces
    bool m_piecesAsData = false;  // the rest of this record goes as data texts
    QStringList m_pieces;         // the pieces of the record not ended yet
    RecordBlock m_block;
    qsizetype m_blockBytes = 0;
    std::unique_ptr<CRecordBlockEncoder> m_encoder;  // the blocks of the present command's records
};

// A record as a reference's digest covers it (and as the program keeps its
// copy of uploaded wares): the LEB128 of its length in UTF-8, then the bytes.
void AppendReferenceRecord(QByteArray& out, QStringView record);

// The answers of an 'L' message in the order they were sent; false when the
// body is not a sound block (or names a reference `references` lacks).
bool ReadAnswerBlock(const QByteArray& body, QStringList* answers, const BlockReferences* references = nullptr);
// The same, each answer handed to `each` as its bytes: in the session's code
// page (`codePage` true) or in generalised UTF-8, as an 'A' would carry it.
bool ReadAnswerBlock(const QByteArray& body, const std::function<void(QByteArrayView bytes, bool codePage)>& each,
                     const BlockReferences* references = nullptr);

}  // namespace Link
