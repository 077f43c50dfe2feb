#include "components/parlink/protocol/LinkEndpoint.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Link {

namespace {

// What the receive buffer holds at first: about one read of the line.
constexpr qsizetype kReceivedReserve = 64 * 1024;

// Distance from `from` forward to `to` on the 16-bit sequence circle.
inline int Ahead(std::uint16_t from, std::uint16_t to) {
    return static_cast<std::uint16_t>(to - from);
}

std::uint8_t TagOf(std::uint32_t nonce) {
    const auto tag = static_cast<std::uint8_t>(nonce & 0xFF);
    return tag ? tag : 0x5A;
}

}  // namespace

CLinkEndpoint::CLinkEndpoint(Role role, const EndpointConfig& config)
    : m_role(role), m_cfg(config) {
    m_cfg.maxPayload = std::clamp(m_cfg.maxPayload, 16, kMaxFramePayload);
    m_cfg.window = std::clamp(m_cfg.window, 1, 1024);
    m_rto = m_cfg.initialRtoMs;
}

void CLinkEndpoint::StartSession(std::uint32_t nonce, std::int64_t now) {
    ResetSession(nonce ? nonce : 1);
    m_helloDue = now;
    m_helloInterval = m_cfg.helloRetryMs;
}

void CLinkEndpoint::ResetSession(std::uint32_t nonce) {
    m_nonce = nonce;
    m_tag = TagOf(nonce);
    m_established = false;
    m_helloAnswerDue = false;
    m_features = SessionFeatures();
    m_helloAnswer.clear();
    m_peerBusy = false;
    m_sessionClosed = false;
    m_streamFailed = false;
    m_packer.reset();
    m_unpacker.reset();
    m_out.clear();
    m_outPos = 0;
    m_packed.clear();
    m_packedPos = 0;
    m_packedBase = 0;
    m_urgent = false;
    m_unacked.clear();
    m_nextTransmit = 0;
    m_sendBase = 0;
    m_nextSeq = 0;
    m_rto = m_cfg.initialRtoMs;
    m_srtt = -1;
    m_rttvar = 0;
    m_timeouts = 0;
    m_stalled = false;
    m_probeDue = false;
    m_lastGoBackMs = -1;
    m_recvNext = 0;
    m_ackDue = false;
    m_nakDue = false;
    m_lastNakMs = -1;
    m_received.clear();
    m_lastPeerMs = -1;
    m_receivedDataFrames = 0;
    m_sentDataFrames = 0;
    m_deaf = false;
}

void CLinkEndpoint::SetFaults(int deafAfter, int damageSent, int damageReceived, int corruptSent) {
    m_deafAfter = std::max(0, deafAfter);
    m_damageSent = std::max(0, damageSent);
    m_damageReceived = std::max(0, damageReceived);
    m_corruptSent = std::max(0, corruptSent);
}

void CLinkEndpoint::BeginFeatures(const SessionFeatures& features) {
    m_features = features;
    // Each session measures its own line; a span is a few units long.
    m_unitEnds.clear();
    m_packedTotal = m_packedAcked = m_plainAcked = 0;
    m_packing = CPackingChoice(8 * static_cast<std::uint64_t>(std::clamp(m_cfg.unitPlain, 1, kMaxUnitPlain)));
    if (features.compression == Compression::Zstd) {
        m_packer = std::make_unique<CStreamPacker>(m_cfg.zstdLevel);
        m_unpacker = std::make_unique<CStreamUnpacker>();
        m_unpacker->AllowStoredUnits(features.storedUnits);
    }
}

void CLinkEndpoint::Deliver(const QByteArray& payload) {
    // Room for a read's worth at once: grown a frame at a time, the stream
    // was copied again at every doubling.
    if (m_received.capacity() == 0) m_received.reserve(kReceivedReserve);
    if (!m_unpacker) {
        m_received.append(payload);
        m_stats.plainBytesReceived += static_cast<std::uint64_t>(payload.size());
        return;
    }
    const qsizetype before = m_received.size() - m_unpacker->Unchecked();
    if (!m_unpacker->Feed(payload.constData(), payload.size(), m_received)) {
        // Whatever the peer sends from here on cannot be trusted: go silent
        // and let the session end.
        m_streamFailed = true;
        m_deaf = true;
    }
    m_stats.plainBytesReceived += static_cast<std::uint64_t>(m_received.size() - m_unpacker->Unchecked() - before);
}

