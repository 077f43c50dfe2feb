#pragma once
// One end of a link session: turns a byte stream into numbered data frames
// and back, reliably and in order, over a line that may lose, damage or
// delay bytes. It does no input or output itself (the caller feeds it the
// bytes read and writes the bytes it produces), so the same code runs in the
// program's component, in the terminal emulator and in unit tests.
//
// Sending is pipelined: up to `window` data frames may be unacknowledged.
// Acknowledgements are cumulative (every frame carries the next sequence
// number expected from the peer). A receiver that sees a damaged frame or a
// gap sends a NAK; the sender then goes back to the first unacknowledged
// frame (go-back-N). A sender that hears no progress for one retransmission
// time-out (adaptive, from measured round trips) goes back as well.
//
// The initiator (the program) starts every session with HELLO frames carrying
// a fresh random nonce; the responder (the terminal) answers each HELLO and
// starts afresh whenever the nonce is new. Frames of other sessions are
// ignored (their tag differs).
//
// The HELLO exchange also settles the session's features (LinkHello.h). With
// compression agreed, the queued stream is sealed into compressed units
// (LinkCompression.h) just before it is cut into frames, and the frames
// received in order are unpacked before they are handed on; repeats send the
// frames as first made.

#include "components/parlink/protocol/LinkCompression.h"
#include "components/parlink/protocol/LinkFrame.h"
#include "components/parlink/protocol/LinkHello.h"
#include "components/parlink/protocol/PackingChoice.h"

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <memory>

namespace Link {

// The window of a sender on a socket (local or TCP), which loses and reorders
// nothing: a round trip crosses several threads on each end, and 16 frames
// in flight left both ends waiting for acknowledgements most of the time.
// Far below the half of the sequence circle that tells old frames from new.
inline constexpr int kSocketWindow = 256;

struct EndpointConfig {
    int maxPayload = 1024;  // bytes of stream per data frame
    int window = 16;        // unacknowledged data frames
    int initialRtoMs = 1000;
    int minRtoMs = 300;
    int maxRtoMs = 8000;
    int helloRetryMs = 250;   // first HELLO repeat; doubles up to 1000 ms
    int nakIntervalMs = 500;  // a NAK for the same gap is repeated no sooner
    // Consecutive time-outs after which retransmission stops until the peer is
    // heard again (the terminal must not flood a line nobody listens to); -1: never.
    int maxSilentTimeouts = -1;
    // A line that loses and damages nothing (a socket): a time-out sends
    // only the oldest unacknowledged frame again, to ask for an answer, since
    // everything sent is still on its way. Repeating the whole window, as on
    // a serial line, queued copies behind copies on a slow network line.
    bool lossless = false;
    // What this end offers (initiator) or accepts (responder).
    LinkCapabilities capabilities;
    // The level this end compresses its stream with (ZstdLevelForLine).
    int zstdLevel = kZstdLevel;
    // Plain bytes a compressed unit holds while there is plenty to send (at
    // most kMaxUnitPlain): the larger, the fewer flushes of the compressor.
    // A shorter unit is sealed only when a short frame may go, so whoever
    // queues the stream must let a few units' worth wait, not less than one.
    int unitPlain = kUnitPlain;
    // One program at a time (Capability::OneProgram agreed): the initiator
    // sends a frame at least this often while its session is open, and the
    // responder takes a session heard within `sessionQuietMs` for open.
    int keepAliveMs = 1000;
    int sessionQuietMs = 5000;
};

struct EndpointStats {
    std::uint64_t wireBytesSent = 0;
    std::uint64_t streamBytesSent = 0;  // first transmissions only
    std::uint64_t plainBytesSent = 0;   // the stream before compression, as queued and framed
    std::uint64_t dataFramesSent = 0;
    std::uint64_t dataFramesResent = 0;
    std::uint64_t dataFramesAcked = 0;
    std::uint64_t mostFramesInFlight = 0;  // unacknowledged data frames at most (the window used)
    std::uint64_t unitsStored = 0;         // compressed-stream units sent as they stand (stored units)
    std::uint64_t wireBytesReceived = 0;
    std::uint64_t streamBytesReceived = 0;  // delivered in order
    std::uint64_t plainBytesReceived = 0;   // after decompression
    std::uint64_t framesReceived = 0;
    std::uint64_t damagedFrames = 0;
    std::uint64_t duplicateFrames = 0;
    std::uint64_t outOfOrderFrames = 0;
    std::uint64_t naksSent = 0;
    std::uint64_t naksReceived = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t foreignFrames = 0;
};

class CLinkEndpoint {
public:
    enum class Role { Initiator, Responder };

