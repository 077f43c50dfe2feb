// kxterminal's side of the link above the stream: the message parser of the
// emulated terminal and what it does with each message (its command set, the
// directory load, the journal and info streams, the file transfer).
//
// Input: a script in the form of the emulator's commands.log, one message a
// line: "C <command>", "D <data>", "E", "P <id>", "Q <id>", "X"; and, before
// the session, "J <journal line>", "I <info line>", "S <scenario key>=<value>",
// "V 1251" (the session agreed on Windows-1251 texts). Texts take the escapes
// \n \r \t \\ \xHH (a byte of the UTF-8 text) and \uHHHH. The messages are
// written as the program writes them and reach the terminal through the
// parser in pieces of any size.
//
// Whatever the script, the terminal
// - answers every ping and poll once, with its id, in order;
// - writes answers its peer can parse;
// - keeps its identity (nothing the program sends changes it);
// - keeps a ware or barcode filter exactly as sent;
// - streams as many journal lines after "021"/"031" as it counted for "020";
// - stores a transferred file exactly as sent when it answers OK;
// - writes nothing outside its state folder.

#include "components/parlink/protocol/LinkMessage.h"
#include "fuzz/FuzzSupport.h"
#include "platform/CodePage.h"
#include "tools/kxterminal/TerminalDevice.h"
#include "tools/kxterminal/TerminalState.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>

#include <limits>

namespace {

using Link::Message;
using Link::MessageType;
using Link::TextCoding;

QString Unescape(const QByteArray& raw) {
    QByteArray utf8;
    QString out;
    auto flush = [&] {
        out += QString::fromUtf8(utf8);
        utf8.clear();
    };
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\\' || i + 1 >= raw.size()) {
            utf8 += c;
            continue;
        }
        const char e = raw[++i];
        bool ok = false;
        if (e == 'n') utf8 += '\n';
        else if (e == 'r') utf8 += '\r';
        else if (e == 't') utf8 += '\t';
        else if (e == 'x' && i + 2 < raw.size() + 0) {
            const int v = raw.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                utf8 += static_cast<char>(v);
                i += 2;
            } else {
                utf8 += e;
            }
        } else if (e == 'u' && i + 4 < raw.size() + 0) {
            const int v = raw.mid(i + 1, 4).toInt(&ok, 16);
            if (ok) {
                flush();
                out += QChar(static_cast<char16_t>(v));
                i += 4;
            } else {
                utf8 += e;
            }
        } else {
            utf8 += e;
        }
    }
    flush();
    return out;
}

struct Script {
    TextCoding coding = TextCoding::Utf8;
    QByteArray journal;
    QByteArray info;
    QByteArray scenario;
    QList<Message> messages;
    QList<int> pieces;
};

Script ReadScript(const QByteArray& input) {
    Script s;
    for (const QByteArray& line : input.split('\n')) {
        if (line.isEmpty()) continue;
        const QByteArray rest = line.size() > 2 ? line.mid(2) : QByteArray();
        Message m;
        switch (line[0]) {
        case 'V': s.coding = rest.trimmed() == "1251" ? TextCoding::Windows1251 : TextCoding::Utf8; continue;
        case 'J': s.journal += CodePage::ToWindows1251(Unescape(rest)) + "\r\n"; continue;
        case 'I': s.info += CodePage::ToWindows1251(Unescape(rest)) + "\r\n"; continue;
        case 'S': s.scenario += rest + "\r\n"; continue;
        case 'K':  // how the stream is cut on its way
            for (const QByteArray& n : rest.split(' '))
                if (n.toInt() > 0) s.pieces << n.toInt();
            continue;
        case 'C': m.type = MessageType::Command; m.text = Unescape(rest); break;
        case 'D': m.type = MessageType::Data; m.text = Unescape(rest); break;
        case 'E': m.type = MessageType::EndData; break;
        case 'X': m.type = MessageType::Bye; break;
        case 'P':
        case 'Q':
            m.type = line[0] == 'P' ? MessageType::Ping : MessageType::Poll;
            m.id = rest.trimmed().toUInt();
            break;
        default: continue;
        }
        s.messages.append(m);
    }
    return s;
}