void CLinkEndpoint::Queue(const QByteArray& bytes, bool urgent) {
    if (m_outPos > 65536 && m_outPos > m_out.size() / 2) {
        m_out.remove(0, m_outPos);
        m_outPos = 0;
    }
    m_out.append(bytes);
    if (urgent) m_urgent = true;
}

void CLinkEndpoint::QueueTaking(QByteArray& bytes, bool urgent) {
    if (PlainPending() == 0 && !bytes.isEmpty()) {
        // Nothing queued is waiting: the bytes become the queue, and the
        // caller gets the queue's memory to fill next.
        m_out.swap(bytes);
        m_outPos = 0;
        if (urgent) m_urgent = true;
    } else {
        Queue(bytes, urgent);
    }
    bytes.resize(0);
}

QByteArray CLinkEndpoint::TakeReceived() {
    QByteArray bytes;
    bytes.swap(m_received);
    // A stored unit's bytes so far stay behind until its check holds.
    const qsizetype unchecked = m_unpacker ? m_unpacker->Unchecked() : 0;
    if (unchecked > 0) {
        m_received.reserve(std::max(kReceivedReserve, unchecked));
        m_received.append(bytes.constData() + bytes.size() - unchecked, unchecked);
        bytes.truncate(bytes.size() - unchecked);
    }
    return bytes;
}

bool CLinkEndpoint::TakeNewSession() {
    const bool fresh = m_newSession;
    m_newSession = false;
    return fresh;
}

void CLinkEndpoint::Feed(const char* data, qsizetype size, std::int64_t now) {
    m_decoder.Feed(data, size);
    DecodeReceived(size, now);
}

void CLinkEndpoint::Received(qsizetype n, std::int64_t now) {
    m_decoder.Filled(n);
    DecodeReceived(std::max<qsizetype>(n, 0), now);
}

void CLinkEndpoint::DecodeReceived(qsizetype size, std::int64_t now) {
    m_stats.wireBytesReceived += static_cast<std::uint64_t>(size);
    Frame frame;
    for (;;) {
        // Each frame is done with before the next is taken: its payload
        // stays in the decoder's buffer.
        const auto result = m_decoder.Next(&frame, true);
        if (result == CFrameDecoder::Result::NeedMore) break;
        if (result == CFrameDecoder::Result::Damaged)
            OnDamaged(frame, now);
        else
            OnFrame(frame, now);
    }
}

void CLinkEndpoint::OnDamaged(const Frame& frame, std::int64_t now) {
    ++m_stats.damagedFrames;
    if (m_deaf || !m_established || frame.tag != m_tag) return;
    RequestNak(now);
}

void CLinkEndpoint::RequestNak(std::int64_t now) {
    if (m_lastNakMs >= 0 && m_lastNakFor == m_recvNext && now - m_lastNakMs < m_cfg.nakIntervalMs)
        return;
    m_nakDue = true;
    m_lastNakMs = now;
    m_lastNakFor = m_recvNext;
}