    explicit CLinkEndpoint(Role role, const EndpointConfig& config = EndpointConfig());

    // Initiator: begins a session; `nonce` should be random and non-zero.
    void StartSession(std::uint32_t nonce, std::int64_t now);
    bool Established() const { return m_established; }
    std::uint32_t SessionNonce() const { return m_nonce; }
    // What the session uses; meaningful once established.
    const SessionFeatures& Features() const { return m_features; }
    // Initiator: the terminal answered that it serves another program now
    // (the HELLO goes on being repeated, so the session begins once it is
    // free).
    bool PeerBusy() const { return m_peerBusy; }
    // When the last busy answer came; -1 never. A terminal that says "busy"
    // is alive: the wait for it is bounded by the caller, not by silence.
    std::int64_t LastBusyAnswerMs() const { return m_lastBusyMs; }
    // Responder: the session ended (goodbye heard, connection gone); the next
    // HELLO begins a new one at once, even with one program at a time.
    void CloseSession() { m_sessionClosed = true; }
    // Responder: HELLOs of other programs answered "busy" so far.
    std::uint64_t BusyAnswers() const { return m_busyAnswersSent; }
    // The peer's compressed stream turned out corrupt: nothing more of this
    // session is delivered, and the endpoint falls silent (a responder until
    // a new session); the session must end.
    bool StreamFailed() const { return m_streamFailed; }

    // Appends bytes to the outgoing stream. `urgent` bytes are framed at once
    // even when that makes a short frame (requests that wait for an answer);
    // other bytes wait until a frame fills or nothing is in flight.
    void Queue(const QByteArray& bytes, bool urgent);
    // The same, for a caller that fills a buffer again and again: `bytes` is
    // left empty, with memory to fill (without a copy of them where nothing
    // queued before is still waiting).
    void QueueTaking(QByteArray& bytes, bool urgent);
    // Bytes queued but not yet put into a frame (plain and packed).
    qsizetype UnframedBytes() const { return PlainPending() + PackedPending(); }
    // Everything queued has been acknowledged by the peer.
    bool AllAcknowledged() const { return UnframedBytes() == 0 && m_unacked.empty(); }
    int FramesInFlight() const { return static_cast<int>(m_unacked.size()); }

    // Bytes read from the line.
    void Feed(const char* data, qsizetype size, std::int64_t now);
    // Or read straight into the endpoint: room for up to `size` bytes (good
    // until the next call on the endpoint), then Received with how many came.
    char* ReceiveSpace(qsizetype size) { return m_decoder.Space(size); }
    void Received(qsizetype n, std::int64_t now);
    // The stream bytes received in order since the last call.
    QByteArray TakeReceived();
    // Responder: true once for every new session begun by the peer; the
    // caller then drops whatever belonged to the previous one.
    bool TakeNewSession();

    // Appends the frames due now (answers to HELLO, data, retransmissions,
    // acknowledgements) to `wire`.
    void Produce(std::int64_t now, QByteArray& wire);
    // The latest time at which Produce must run again (INT64_MAX: only input
    // can make work).
    std::int64_t NextDeadline(std::int64_t now) const;

    // Time of the last sound frame of this session from the peer; -1 never.
    std::int64_t LastPeerFrameMs() const { return m_lastPeerMs; }
    const EndpointStats& Stats() const { return m_stats; }
    int RetransmissionTimeoutMs() const { return m_rto; }

    // Fault injection for the terminal emulator and the tests; data frames of
    // a session are counted from 1, 0 disables: after receiving `deafAfter`
    // data frames the endpoint hears and sends nothing until a new session;
    // the `damageSent`-th data frame sent goes out damaged once; the
    // `damageReceived`-th data frame received is taken as damaged; the
    // `corruptSent`-th data frame sent has a byte of its payload changed
    // before its check sums are made (a stream the line checks cannot catch).
    void SetFaults(int deafAfter, int damageSent, int damageReceived, int corruptSent = 0);
    bool Deaf() const { return m_deaf; }
    int ReceivedDataFrames() const { return m_receivedDataFrames; }

private:
    struct SentFrame {
        std::uint16_t seq = 0;
        // With a packer the payload stays in m_packed, from the stream
        // offset `at` (m_packedBase counts what was cut off its front);
        // without one it is a copy of its own.
        std::uint64_t at = 0;
        int size = 0;
        QByteArray payload;
        std::int64_t firstSent = -1;
        int sends = 0;
    };
    char* PayloadOf(SentFrame& f) {
        return m_packer ? m_packed.data() + static_cast<qsizetype>(f.at - m_packedBase) : f.payload.data();
    }

