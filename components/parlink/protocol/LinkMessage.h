#pragma once
// The messages carried by the reliable byte stream of a session. Each message:
//
//   type (1 byte) | body length (unsigned LEB128) | body
//
// Text bodies are the UTF-16 text in generalised UTF-8: every code unit
// sequence, lone surrogates included, turns into bytes and back unchanged, so
// any text the program sends or receives (';', CR, LF, U+0004, Cyrillic, the
// empty text) arrives exactly. Where both ends agreed on a single-byte code
// page (version 2), a text every character of which that page holds goes in
// it instead, with bit 7 of the type set ('D' | 0x80); the choice is made per
// message, so a text the page cannot hold still arrives exactly.
// Id bodies are 4 bytes, little-endian.
// A message may span frames; a frame may hold many messages.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace Link {

enum class MessageType : std::uint8_t {
    // program -> terminal
    Command = 'C',  // text: a command code ("998", "111", "--s", ...)
    Data = 'D',     // text: data of the preceding command
    EndData = 'E',  // empty: closes a block of records
    Ping = 'P',     // id: asks for a Pong once everything before it is handled
    Poll = 'Q',     // id: asks for a PollReply once every answer due so far is sent
    Bye = 'X',      // empty: the program ends the session
    RecordBlock = 'B',  // block: records of the preceding command (only where record blocks were agreed)
    // terminal -> program
    Answer = 'A',     // text: one answer
    Pong = 'G',       // id
    PollReply = 'R',  // id: no answer was pending when the Poll was handled
    AnswerBlock = 'L',  // block: answers, each as an 'A' would carry it (only where agreed)
};

// Bit 7 of a text message's type: the body is in the session's code page.
inline constexpr std::uint8_t kCodePageTypeFlag = 0x80;

// How texts may be written in a session.
enum class TextCoding : std::uint8_t {
    Utf8,         // always
    Windows1251,  // for each text that fits, UTF-8 for the others
};

struct Message {
    MessageType type = MessageType::Answer;
    QString text;
    std::uint32_t id = 0;
    QByteArray body;  // a block message's body (RecordBlock.h)
    // A text that came in the session's code page, from a parser told to
    // keep such texts as they are: its bytes are in `body`, `text` is empty.
    bool inCodePage = false;
    // A text in generalised UTF-8 handed over as its bytes (in `body`, from a
    // parser told to give texts as bytes); `text` is empty.
    bool utf8InBody = false;
};

// The text of a text message, whichever way it came.
QString MessageText(const Message& message);

bool IsTextMessage(MessageType type);
bool IsIdMessage(MessageType type);

// Generalised UTF-8 of UTF-16 text.
void AppendText(QByteArray& out, QStringView text);
QString DecodeText(const char* data, qsizetype size);

// Appends `text` in Windows-1251 when every character of it is one of the
// page's; false (and nothing appended) otherwise.
bool AppendIfWindows1251(QStringView text, QByteArray& out);
void AppendTextMessage(QByteArray& stream, MessageType type, QStringView text,
                       TextCoding coding = TextCoding::Utf8);
// A text already in Windows-1251 (every byte is a character of the page), as
// the terminal keeps its files; only for a session that agreed on the page.
void AppendWindows1251Message(QByteArray& stream, MessageType type, const char* bytes, qsizetype size);
// The same for texts in a row, while `stream` is shorter than `budget`
// before each (at least one when it is and `count` > 0), with one resize for
// them all; the number of texts appended.
qsizetype AppendWindows1251Messages(QByteArray& stream, MessageType type, const QByteArrayView* texts, qsizetype count,
                                    qsizetype budget);
void AppendIdMessage(QByteArray& stream, MessageType type, std::uint32_t id);
void AppendEmptyMessage(QByteArray& stream, MessageType type);
void AppendBlockMessage(QByteArray& stream, MessageType type, const QByteArray& body);

// Cuts messages out of the received stream.
class CMessageParser {
public:
    // The code page agreed for the session; without one, code-page texts are
    // an unknown kind (skipped).
    void SetTextCoding(TextCoding coding) { m_coding = coding; }
    // Block messages are delivered only in a session that agreed on record
    // blocks; elsewhere they are an unknown kind.
    void SetRecordBlocks(bool agreed) { m_blocks = agreed; }
    // Code-page texts are handed over as their bytes (Message::inCodePage),
    // for a reader that keeps them in that page anyway: no conversion to
    // UTF-16 and back for every record.
    void SetKeepCodePageBytes(bool keep) { m_keepCodePage = keep; }
    // Every text is handed over as the bytes the line carried, in `body`
    // (`inCodePage` tells the code page from generalised UTF-8; `text` stays
    // empty), and `body` refers to the parser's own buffer instead of a copy:
    // for a reader that takes each message before the next Feed, so that a
    // journal's lines cost no allocation and no conversion each. Valid until
    // the next Feed.
    void SetTextsAsUnownedBytes(bool bytes) { m_textBytes = bytes; }
    void Feed(const QByteArray& bytes);
    // False when no complete message is buffered. Unknown message types are
    // skipped (a newer peer may send more kinds); a malformed length or id
    // body makes the stream unusable: Failed() turns true.
    bool Next(Message* message);
    // Hands the bodies of the code-page texts of `type` that come next, each
    // as `take(bytes, size)`, as long as they lie whole in the buffer, and
    // stops before anything else; Next goes on from there. For a reader that
    // takes records or answers straight from the buffer (texts as unowned
    // bytes): one then costs no Message. The bodies are valid until the next
    // Feed.
    template <class Take>
    void TakeCodePageTexts(MessageType type, Take&& take);
    bool Failed() const { return m_failed; }
    void Clear();

private:
    // Moves up to `more` bytes of m_pending onto the message cut at the end
    // of m_buffer; false when there are none.
    bool TopUp(qsizetype more);

    QByteArray m_buffer;
    qsizetype m_pos = 0;
    // Bytes fed while a message cut by the end of the earlier ones was
    // still waiting: kept as they came, not copied behind it. Only as much
    // as that message needs moves over; then they become m_buffer.
    QByteArray m_pending;
    qsizetype m_pendingPos = 0;
    QByteArray m_retired;  // the buffer before: what Next gave from it stays valid until the next Feed
    bool m_failed = false;
    TextCoding m_coding = TextCoding::Utf8;
    bool m_blocks = false;
    bool m_keepCodePage = false;
    bool m_textBytes = false;
};

template <class Take>
void CMessageParser::TakeCodePageTexts(MessageType type, Take&& take) {
    if (m_failed || !m_textBytes || m_coding != TextCoding::Windows1251 || !m_pending.isEmpty() || !IsTextMessage(type))
        return;
    const auto kRecordType = static_cast<unsigned char>(static_cast<unsigned char>(type) | kCodePageTypeFlag);
    const auto* const begin = reinterpret_cast<const unsigned char*>(m_buffer.constData());
    const unsigned char* p = begin + m_pos;
    const unsigned char* const end = begin + m_buffer.size();
    // Bodies under 16 KiB have a length of one or two bytes; anything else
    // is left to Next.
    while (end - p >= 2 && p[0] == kRecordType) {
        qsizetype size = p[1];
        qsizetype head = 2;
        if (size & 0x80) {
            if (end - p < 3 || (p[2] & 0x80)) break;
            size = (size & 0x7F) | (static_cast<qsizetype>(p[2]) << 7);
            head = 3;
        }
        if (end - p - head < size) break;
        take(reinterpret_cast<const char*>(p + head), size);
        p += head + size;
    }
    m_pos = p - begin;
}

}  // namespace Link