void CLinkEndpoint::OnFrame(const Frame& frame, std::int64_t now) {
    ++m_stats.framesReceived;
    if (m_role == Role::Responder && frame.type == FrameType::Hello) {
        HelloOffer offer;
        if (!ParseHello(frame.payload, &offer)) return;
        if (HelloMustWait(offer.nonce, now)) {
            // Another program while ours is open: it hears "busy" and keeps
            // asking; the open session goes on untouched.
            if (m_busyDue.size() < 8) m_busyDue.push_back(offer.nonce);
            return;
        }
        if (offer.nonce != m_nonce || !m_established) {
            ResetSession(offer.nonce);
            m_established = true;
            m_newSession = true;
            BeginFeatures(ChooseFeatures(offer, m_cfg.capabilities));
            m_helloAnswer = HelloAnswerPayload(m_nonce, m_features);
        }
        m_helloAnswerDue = true;
        m_lastPeerMs = now;
        return;
    }
    if (m_deaf) return;
    if (frame.tag != m_tag || m_nonce == 0) {
        ++m_stats.foreignFrames;
        return;
    }
    if (m_role == Role::Initiator && frame.type == FrameType::HelloAnswer) {
        std::uint32_t nonce = 0;
        SessionFeatures chosen;
        const HelloAnswerKind kind = ReadHelloAnswer(frame.payload, m_cfg.capabilities, &nonce, &chosen);
        if (nonce != m_nonce) {
            ++m_stats.foreignFrames;
            return;
        }
        // An answer choosing what was not offered is not acted on: the
        // session stays unanswered and the caller's time-out reports it.
        if (kind == HelloAnswerKind::Untrusted) return;
        if (kind == HelloAnswerKind::Busy) {
            if (!m_established) {
                m_peerBusy = true;
                m_lastBusyMs = now;
            }
            return;
        }
        m_peerBusy = false;
        m_lastPeerMs = now;
        if (!m_established) {
            m_established = true;
            m_timerStart = now;
            BeginFeatures(chosen);
        }
        return;
    }
    if (!m_established) return;
    m_lastPeerMs = now;
    if (m_stalled) {
        // The peer is back: resume from the first frame it lacks (on a
        // lossless line, whatever was sent is still on its way).
        m_stalled = false;
        m_timeouts = 0;
        if (!m_cfg.lossless) m_nextTransmit = 0;
        m_timerStart = now;
    }
    switch (frame.type) {
    case FrameType::Data: {
        ++m_receivedDataFrames;
        if (m_damageReceived > 0 && m_receivedDataFrames == m_damageReceived) {
            ++m_stats.damagedFrames;
            RequestNak(now);
            break;
        }
        ProcessAck(frame.ack, now);
        if (frame.seq == m_recvNext) {
            m_stats.streamBytesReceived += static_cast<std::uint64_t>(frame.payload.size());
            ++m_recvNext;
            m_ackDue = true;
            Deliver(frame.payload);
            if (m_streamFailed) return;
        } else if (Ahead(frame.seq, m_recvNext) <= 32768) {
            // Already had it: the peer missed our acknowledgement.
            ++m_stats.duplicateFrames;
            m_ackDue = true;
        } else {
            ++m_stats.outOfOrderFrames;
            RequestNak(now);
        }
        if (m_deafAfter > 0 && m_receivedDataFrames >= m_deafAfter) m_deaf = true;
        break;
    }
    case FrameType::Ack:
        ProcessAck(frame.ack, now);
        break;
    case FrameType::Nak: {
        ++m_stats.naksReceived;
        ProcessAck(frame.ack, now);
        if (m_unacked.empty() || m_unacked.front().seq != frame.ack || m_nextTransmit == 0) break;
        // A NAK repeated while our go-back is still on its way is not a new loss.
        const double guard = std::max<double>(m_cfg.minRtoMs, m_srtt > 0 ? m_srtt : 0);
        if (m_lastGoBackMs >= 0 && m_lastGoBackSeq == frame.ack && now - m_lastGoBackMs < guard) break;
        m_nextTransmit = 0;
        m_lastGoBackMs = now;
        m_lastGoBackSeq = frame.ack;
        break;
    }
    default:
        break;
    }
}

void CLinkEndpoint::ProcessAck(std::uint16_t ack, std::int64_t now) {
    const int advance = Ahead(m_sendBase, ack);
    if (advance == 0 || advance > static_cast<int>(m_unacked.size())) return;
    std::int64_t sample = -1;
    for (int i = 0; i < advance; ++i) {
        const SentFrame& f = m_unacked.front();
        // Karn: only frames sent once give a trustworthy round trip.
        sample = f.sends == 1 ? now - f.firstSent : -1;
        m_packedAcked += static_cast<std::uint64_t>(f.size);
        m_unacked.pop_front();
    }
    m_sendBase = ack;
    m_probeDue = false;
    m_stats.dataFramesAcked += static_cast<std::uint64_t>(advance);
    m_nextTransmit = m_nextTransmit > static_cast<std::size_t>(advance) ? m_nextTransmit - advance : 0;
    m_timerStart = now;
    m_timeouts = 0;
    if (sample >= 0) {
        const double s = static_cast<double>(sample);
        if (m_srtt < 0) {
            m_srtt = s;
            m_rttvar = s / 2;
        } else {
            m_rttvar = 0.75 * m_rttvar + 0.25 * std::fabs(m_srtt - s);
            m_srtt = 0.875 * m_srtt + 0.125 * s;
        }
    }
    if (m_srtt >= 0)
        m_rto = std::clamp(static_cast<int>(m_srtt + 4 * m_rttvar) + 50, m_cfg.minRtoMs, m_cfg.maxRtoMs);
}

