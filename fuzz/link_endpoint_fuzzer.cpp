// The two ends of a link session: the program's (initiator) and the
// terminal's (responder), each a frame decoder, the reliable stream, the
// unpacker and the message parser, as the component and kxterminal run them.
//
// Built session (first byte odd): both ends with abilities, frame sizes and
// windows from the input exchange messages from the input over a line that
// loses, damages (one bit), repeats, cuts and delays the bytes of its first
// writes as the input says; after those faults the line is sound. Every
// message must arrive exactly once, in order, on the other side, within a
// bounded (simulated) time.
//
// Raw frames (first byte even): one end, program's or terminal's, reads
// frames made from the input - any type, tag, numbers and payload, with sound
// check sums - and line noise. Whatever it reads, every frame it writes must
// be sound and carry its session's tag, it never has more data frames in
// flight than its window, and what it acknowledges never goes back within a
// session.

#include "components/parlink/protocol/LinkEndpoint.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QList>

#include <algorithm>
#include <limits>

namespace {

using namespace Link;

// Ids at or above this belong to the simulation's own keep-alive pings.
constexpr std::uint32_t kKeepAliveIds = 0x80000000u;

QString Describe(const Message& m) {
    return QStringLiteral("'%1' id %2 text of %3 units").arg(QChar(static_cast<char>(m.type))).arg(m.id).arg(m.text.size());
}

bool Same(const Message& a, const Message& b) { return a.type == b.type && a.text == b.text && a.id == b.id; }

QString AnyText(FuzzedDataProvider& fdp, int longest) {
    const int length = fdp.ConsumeIntegralInRange(0, longest);
    QString text = ConsumeMixedText(fdp, length, 0x0410, 0x40, 0x20, 0x7E);
    // Now and then a record-sized text, repetitive as records are.
    if (fdp.ConsumeIntegralInRange(0, 15) == 0) text = text.repeated(fdp.ConsumeIntegralInRange(1, 200));
    return text;
}

Message AnyMessage(FuzzedDataProvider& fdp, bool fromProgram) {
    Message m;
    const int kind = fdp.ConsumeIntegralInRange(0, 5);
    if (fromProgram) {
        static constexpr MessageType kTypes[] = {MessageType::Command, MessageType::Data, MessageType::Data,
                                                 MessageType::EndData, MessageType::Ping, MessageType::Poll};
        m.type = kTypes[kind];
    } else {
        static constexpr MessageType kTypes[] = {MessageType::Answer, MessageType::Answer, MessageType::Answer,
                                                 MessageType::Pong,   MessageType::PollReply, MessageType::Answer};
        m.type = kTypes[kind];
    }
    if (IsTextMessage(m.type)) m.text = AnyText(fdp, 40);
    if (IsIdMessage(m.type)) m.id = fdp.ConsumeIntegralInRange<std::uint32_t>(0, kKeepAliveIds - 1);
    return m;
}

void Append(QByteArray& stream, const Message& m, TextCoding coding) {
    if (IsTextMessage(m.type))
        AppendTextMessage(stream, m.type, m.text, coding);
    else if (IsIdMessage(m.type))
        AppendIdMessage(stream, m.type, m.id);
    else
        AppendEmptyMessage(stream, m.type);
}

TextCoding CodingOf(const CLinkEndpoint& e) {
    return e.Features().codePage == kCodePageWindows1251 ? TextCoding::Windows1251 : TextCoding::Utf8;
}

// ---------------------------------------------------------------------------
// A session over a faulty line

enum class Fault { None, Drop, FlipBit, Repeat, Cut, Delay };

struct LineFault {
    Fault fault = Fault::None;
    int param = 0;
};

// One direction of the line: applies the next fault to each write.
class CLine {
public:
    QList<LineFault> faults;