    void ResetSession(std::uint32_t nonce);
    void OnFrame(const Frame& frame, std::int64_t now);
    void DecodeReceived(qsizetype size, std::int64_t now);
    void OnDamaged(const Frame& frame, std::int64_t now);
    void ProcessAck(std::uint16_t ack, std::int64_t now);
    void RequestNak(std::int64_t now);
    void EmitControl(QByteArray& wire, FrameType type, const QByteArray& payload = QByteArray());
    void ProduceFrames(std::int64_t now, QByteArray& wire);
    // Responder: a HELLO of another nonce while a one-program session is open.
    bool HelloMustWait(std::uint32_t nonce, std::int64_t now) const;
    void BeginFeatures(const SessionFeatures& features);
    void Deliver(const QByteArray& payload);
    qsizetype PlainPending() const { return m_out.size() - m_outPos; }
    qsizetype PackedPending() const { return m_packed.size() - m_packedPos; }
    bool ShortFrameAllowed() const { return m_urgent || m_unacked.empty(); }
    bool CanPack() const;
    void Pack();
    bool CanCutFrame() const;

    Role m_role;
    EndpointConfig m_cfg;
    CFrameDecoder m_decoder;

    std::uint32_t m_nonce = 0;
    std::uint8_t m_tag = 0;
    bool m_established = false;
    std::int64_t m_helloDue = 0;
    int m_helloInterval = 0;
    bool m_helloAnswerDue = false;
    bool m_newSession = false;
    SessionFeatures m_features;
    QByteArray m_helloAnswer;  // responder: the answer to this session's HELLO
    bool m_streamFailed = false;
    bool m_peerBusy = false;       // initiator: the last answer said "busy"
    std::int64_t m_lastBusyMs = -1;
    bool m_sessionClosed = false;  // responder: the session's end was heard
    std::deque<std::uint32_t> m_busyDue;  // responder: nonces owed a busy answer
    std::uint64_t m_busyAnswersSent = 0;
    std::int64_t m_lastSentMs = -1;  // the last frame this end sent

    // Sending side: the plain stream, and with compression its sealed units.
    QByteArray m_out;
    qsizetype m_outPos = 0;
    std::unique_ptr<CStreamPacker> m_packer;
    QByteArray m_packed;  // packed units: unacknowledged frames, then what is not framed yet
    qsizetype m_packedPos = 0;
    std::uint64_t m_packedBase = 0;  // the stream offset of m_packed's first byte
    bool m_urgent = false;
    // With stored units agreed: whether units are compressed while the line
    // holds this end back (measured, PackingChoice.h).
    CPackingChoice m_packing{0};
    // Where each unit ends in the packed stream and in the plain one, and
    // which way it was packed, until the peer acknowledges it; the packed
    // bytes framed and acknowledged so far, and the plain bytes of the units
    // acknowledged whole.
    struct UnitEnd {
        std::uint64_t packedEnd;
        std::uint64_t plainEnd;
        bool compressWhenBehind;
    };
    std::deque<UnitEnd> m_unitEnds;
    std::uint64_t m_packedTotal = 0;
    std::uint64_t m_packedAcked = 0;
    std::uint64_t m_plainAcked = 0;
    std::deque<SentFrame> m_unacked;
    std::size_t m_nextTransmit = 0;  // index into m_unacked of the next frame to (re)send
    std::uint16_t m_sendBase = 0;
    std::uint16_t m_nextSeq = 0;
    std::int64_t m_timerStart = 0;
    int m_rto = 0;
    double m_srtt = -1;
    double m_rttvar = 0;
    int m_timeouts = 0;
    bool m_stalled = false;
    bool m_probeDue = false;  // lossless: the oldest frame goes again
    std::int64_t m_lastGoBackMs = -1;
    std::uint16_t m_lastGoBackSeq = 0;

    // Receiving side.
    std::uint16_t m_recvNext = 0;
    bool m_ackDue = false;
    bool m_nakDue = false;
    std::int64_t m_lastNakMs = -1;
    std::uint16_t m_lastNakFor = 0;
    QByteArray m_received;
    std::unique_ptr<CStreamUnpacker> m_unpacker;
    std::int64_t m_lastPeerMs = -1;

    // Faults.
    int m_deafAfter = 0;
    int m_damageSent = 0;
    int m_damageReceived = 0;
    int m_corruptSent = 0;
    int m_receivedDataFrames = 0;
    int m_sentDataFrames = 0;
    bool m_deaf = false;

    EndpointStats m_stats;
};

}  // namespace Link
