#pragma once
// The messages carried by the reliable byte stream of a session. Each message:
//
//   type (1 byte) | body length (unsigned LEB128) | body
//
// Text bodies are the UTF-16 text in generalised UTF-8: every code unit
// sequence, lone surrogates included, turns into bytes and back unchanged, so
// any text the program sends or receives (';', CR, LF, U+0004, Cyrillic, the
// empty text) arrives exactly. Id bodies are 4 bytes, little-endian.
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
    // terminal -> program
    Answer = 'A',     // text: one answer
    Pong = 'G',       // id
    PollReply = 'R',  // id: no answer was pending when the Poll was handled
};

struct Message {
    MessageType type = MessageType::Answer;
    QString text;
    std::uint32_t id = 0;
};

bool IsTextMessage(MessageType type);
bool IsIdMessage(MessageType type);

// Generalised UTF-8 of UTF-16 text.
void AppendText(QByteArray& out, QStringView text);
QString DecodeText(const char* data, qsizetype size);

void AppendTextMessage(QByteArray& stream, MessageType type, QStringView text);
void AppendIdMessage(QByteArray& stream, MessageType type, std::uint32_t id);
void AppendEmptyMessage(QByteArray& stream, MessageType type);

// Cuts messages out of the received stream.
class CMessageParser {
public:
    void Feed(const QByteArray& bytes);
    // False when no complete message is buffered. Unknown message types are
    // skipped (a newer peer may send more kinds); a malformed length or id
    // body makes the stream unusable: Failed() turns true.
    bool Next(Message* message);
    bool Failed() const { return m_failed; }
    void Clear();

private:
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_failed = false;
};

}  // namespace Link