void CLinkEndpoint::EmitControl(QByteArray& wire, FrameType type, const QByteArray& payload) {
    const qsizetype before = wire.size();
    AppendFrame(wire, type, m_tag, 0, m_recvNext, payload.constData(), static_cast<int>(payload.size()));
    m_stats.wireBytesSent += static_cast<std::uint64_t>(wire.size() - before);
}

bool CLinkEndpoint::CanPack() const {
    if (!m_packer || PlainPending() == 0) return false;
    // About a window of packed bytes ahead of the line is enough; the rest
    // stays plain, where the sender's flow control sees it.
    if (PackedPending() >= static_cast<qsizetype>(m_cfg.window) * m_cfg.maxPayload) return false;
    // A short unit costs ratio: only when a short frame would be sent anyway.
    return PlainPending() >= m_cfg.unitPlain || (ShortFrameAllowed() && PackedPending() == 0) || m_urgent;
}

void CLinkEndpoint::Pack() {
    // Emptied keeping their memory: the next bytes fill it again.
    if (m_outPos > 0 && m_outPos == m_out.size()) {
        m_out.resize(0);
        m_outPos = 0;
    }
    // What no frame needs any more goes once it is most of the buffer (each
    // byte is moved a third of a time at most; unacknowledged frames are
    // repeated from here).
    const qsizetype done = m_unacked.empty() ? m_packedPos : static_cast<qsizetype>(m_unacked.front().at - m_packedBase);
    if (done > 65536 && done >= 3 * (m_packed.size() - done)) {
        m_packed.remove(0, done);
        m_packedBase += static_cast<std::uint64_t>(done);
        m_packedPos -= done;
    }
    // Compressing pays only where the line holds the sender back: while the
    // peer acknowledges so fast that few frames are on their way, the line
    // waits for this end, and a unit goes out sooner as it stands. Even when
    // it is behind, the units go as they stand where that was measured to
    // get the stream through faster (a receiver that is slower at
    // unpacking than the line is at carrying).
    const bool store = m_features.storedUnits && (static_cast<int>(m_unacked.size()) * 8 < m_cfg.window * 7 ||
                                                  !m_packing.CompressWhenBehind());
    while (CanPack()) {
        const qsizetype size = std::min<qsizetype>(PlainPending(), std::clamp(m_cfg.unitPlain, 1, kMaxUnitPlain));
        const qsizetype packedBefore = m_packed.size();
        if (store) {
            CStreamPacker::Store(m_out.constData() + m_outPos, size, m_packed);
            ++m_stats.unitsStored;
        } else if (!m_packer->Seal(m_out.constData() + m_outPos, size, m_packed)) {
            // Out of memory: nothing sensible can follow on this session.
            m_deaf = true;
            return;
        }
        m_outPos += size;
        m_stats.plainBytesSent += static_cast<std::uint64_t>(size);
        if (m_features.storedUnits) {
            m_packedTotal += static_cast<std::uint64_t>(m_packed.size() - packedBefore);
            m_unitEnds.push_back({m_packedTotal, m_stats.plainBytesSent, m_packing.CompressWhenBehind()});
        }
    }
}

bool CLinkEndpoint::CanCutFrame() const {
    const qsizetype unframed = m_packer ? PackedPending() : PlainPending();
    if (unframed == 0 || static_cast<int>(m_unacked.size()) >= m_cfg.window) return false;
    // Short frames only when asked for, or when nothing else is on its way
    // (a frame in flight will bring an acknowledgement soon, and meanwhile
    // more bytes may fill the next frame).
    return unframed >= m_cfg.maxPayload || ShortFrameAllowed();
}