QString Describe(const QString& text) { return HexPreview(text.toUtf8(), 40); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 200000) return 0;
    const Script script = ReadScript(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    ClearScratch();
    const QString folder = ScratchPath(QStringLiteral("state"));
    CTerminalState state(folder);
    state.EnsureFolders();
    if (!script.journal.isEmpty()) WriteScratchFile(state.Path(QStringLiteral("journal.txt")), script.journal);
    if (!script.info.isEmpty()) WriteScratchFile(state.Path(QStringLiteral("info.txt")), script.info);
    if (!script.scenario.isEmpty())
        WriteScratchFile(state.Path(QStringLiteral("scenario.ini")), "[scenario]\r\n" + script.scenario);
    const CTerminalIdentity identity = state.Identity();

    // The stream as the program writes it, cut into pieces on its way.
    QByteArray stream;
    for (const Message& m : script.messages) {
        if (Link::IsTextMessage(m.type))
            Link::AppendTextMessage(stream, m.type, m.text, script.coding);
        else if (Link::IsIdMessage(m.type))
            Link::AppendIdMessage(stream, m.type, m.id);
        else
            Link::AppendEmptyMessage(stream, m.type);
    }

    CTerminalDevice device(state);
    device.BeginSession(script.coding);
    Link::CMessageParser parser;
    parser.SetTextCoding(script.coding);
    // As kxterminal's loop reads: code-page records as their bytes, each
    // message's bytes in the parser's buffer until the next Feed.
    parser.SetKeepCodePageBytes(true);
    parser.SetTextsAsUnownedBytes(true);
    Link::CMessageParser answers;
    answers.SetTextCoding(script.coding);
    QList<Message> received;
    std::int64_t now = 1000;
    QByteArray out;

    auto pump = [&] {
        for (int round = 0; round < 100000; ++round) {
            out.clear();
            bool urgent = false;
            device.Pump(now, out, 4096, &urgent);
            if (!out.isEmpty()) {
                answers.Feed(out);
                Message m;
                while (answers.Next(&m)) received.append(m);
                KX_FUZZ_CHECK(!answers.Failed(), QStringLiteral("the terminal wrote a stream its peer cannot parse"));
            }
            if (!device.Busy() && out.isEmpty()) {
                // A delayed synchronisation comes when its time has come.
                if (device.NextTimer() == std::numeric_limits<std::int64_t>::max()) return;
                now = std::max(now, device.NextTimer());
            }
        }
        KX_FUZZ_CHECK(false, QStringLiteral("the terminal never became idle"));
    };

    qsizetype at = 0;
    int next = 0;
    while (at < stream.size()) {
        const qsizetype piece = script.pieces.isEmpty()
                                    ? stream.size() - at
                                    : std::min<qsizetype>(script.pieces[next++ % script.pieces.size()], stream.size() - at);
        parser.Feed(stream.mid(at, piece));
        at += piece;
        device.TakeFrom(parser);
        KX_FUZZ_CHECK(!parser.Failed(), QStringLiteral("the program's own stream did not parse"));
        pump();
        now += 10;
    }
    pump();

    // Pings and polls: one answer each, in order, with its id.
    QList<std::uint32_t> asked, answered;
    for (const Message& m : script.messages)
        if (m.type == MessageType::Ping || m.type == MessageType::Poll) asked << m.id;
    for (const Message& m : received)
        if (m.type == MessageType::Pong || m.type == MessageType::PollReply) answered << m.id;
    KX_FUZZ_CHECK(asked == answered, QStringLiteral("%1 pings and polls, %2 answers").arg(asked.size()).arg(answered.size()));

    // The journal: as many lines streamed after "021"/"031" as the "020"
    // before it counted, when nothing between them (filters, clearing, a
    // scenario) may change the journal. The answers follow the commands in
    // order; a stream ends with an answer beginning with U+0004.
    if (script.scenario.isEmpty()) {
        qsizetype answer = 0;
        QList<QString> texts;
        for (const Message& m : received)
            if (m.type == MessageType::Answer) texts << m.text;
        auto take = [&]() -> const QString* { return answer < texts.size() ? &texts[answer++] : nullptr; };
        int counted = -1;
        bool echo = false;
        // A file transfer: "FPB", its remote path, its Base64 pieces, "FPE"
        // and its size and CRC, answered once that last data arrives. Another
        // command ends the pieces, not the transfer: "FPE" may still follow.
        enum { Other, Path, Pieces, End } context = Other;
        bool transfer = false;
        QString remote;
        QByteArray sent;
        bool sentWhole = true;
        QHash<QString, QByteArray> stored;  // remote path below files/ -> bytes of the last OK
        for (const Message& m : script.messages) {
            if (m.type == MessageType::EndData || m.type == MessageType::Bye) {
                echo = false;
                context = Other;
                if (m.type == MessageType::Bye) transfer = false;
                continue;
            }
            if (m.type == MessageType::Data) {
                if (echo) take();
                if (context == Path) {
                    transfer = true;
                    remote = m.text;
                    sent.clear();
                    sentWhole = true;
                    context = Pieces;
                } else if (context == Pieces) {
                    const auto bytes = QByteArray::fromBase64Encoding(m.text.toLatin1(),
                                                                      QByteArray::AbortOnBase64DecodingErrors);
                    if (bytes) sent += *bytes;
                    else sentWhole = false;
                } else if (context == End) {
                    const QString* answer = take();
                    KX_FUZZ_CHECK(answer != nullptr, QStringLiteral("no answer to the end of a transfer"));
                    if (transfer && answer->startsWith(QLatin1String("OK;"))) {
                        KX_FUZZ_CHECK(sentWhole && answer->mid(3).toLongLong() == sent.size(),
                                      QStringLiteral("transfer of %1 bytes answered %2").arg(sent.size()).arg(*answer));
                        QString relative = remote;
                        relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
                        stored[relative.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'))] = sent;
                    }
                    transfer = false;
                    context = Other;
                }
                continue;
            }
            if (m.type != MessageType::Command) continue;
            const QString& c = m.text;
            echo = c == QLatin1String("ECH");
            context = Other;
            if (c == QLatin1String("FPB")) {
                transfer = false;
                context = Path;
            } else if (c == QLatin1String("FPE")) {
                context = End;
            } else if (c == QLatin1String("FPA")) {
                transfer = false;
            }
            if (c == QLatin1String("FPB") || c == QLatin1String("FPE") || c == QLatin1String("FPA")) {
                // above
            } else if (c == QLatin1String("--s") || c == QLatin1String("--h") || c == QLatin1String("998") ||
                c == QLatin1String("003")) {
                take();
            } else if (c == QLatin1String("020")) {
                const QString* count = take();
                KX_FUZZ_CHECK(count != nullptr, QStringLiteral("no count for 020"));
                counted = count->toInt();
            } else if (c == QLatin1String("021") || c == QLatin1String("031") || c == QLatin1String("1F2")) {
                int lines = 0;
                const QString* line = nullptr;
                while ((line = take()) != nullptr && *line != QChar(0x0004)) ++lines;
                KX_FUZZ_CHECK(line != nullptr, QStringLiteral("a stream of %1 without its end").arg(c));
                if (c != QLatin1String("1F2") && counted >= 0)
                    KX_FUZZ_CHECK(lines == counted,
                                  QStringLiteral("020 counted %1 lines, %2 streamed %3").arg(counted).arg(c).arg(lines));
            } else if (c == QLatin1String("001") || c.startsWith(QLatin1String("40"))) {
                counted = -1;  // the journal or its filters change
            }
        }
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            QFile file(state.Path(QStringLiteral("files/") + it.key()));
            KX_FUZZ_CHECK(file.open(QIODevice::ReadOnly) && file.readAll() == it.value(),
                          QStringLiteral("the file %1 answered OK is not what was sent").arg(it.key()));
        }
    }

    KX_FUZZ_CHECK(state.Identity().program == identity.program && state.Identity().version == identity.version &&
                      state.Identity().terminal == identity.terminal && state.Identity().deviceId == identity.deviceId &&
                      state.Identity().model == identity.model,
                  QStringLiteral("the terminal's identity changed to %1;%2").arg(state.Identity().program,
                                                                                 state.Identity().version));

    // Filters are kept as sent: the last "408"/"409" value, unless reset after it.
    QString ware, barcode;
    QString command;
    bool expectValue = false;
    for (const Message& m : script.messages) {
        if (m.type == MessageType::Command) {
            command = m.text;
            expectValue = command == QLatin1String("408") || command == QLatin1String("409");
            if (command == QLatin1String("40R")) ware.clear(), barcode.clear();
            continue;
        }
        if (m.type != MessageType::Data || !expectValue) continue;
        (command == QLatin1String("408") ? ware : barcode) = m.text;
        expectValue = false;
    }
    KX_FUZZ_CHECK(state.Filter().ware == ware,
                  QStringLiteral("ware filter %1, sent %2").arg(Describe(state.Filter().ware), Describe(ware)));
    KX_FUZZ_CHECK(state.Filter().barcode == barcode,
                  QStringLiteral("barcode filter %1, sent %2").arg(Describe(state.Filter().barcode), Describe(barcode)));

    // Nothing outside the state folder.
    const QStringList top = QDir(ScratchPath(QString())).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    KX_FUZZ_CHECK(top == QStringList{QStringLiteral("state")},
                  QStringLiteral("written beside the state folder: %1").arg(top.join(QLatin1Char(' '))));
    return 0;
}