    // What reaches the other end of this write (and of writes held back).
    QByteArray Carry(const QByteArray& write) {
        QByteArray out;
        LineFault f = faults.isEmpty() ? LineFault{} : faults.takeFirst();
        QByteArray bytes = write;
        switch (f.fault) {
        case Fault::None: break;
        case Fault::Drop: bytes.clear(); break;
        case Fault::FlipBit:
            // One bit of one frame: every check on the line catches it.
            if (!bytes.isEmpty()) {
                const qsizetype at = f.param % bytes.size();
                bytes[at] = static_cast<char>(bytes[at] ^ (1 << (f.param % 8)));
            }
            break;
        case Fault::Repeat: bytes += write; break;
        case Fault::Cut: bytes.truncate(bytes.isEmpty() ? 0 : f.param % bytes.size()); break;
        case Fault::Delay:
            m_held += bytes;
            return out;
        }
        out = m_held + bytes;
        m_held.clear();
        return out;
    }
    bool Holding() const { return !m_held.isEmpty(); }
    QByteArray Release() {
        QByteArray out;
        out.swap(m_held);
        return out;
    }

private:
    QByteArray m_held;
};

EndpointConfig AnyConfig(FuzzedDataProvider& fdp) {
    EndpointConfig c;
    c.maxPayload = fdp.ConsumeIntegralInRange(16, 300);
    c.window = fdp.ConsumeIntegralInRange(1, 16);
    c.capabilities.maxVersion = fdp.ConsumeIntegralInRange<std::uint8_t>(1, 2);
    c.capabilities.compression = fdp.ConsumeBool();
    c.capabilities.codePage = fdp.ConsumeBool();
    return c;
}

void Receive(CLinkEndpoint& e, CMessageParser& parser, QList<Message>& into) {
    const QByteArray stream = e.TakeReceived();
    if (stream.isEmpty()) return;
    parser.Feed(stream);
    Message m;
    while (parser.Next(&m)) into.append(m);
}

void CheckArrived(const QList<Message>& sent, const QList<Message>& got, const QString& direction) {
    QList<Message> real;
    for (const Message& m : got)
        if (!(IsIdMessage(m.type) && m.id >= kKeepAliveIds)) real.append(m);
    KX_FUZZ_CHECK(real.size() <= sent.size(), QStringLiteral("%1: %2 messages arrived, %3 were sent")
                                                  .arg(direction)
                                                  .arg(real.size())
                                                  .arg(sent.size()));
    for (qsizetype i = 0; i < real.size(); ++i)
        KX_FUZZ_CHECK(Same(real[i], sent[i]), QStringLiteral("%1: message %2 arrived as %3, sent as %4")
                                                  .arg(direction)
                                                  .arg(i)
                                                  .arg(Describe(real[i]), Describe(sent[i])));
}

int RealCount(const QList<Message>& got) {
    int n = 0;
    for (const Message& m : got)
        if (!(IsIdMessage(m.type) && m.id >= kKeepAliveIds)) ++n;
    return n;
}

void Session(FuzzedDataProvider& fdp) {
    EndpointConfig programConfig = AnyConfig(fdp);
    EndpointConfig terminalConfig = AnyConfig(fdp);
    // As kxterminal: it stops repeating after six time-outs until it hears
    // the program again.
    terminalConfig.maxSilentTimeouts = 6;
    CLinkEndpoint program(CLinkEndpoint::Role::Initiator, programConfig);
    CLinkEndpoint terminal(CLinkEndpoint::Role::Responder, terminalConfig);
    std::uint32_t nonce = fdp.ConsumeIntegral<std::uint32_t>();
    if (nonce == 0) nonce = 1;

    QList<Message> early, late, answers;
    const int toTerminal = fdp.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < toTerminal && fdp.remaining_bytes() > 0; ++i)
        (fdp.ConsumeBool() ? early : late).append(AnyMessage(fdp, true));
    const int toProgram = fdp.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < toProgram && fdp.remaining_bytes() > 0; ++i) answers.append(AnyMessage(fdp, false));
    QList<Message> sentToTerminal = early + late;

    CLine down, up;  // program -> terminal, terminal -> program
    const int faults = fdp.ConsumeIntegralInRange(0, 30);
    for (int i = 0; i < faults && fdp.remaining_bytes() > 0; ++i) {
        LineFault f;
        f.fault = static_cast<Fault>(fdp.ConsumeIntegralInRange(0, 5));
        f.param = fdp.ConsumeIntegralInRange(0, 1 << 20);
        (fdp.ConsumeBool() ? down : up).faults.append(f);
    }

    std::int64_t now = 0;
    program.StartSession(nonce, now);
    // Texts queued before the terminal answered go in UTF-8, as the component writes them.
    QByteArray stream;
    for (const Message& m : early) Append(stream, m, TextCoding::Utf8);
    if (!stream.isEmpty()) program.Queue(stream, true);

    CMessageParser programParser, terminalParser;
    QList<Message> atProgram, atTerminal;
    bool programReady = false, terminalReady = false;
    std::int64_t nextKeepAlive = 2000;
    std::uint32_t keepAliveId = kKeepAliveIds;
    constexpr std::int64_t kGiveUpMs = 30 * 60 * 1000;  // simulated
    int steps = 0;

    for (;;) {
        if (!programReady && program.Established()) {
            programReady = true;
            programParser.SetTextCoding(CodingOf(program));
            stream.clear();
            for (const Message& m : late) Append(stream, m, CodingOf(program));
            if (!stream.isEmpty()) program.Queue(stream, true);
        }
        if (terminal.TakeNewSession()) {
            KX_FUZZ_CHECK(!terminalReady, QStringLiteral("the terminal saw a second session"));
            terminalReady = true;
            terminalParser.SetTextCoding(CodingOf(terminal));
            stream.clear();
            for (const Message& m : answers) Append(stream, m, CodingOf(terminal));
            if (!stream.isEmpty()) terminal.Queue(stream, true);
        }
        const bool done = RealCount(atTerminal) == sentToTerminal.size() && RealCount(atProgram) == answers.size() &&
                          program.AllAcknowledged() && terminal.AllAcknowledged() && terminalReady;
        if (done) break;
        KX_FUZZ_CHECK(now < kGiveUpMs && ++steps < 200000,
                      QStringLiteral("not delivered after %1 ms: %2 of %3 to the terminal, %4 of %5 to the program")
                          .arg(now)
                          .arg(RealCount(atTerminal))
                          .arg(sentToTerminal.size())
                          .arg(RealCount(atProgram))
                          .arg(answers.size()));
        // The program's Receive polls while it waits for an answer, and its
        // ClosePort says goodbye, so a terminal that fell silent hears it
        // again.
        const bool programWaits = RealCount(atProgram) < answers.size() || !terminal.AllAcknowledged();
        if (programReady && now >= nextKeepAlive && programWaits) {
            stream.clear();
            AppendIdMessage(stream, MessageType::Ping, keepAliveId++);
            program.Queue(stream, true);
            nextKeepAlive = now + 2000;
        }

        QByteArray wire;
        program.Produce(now, wire);
        const bool programWrote = !wire.isEmpty();
        if (programWrote || down.Holding()) {
            const QByteArray carried = programWrote ? down.Carry(wire) : down.Release();
            if (!carried.isEmpty()) terminal.Feed(carried.constData(), carried.size(), now);
        }
        Receive(terminal, terminalParser, atTerminal);
        // The terminal answers the keep-alive pings at once.
        for (qsizetype i = 0; i < atTerminal.size(); ++i) {
            Message& m = atTerminal[i];
            if (m.type == MessageType::Ping && m.id >= kKeepAliveIds && m.text.isEmpty()) {
                stream.clear();
                AppendIdMessage(stream, MessageType::Pong, m.id);
                terminal.Queue(stream, true);
                m.text = QStringLiteral("answered");
            }
        }

        wire.clear();
        terminal.Produce(now, wire);
        const bool terminalWrote = !wire.isEmpty();
        if (terminalWrote || up.Holding()) {
            const QByteArray carried = terminalWrote ? up.Carry(wire) : up.Release();
            if (!carried.isEmpty()) program.Feed(carried.constData(), carried.size(), now);
        }
        // As the component does: the agreed coding holds from the first data
        // frame, which may come in the same read as the answer to HELLO.
        if (program.Established()) programParser.SetTextCoding(CodingOf(program));
        Receive(program, programParser, atProgram);

        KX_FUZZ_CHECK(!program.StreamFailed() && !terminal.StreamFailed() && !programParser.Failed() &&
                          !terminalParser.Failed(),
                      QStringLiteral("a sound session's stream failed"));
        CheckArrived(sentToTerminal, atTerminal, QStringLiteral("to the terminal"));
        CheckArrived(answers, atProgram, QStringLiteral("to the program"));

        if (programWrote || terminalWrote) {
            now += 1;
        } else {
            std::int64_t next = std::min(program.NextDeadline(now), terminal.NextDeadline(now));
            if (programReady && programWaits) next = std::min(next, nextKeepAlive);
            now = std::max(now + 1, next == std::numeric_limits<std::int64_t>::max() ? now + 1000 : next);
        }
    }
}