bool CLinkEndpoint::HelloMustWait(std::uint32_t nonce, std::int64_t now) const {
    return nonce != m_nonce && m_established && m_features.oneProgram && !m_sessionClosed && !m_deaf &&
           !m_streamFailed && m_lastPeerMs >= 0 && now - m_lastPeerMs < m_cfg.sessionQuietMs;
}

void CLinkEndpoint::Produce(std::int64_t now, QByteArray& wire) {
    const qsizetype before = wire.size();
    while (!m_busyDue.empty()) {
        const std::uint32_t other = m_busyDue.front();
        m_busyDue.pop_front();
        const QByteArray payload = BusyAnswerPayload(other);
        AppendFrame(wire, FrameType::HelloAnswer, TagOf(other), 0, 0, payload.constData(),
                    static_cast<int>(payload.size()));
        ++m_busyAnswersSent;
    }
    ProduceFrames(now, wire);
    // An open one-program session is kept alive while there is nothing to
    // say: the terminal then knows that its program is still there.
    if (wire.size() == before && m_role == Role::Initiator && m_established && m_features.oneProgram &&
        !m_stalled && m_lastSentMs >= 0 && now - m_lastSentMs >= m_cfg.keepAliveMs)
        EmitControl(wire, FrameType::Ack);
    if (wire.size() > before) {
        m_lastSentMs = now;
    }
}

