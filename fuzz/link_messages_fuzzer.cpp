// The message parser of the link, as both ends run it on the stream a
// session delivers (in either text coding a session may agree on).
//
// Raw input: the bytes are a delivered stream. Parsed at once or in small
// pieces it must give the same messages and fail (or not) at the same point.
//
// Built input (first byte odd): messages made from the input - texts of any
// UTF-16 code units, lone surrogates included, ids, empty messages, texts
// already in Windows-1251 and kinds the parser does not know - written as the
// sender writes them. Parsed in any pieces they must come back exactly, the
// unknown kinds skipped, and the parser must not fail.
//
// Both are parsed once more with code-page records taken straight from the
// buffer (TakeCodePageTexts), as the terminal takes a load's: the same
// messages, in the same order, and the same failure.

#include "components/parlink/protocol/LinkMessage.h"
#include "fuzz/FuzzSupport.h"
#include "platform/CodePage.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QList>

#include <cstring>

namespace {

using Link::CMessageParser;
using Link::Message;
using Link::MessageType;
using Link::TextCoding;

bool Same(const Message& a, const Message& b) { return a.type == b.type && a.text == b.text && a.id == b.id; }

QString Describe(const Message& m) {
    return QStringLiteral("'%1' id %2 text %3")
        .arg(QChar(static_cast<char>(m.type)))
        .arg(m.id)
        .arg(HexPreview(QByteArray(reinterpret_cast<const char*>(m.text.utf16()), m.text.size() * 2), 24));
}

struct Parsed {
    QList<Message> messages;
    bool failed = false;
};

// `recordsAtOnce`: as the terminal reads a load, code-page records taken
// straight from the buffer between the other messages.
Parsed Parse(const QByteArray& stream, TextCoding coding, const QList<int>& pieces, bool recordsAtOnce = false) {
    CMessageParser parser;
    parser.SetTextCoding(coding);
    parser.SetTextsAsUnownedBytes(recordsAtOnce);
    Parsed out;
    qsizetype at = 0;
    int next = 0;
    do {
        const qsizetype size = pieces.isEmpty() ? stream.size() - at
                                                : std::min<qsizetype>(pieces[next++ % pieces.size()], stream.size() - at);
        parser.Feed(stream.mid(at, size));
        at += size;
        Message m;
        for (;;) {
            if (recordsAtOnce) {
                parser.TakeCodePageTexts(MessageType::Data, [&out](const char* bytes, qsizetype size) {
                    Message record;
                    record.type = MessageType::Data;
                    record.text = CodePage::FromWindows1251(bytes, size);
                    out.messages.append(record);
                });
            }
            if (!parser.Next(&m)) break;
            KX_FUZZ_CHECK(!parser.Failed(), QStringLiteral("a message after the stream failed"));
            if (recordsAtOnce) {
                m.text = Link::MessageText(m);
                m.body.clear();
            }
            out.messages.append(m);
        }
    } while (at < stream.size());
    out.failed = parser.Failed();
    return out;
}

void Compare(const Parsed& expected, const Parsed& got, const QString& what) {
    KX_FUZZ_CHECK(expected.failed == got.failed,
                  QStringLiteral("%1: failed %2, expected %3").arg(what).arg(got.failed).arg(expected.failed));
    KX_FUZZ_CHECK(expected.messages.size() == got.messages.size(),
                  QStringLiteral("%1: %2 messages, expected %3")
                      .arg(what)
                      .arg(got.messages.size())
                      .arg(expected.messages.size()));
    for (qsizetype i = 0; i < expected.messages.size(); ++i)
        KX_FUZZ_CHECK(Same(expected.messages[i], got.messages[i]),
                      QStringLiteral("%1: message %2 is %3, expected %4")
                          .arg(what)
                          .arg(i)
                          .arg(Describe(got.messages[i]), Describe(expected.messages[i])));
}

void RawStream(const QByteArray& stream, TextCoding coding, const QList<int>& pieces) {
    const Parsed whole = Parse(stream, coding, {});
    Compare(whole, Parse(stream, coding, pieces), QStringLiteral("in pieces"));
    Compare(whole, Parse(stream, coding, {1}), QStringLiteral("byte by byte"));
    Compare(whole, Parse(stream, coding, pieces, true), QStringLiteral("records at once, in pieces"));
}

// Any sequence of UTF-16 code units; now and then a Cyrillic or special one.
QString AnyText(FuzzedDataProvider& fdp) {
    const int length = fdp.ConsumeIntegralInRange(0, fdp.ConsumeBool() ? 300 : 12);
    return ConsumeMixedText(fdp, length, 0x0400, 0x60, 0, 0x7F);
}

constexpr MessageType kTextTypes[] = {MessageType::Command, MessageType::Data, MessageType::Answer};
constexpr MessageType kIdTypes[] = {MessageType::Ping, MessageType::Poll, MessageType::Pong, MessageType::PollReply};

void BuiltStream(FuzzedDataProvider& fdp) {
    const TextCoding coding = fdp.ConsumeBool() ? TextCoding::Windows1251 : TextCoding::Utf8;
    QByteArray stream;
    Parsed expected;
    const int count = fdp.ConsumeIntegralInRange(0, 40);
    for (int i = 0; i < count && fdp.remaining_bytes() > 0; ++i) {
        Message m;
        switch (fdp.ConsumeIntegralInRange(0, 5)) {
        case 0:
        case 1: {
            m.type = kTextTypes[fdp.ConsumeIntegralInRange(0, 2)];
            m.text = AnyText(fdp);
            // A session may write a text in UTF-8 whatever it agreed.
            Link::AppendTextMessage(stream, m.type, m.text, fdp.ConsumeBool() ? coding : TextCoding::Utf8);
            break;
        }
        case 2:
            m.type = kIdTypes[fdp.ConsumeIntegralInRange(0, 3)];
            m.id = fdp.ConsumeIntegral<std::uint32_t>();
            Link::AppendIdMessage(stream, m.type, m.id);
            break;
        case 3:
            m.type = fdp.ConsumeBool() ? MessageType::EndData : MessageType::Bye;
            Link::AppendEmptyMessage(stream, m.type);
            break;
        case 4: {
            // Texts as the terminal keeps them: Windows-1251 bytes sent as
            // they are, only in a session that agreed on the page.
            const QByteArray bytes = QByteArray::fromStdString(fdp.ConsumeRandomLengthString(fdp.ConsumeBool() ? 300 : 64));
            m.type = kTextTypes[fdp.ConsumeIntegralInRange(0, 2)];
            if (coding != TextCoding::Windows1251) continue;
            m.text = CodePage::FromWindows1251(bytes);
            Link::AppendWindows1251Message(stream, m.type, bytes.constData(), bytes.size());
            break;
        }
        default: {
            // A kind of a later version: skipped by its length.
            static constexpr char kKnown[] = "CDEPQXAGR";
            char type = static_cast<char>(fdp.ConsumeIntegralInRange(0, 0x7F));
            if (std::strchr(kKnown, type) && type != 0) type = 'Z';
            const QByteArray body = QByteArray::fromStdString(fdp.ConsumeRandomLengthString(300));
            stream.append(type);
            std::uint32_t n = static_cast<std::uint32_t>(body.size());
            while (n >= 0x80) {
                stream.append(static_cast<char>(0x80 | (n & 0x7F)));
                n >>= 7;
            }
            stream.append(static_cast<char>(n));
            stream.append(body);
            continue;
        }
        }
        expected.messages.append(m);
    }
    const QList<int> pieces = ConsumePieces(fdp, 700);
    Compare(expected, Parse(stream, coding, {}), QStringLiteral("built stream at once"));
    Compare(expected, Parse(stream, coding, pieces), QStringLiteral("built stream in pieces"));
    Compare(expected, Parse(stream, coding, pieces, true), QStringLiteral("built stream, records at once"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunStreamTarget(
        data, size, 16,
        [](std::uint8_t mode, const CutStream& raw) {
            RawStream(raw.stream, (mode & 2) ? TextCoding::Windows1251 : TextCoding::Utf8, raw.pieces);
        },
        BuiltStream);
}