// ---------------------------------------------------------------------------
// One end reading made-up frames

constexpr FrameType kFrameTypes[] = {FrameType::Hello, FrameType::HelloAnswer, FrameType::Data, FrameType::Ack,
                                     FrameType::Nak};

void RawFrames(FuzzedDataProvider& fdp) {
    const bool responder = fdp.ConsumeBool();
    EndpointConfig config = AnyConfig(fdp);
    if (responder) config.maxSilentTimeouts = 6;
    CLinkEndpoint end(responder ? CLinkEndpoint::Role::Responder : CLinkEndpoint::Role::Initiator, config);
    const std::uint32_t ourNonce = 0x1A2B3C4D;
    std::int64_t now = 0;
    if (!responder) {
        end.StartSession(ourNonce, now);
        QByteArray stream;
        AppendTextMessage(stream, MessageType::Command, QStringLiteral("998"));
        AppendIdMessage(stream, MessageType::Poll, 1);
        end.Queue(stream, true);
    }
    CMessageParser parser;
    CFrameDecoder own;
    bool haveAck = false;
    std::uint16_t lastAck = 0;
    std::uint32_t session = end.SessionNonce();

    while (fdp.remaining_bytes() > 0) {
        QByteArray wire;
        switch (fdp.ConsumeIntegralInRange(0, 7)) {
        case 0: {
            // Noise.
            wire = QByteArray::fromStdString(fdp.ConsumeRandomLengthString(40));
            break;
        }
        case 1:
            now += fdp.ConsumeIntegralInRange(0, 10000);
            break;
        case 2: {
            // A HELLO or hello answer with our nonce, so a session can start.
            QByteArray payload;
            const std::uint32_t nonce = responder ? fdp.ConsumeIntegralInRange<std::uint32_t>(1, 4) : ourNonce;
            for (int i = 0; i < 4; ++i) payload.append(static_cast<char>((nonce >> (8 * i)) & 0xFF));
            payload += QByteArray::fromStdString(fdp.ConsumeRandomLengthString(12));
            const std::uint8_t tag = static_cast<std::uint8_t>(nonce & 0xFF) ? static_cast<std::uint8_t>(nonce & 0xFF) : 0x5A;
            AppendFrame(wire, responder ? FrameType::Hello : FrameType::HelloAnswer, tag, 0, 0, payload.constData(),
                        static_cast<int>(payload.size()));
            break;
        }
        default: {
            Frame f;
            f.type = kFrameTypes[fdp.ConsumeIntegralInRange(0, 4)];
            const std::uint32_t nonce = end.SessionNonce();
            const std::uint8_t ourTag = static_cast<std::uint8_t>(nonce & 0xFF) ? static_cast<std::uint8_t>(nonce & 0xFF) : 0x5A;
            f.tag = fdp.ConsumeIntegralInRange(0, 7) == 0 ? fdp.ConsumeIntegral<std::uint8_t>() : ourTag;
            f.seq = fdp.ConsumeIntegralInRange(0, 3) == 0 ? fdp.ConsumeIntegral<std::uint16_t>()
                                                          : fdp.ConsumeIntegralInRange<std::uint16_t>(0, 40);
            f.ack = fdp.ConsumeIntegralInRange(0, 3) == 0 ? fdp.ConsumeIntegral<std::uint16_t>()
                                                          : fdp.ConsumeIntegralInRange<std::uint16_t>(0, 40);
            f.payload = QByteArray::fromStdString(fdp.ConsumeRandomLengthString(600));
            AppendFrame(wire, f);
            if (fdp.ConsumeIntegralInRange(0, 9) == 0 && !wire.isEmpty()) {
                const int at = fdp.ConsumeIntegralInRange<int>(0, static_cast<int>(wire.size()) - 1);
                wire[at] = static_cast<char>(wire[at] ^ 0x10);
            }
            break;
        }
        }
        if (!wire.isEmpty()) end.Feed(wire.constData(), wire.size(), now);
        if (responder && end.TakeNewSession()) {
            parser.Clear();
            parser.SetTextCoding(CodingOf(end));
            haveAck = false;
            session = end.SessionNonce();
            QByteArray stream;
            AppendTextMessage(stream, MessageType::Answer, QStringLiteral("1;Готов к обмену"), CodingOf(end));
            end.Queue(stream, true);
        }
        if (!responder && end.Established()) parser.SetTextCoding(CodingOf(end));
        const QByteArray stream = end.TakeReceived();
        if (!stream.isEmpty() && !parser.Failed()) {
            parser.Feed(stream);
            Message m;
            while (parser.Next(&m)) {
            }
        }

        QByteArray out;
        end.Produce(now, out);
        KX_FUZZ_CHECK(end.FramesInFlight() <= std::clamp(config.window, 1, 1024),
                      QStringLiteral("%1 frames in flight, window %2").arg(end.FramesInFlight()).arg(config.window));
        own.Feed(out.constData(), out.size());
        Frame f;
        CFrameDecoder::Result r;
        const std::uint8_t tag = static_cast<std::uint8_t>(session & 0xFF) ? static_cast<std::uint8_t>(session & 0xFF) : 0x5A;
        while ((r = own.Next(&f)) != CFrameDecoder::Result::NeedMore) {
            KX_FUZZ_CHECK(r == CFrameDecoder::Result::Frame, QStringLiteral("the end wrote a damaged frame"));
            KX_FUZZ_CHECK(f.tag == tag, QStringLiteral("frame tag %1, session tag %2").arg(f.tag).arg(tag));
            if (f.type == FrameType::Data || f.type == FrameType::Ack || f.type == FrameType::Nak) {
                if (haveAck)
                    KX_FUZZ_CHECK(static_cast<std::uint16_t>(f.ack - lastAck) < 32768,
                                  QStringLiteral("acknowledgement went back from %1 to %2").arg(lastAck).arg(f.ack));
                haveAck = true;
                lastAck = f.ack;
            }
        }
        KX_FUZZ_CHECK(own.SkippedBytes() == 0, QStringLiteral("the end wrote bytes outside frames"));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    FuzzedDataProvider fdp(data + 1, size - 1);
    if (data[0] & 1)
        Session(fdp);
    else
        RawFrames(fdp);
    return 0;
}