void CLinkEndpoint::ProduceFrames(std::int64_t now, QByteArray& wire) {
    if (m_role == Role::Initiator && m_nonce != 0 && !m_established) {
        if (now >= m_helloDue) {
            EmitControl(wire, FrameType::Hello, HelloPayload(m_nonce, m_cfg.capabilities));
            m_helloDue = now + m_helloInterval;
            m_helloInterval = std::min(1000, m_helloInterval * 2);
        }
        return;
    }
    if (m_role == Role::Responder && m_helloAnswerDue) {
        m_helloAnswerDue = false;
        EmitControl(wire, FrameType::HelloAnswer, m_helloAnswer);
    }
    if (m_deaf || !m_established) return;

    // Retransmission time-out: nothing acknowledged for a while.
    if (m_nextTransmit > 0 && !m_stalled && now - m_timerStart >= m_rto) {
        ++m_stats.timeouts;
        ++m_timeouts;
        m_rto = std::min(m_rto * 2, m_cfg.maxRtoMs);
        if (m_cfg.maxSilentTimeouts >= 0 && m_timeouts > m_cfg.maxSilentTimeouts) {
            m_stalled = true;
        } else if (m_cfg.lossless) {
            m_probeDue = true;
        } else {
            m_nextTransmit = 0;
        }
        m_timerStart = now;
    }

    Pack();
    QByteArray& source = m_packer ? m_packed : m_out;
    qsizetype& sourcePos = m_packer ? m_packedPos : m_outPos;
    while (CanCutFrame()) {
        const int size = static_cast<int>(std::min<qsizetype>(source.size() - sourcePos, m_cfg.maxPayload));
        SentFrame f;
        f.seq = m_nextSeq++;
        f.size = size;
        if (m_packer)
            f.at = m_packedBase + static_cast<std::uint64_t>(sourcePos);
        else
            f.payload = source.mid(sourcePos, size);
        if (!m_packer) m_stats.plainBytesSent += static_cast<std::uint64_t>(size);
        sourcePos += size;
        m_unacked.push_back(std::move(f));
        m_stats.mostFramesInFlight = std::max<std::uint64_t>(m_stats.mostFramesInFlight, m_unacked.size());
        if (m_packer && PackedPending() < m_cfg.maxPayload) Pack();
    }
    // A full frame's bytes left waiting after all the window allows: the
    // line (or the peer) holds this end back, and the span measures how fast
    // it goes. (Packed or not: a caller that hands its records over a piece
    // at a time leaves no plain bytes for moments while the window is full.)
    if (m_packer && m_features.storedUnits) {
        // What the peer has taken, in plain bytes: the units it acknowledged
        // whole. (What was packed would count a burst of packing ahead of
        // the line after every change of way.) A way is measured only once
        // every unit on the line was packed that way: on a slow line a
        // window of units packed the other way takes long to drain.
        while (!m_unitEnds.empty() && m_unitEnds.front().packedEnd <= m_packedAcked) {
            m_plainAcked = m_unitEnds.front().plainEnd;
            m_unitEnds.pop_front();
        }
        const bool oneWayOnTheLine =
            m_unitEnds.empty() || m_unitEnds.front().compressWhenBehind == m_packing.CompressWhenBehind();
        m_packing.Observe(now, m_plainAcked, UnframedBytes() >= m_cfg.maxPayload && oneWayOnTheLine);
    }
    if (UnframedBytes() == 0) {
        m_urgent = false;
        m_out.resize(0);
        m_outPos = 0;
        if (m_unacked.empty()) {
            m_packedBase += static_cast<std::uint64_t>(m_packed.size());
            m_packed.resize(0);
            m_packedPos = 0;
        }
    }

    if (m_probeDue && !m_stalled && !m_unacked.empty()) {
        SentFrame& f = m_unacked.front();
        const qsizetype before = wire.size();
        AppendFrame(wire, FrameType::Data, m_tag, f.seq, m_recvNext, PayloadOf(f), f.size);
        m_stats.wireBytesSent += static_cast<std::uint64_t>(wire.size() - before);
        ++m_unacked.front().sends;
        ++m_stats.dataFramesResent;
        m_ackDue = false;
    }
    m_probeDue = false;
    if (!m_stalled) {
        while (m_nextTransmit < m_unacked.size()) {
            if (m_nextTransmit == 0) m_timerStart = now;
            SentFrame& f = m_unacked[m_nextTransmit++];
            const qsizetype before = wire.size();
            AppendFrame(wire, FrameType::Data, m_tag, f.seq, m_recvNext, PayloadOf(f), f.size);
            m_stats.wireBytesSent += static_cast<std::uint64_t>(wire.size() - before);
            if (f.sends++ == 0) {
                f.firstSent = now;
                ++m_stats.dataFramesSent;
                m_stats.streamBytesSent += static_cast<std::uint64_t>(f.size);
                ++m_sentDataFrames;
                if (m_corruptSent > 0 && m_sentDataFrames == m_corruptSent && f.size > 0) {
                    // The payload changes before the frame is made: every check
                    // of the line holds, and so does every repeat of the frame.
                    char* const payload = PayloadOf(f);
                    payload[f.size / 2] = static_cast<char>(payload[f.size / 2] ^ 0x5A);
                    wire.truncate(before);
                    AppendFrame(wire, FrameType::Data, m_tag, f.seq, m_recvNext, payload, f.size);
                }
                if (m_damageSent > 0 && m_sentDataFrames == m_damageSent) {
                    // Flip one bit after the check sum was made.
                    wire[before + kFrameHeaderSize + f.size / 2] ^= 0x20;
                }
            } else {
                ++m_stats.dataFramesResent;
            }
            m_ackDue = false;
        }
    }
    if (m_nakDue) {
        m_nakDue = false;
        m_ackDue = false;
        ++m_stats.naksSent;
        EmitControl(wire, FrameType::Nak);
    }
    if (m_ackDue) {
        m_ackDue = false;
        EmitControl(wire, FrameType::Ack);
    }
}

std::int64_t CLinkEndpoint::NextDeadline(std::int64_t now) const {
    constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    if (!m_busyDue.empty()) return now;
    if (m_role == Role::Initiator && m_nonce != 0 && !m_established) return m_helloDue;
    if (m_helloAnswerDue) return now;
    if (m_deaf || !m_established) return kNever;
    if (m_ackDue || m_nakDue || m_probeDue || CanCutFrame() || CanPack()) return now;
    if (!m_stalled && m_nextTransmit < m_unacked.size()) return now;
    if (!m_stalled && m_nextTransmit > 0) return m_timerStart + m_rto;
    if (m_role == Role::Initiator && m_features.oneProgram && m_lastSentMs >= 0)
        return m_lastSentMs + m_cfg.keepAliveMs;
    return kNever;
}

}  // namespace Link
