#include "components/parlink/session/LinkSession.h"

#include "components/parlink/security/LinkTls.h"
#include "components/parlink/session/LinkTransport.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/ProfileFile.h"

#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

// The I/O thread wakes at least this often to pick up what the caller queued.
constexpr int kQuantumMs = 2;
// Bounds of the queued bytes between caller, protocol and port. A serial
// line takes seconds for them (a caller's progress stays close to what went
// out); a socket takes them in a moment, and the I/O thread, which may sleep
// a quantum before it takes the outbox again, must find enough there to keep
// the socket busy meanwhile.
constexpr qsizetype kOutboxLimit = 128 * 1024;
constexpr qsizetype kSocketOutboxLimit = 1024 * 1024;
constexpr qsizetype kUnframedLimit = 128 * 1024;
constexpr qsizetype kSocketUnframedLimit = 1024 * 1024;
constexpr qint64 kPortWriteLimit = 32 * 1024;
// Records the caller gathers before it takes the lock to queue them: small
// enough to stay in its processor's cache, large enough that the lock is
// rare.
constexpr qsizetype kGatheringPiece = 16 * 1024;
// Answers not yet taken by the caller; beyond this the port is not read, so
// the terminal's window fills and it waits.
constexpr qsizetype kInboxLimit = 16 * 1024 * 1024;

// The link's own waits run on real time, whatever clock a test installs for
// the exchange code.
std::int64_t NowMs() {
    static CSystemClock clock;
    return clock.NowMs();
}

// What the transport reads goes straight into the endpoint's frame decoder;
// its frames are taken as each piece arrives.
class CEndpointSink final : public ILinkTransport::IReadSink {
public:
    explicit CEndpointSink(Link::CLinkEndpoint& endpoint) : m_endpoint(endpoint) {}
    char* Space(qsizetype size) override { return m_endpoint.ReceiveSpace(size); }
    void Filled(qsizetype n) override { m_endpoint.Received(n, NowMs()); }

private:
    Link::CLinkEndpoint& m_endpoint;
};

// Windows-1251 bytes in generalised UTF-8; ASCII is the same in both.
void AppendWindows1251AsUtf8(QByteArray& out, QByteArrayView page) {
    const bool ascii = std::all_of(page.begin(), page.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii) out.append(page);
    else Link::AppendText(out, CodePage::FromWindows1251(page.data(), page.size()));
}

QString AnswerText(const Link::CAnswerBatch::Answer& a) {
    return a.codePage ? CodePage::FromWindows1251(a.bytes.data(), a.bytes.size())
                      : Link::DecodeText(a.bytes.data(), a.bytes.size());
}

}  // namespace

CLinkSettings CLinkSettings::Load(const QStringList& settingsFiles) {
    CLinkSettings s;
    s.identityFolder = LinkTls::ProgramIdentityFolder(settingsFiles);
    const QString section = QStringLiteral("link");
    // A value that is not a positive number keeps the default.
    auto get = [&](const char* key, int def, int lo, int hi) {
        const int v = Profile::ReadLayeredInt(settingsFiles, section, QLatin1String(key), def);
        return v <= 0 ? def : std::clamp(v, lo, hi);
    };
    s.baudRate = get("BaudRate", s.baudRate, 50, 4000000);
    s.linkTimeoutMs = get("LinkTimeoutMs", s.linkTimeoutMs, 200, 600000);
    s.answerTimeoutMs = get("AnswerTimeoutMs", s.answerTimeoutMs, 200, 600000);
    s.connectTimeoutMs = get("ConnectTimeoutMs", s.connectTimeoutMs, 50, 600000);
    s.closeTimeoutMs = get("CloseTimeoutMs", s.closeTimeoutMs, 1, 600000);
    s.endpoint.maxPayload = get("FramePayload", 0, 16, Link::kMaxFramePayload);
    s.framePayloadSet = s.endpoint.maxPayload > 0;
    if (!s.framePayloadSet) s.endpoint.maxPayload = Link::EndpointConfig().maxPayload;
    s.endpoint.window = get("Window", 0, 1, Link::kSocketWindow);
    s.windowSet = s.endpoint.window > 0;
    if (!s.windowSet) s.endpoint.window = Link::EndpointConfig().window;
    const QString socketCompression =
        Profile::ReadLayeredString(settingsFiles, section, QStringLiteral("SocketCompression"), QString()).trimmed();
    s.socketCompression = socketCompression.compare(QLatin1String("none"), Qt::CaseInsensitive) != 0;
    s.endpoint.capabilities.maxVersion =
        static_cast<std::uint8_t>(get("ProtocolVersion", s.endpoint.capabilities.maxVersion, 1, Link::kProtocolVersion));
    return s;
}

int CLinkSettings::EffectiveLinkTimeoutMs() const {
    const double frameMs = (endpoint.maxPayload + Link::kFrameOverhead) * 10.0 * 1000.0 / std::max(1, baudRate);
    return std::max(linkTimeoutMs, static_cast<int>(2 * frameMs) + 1000);
}

class CLinkSession::CIoThread final : public QThread {
public:
    explicit CIoThread(CLinkSession* session) : m_session(session) {}
    void run() override { m_session->IoMain(); }

private:
    CLinkSession* m_session;
};

CLinkSession::CLinkSession(const CLinkSettings& settings) : m_settings(settings) {}

CLinkSession::~CLinkSession() { Close(); }

bool CLinkSession::Open(const CPortTarget& target, QString* error) {
    Close();
    m_blocks.reset();
    m_agreedKnown = false;
    m_copy = CopyState();
    if (!m_copies && !m_settings.identityFolder.isEmpty())
        m_copies = std::make_unique<Link::CWaresCopies>(m_settings.identityFolder + QStringLiteral("wares"));
    m_copiesUsable = m_copies && m_copies->Usable();
    {
        std::lock_guard guard(m_lock);
        m_target = target;
        m_s = SessionState();
        m_taken.Clear();
    }
    m_thread = std::make_unique<CIoThread>(this);
    m_thread->start();
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_s.openDone; });
    if (!m_s.open) {
        const QString why = m_s.failure;
        lock.unlock();
        m_thread->wait();
        m_thread.reset();
        if (error) *error = why;
        return false;
    }
    return true;
}

bool CLinkSession::IsOpen() const {
    std::lock_guard guard(m_lock);
    return m_s.open;
}

bool CLinkSession::Close() {
    if (!m_thread) return false;
    bool confirmed = false;
    const QByteArray gathered = FlushBlocks();
    {
        std::unique_lock lock(m_lock);
        m_s.outbox.append(gathered);
        // Before the terminal answered the HELLO nothing was carried out and
        // nobody would confirm anything.
        if (m_s.open && !m_s.failed && m_s.features.version > 0) {
            // The pong says every command before it was carried out; the
            // acknowledgement of the goodbye, that the terminal heard the end.
            const std::uint32_t id = ++m_s.nextId;
            Link::AppendIdMessage(m_s.outbox, Link::MessageType::Ping, id);
            Link::AppendEmptyMessage(m_s.outbox, Link::MessageType::Bye);
            m_s.outboxUrgent = true;
            WakeIoLocked();
            const auto done = [&] { return m_s.failed || (m_s.lastPong >= id && m_s.drained && m_s.outbox.isEmpty()); };
            // Bounded by the link time-out (a silent terminal) and by the
            // close time-out, which restarts whenever the terminal makes
            // progress: on a slow line much may still be on its way.
            for (;;) {
                const std::uint64_t seen = m_s.progress;
                const bool finished = WaitFor(lock, NowMs() + m_settings.closeTimeoutMs,
                                              [&] { return done() || m_s.progress != seen; });
                if (done() || !finished) break;
            }
            confirmed = !m_s.failed && m_s.lastPong >= id && m_s.drained && m_s.outbox.isEmpty();
        }
        m_s.stop = true;
        WakeIoLocked();
    }
    m_changed.notify_all();
    m_thread->wait();
    m_thread.reset();
    // A load the terminal did not confirm is no copy of what it holds.
    if (m_copies) m_copies->Abandon();
    m_copy = CopyState();
    m_taken.Clear();
    std::lock_guard guard(m_lock);
    m_s.open = false;
    return confirmed;
}

bool CLinkSession::Failed() const { return Locked(&SessionState::failed); }
QString CLinkSession::FailureText() const { return Locked(&SessionState::failure); }
Link::EndpointStats CLinkSession::Stats() const { return Locked(&SessionState::stats); }
Link::SessionFeatures CLinkSession::Features() const { return Locked(&SessionState::features); }

const Link::SessionFeatures& CLinkSession::LearnAgreed() {
    std::lock_guard guard(m_lock);
    m_agreed = m_s.features;
    m_agreedKnown = m_agreed.version > 0;
    return m_agreed;
}
bool CLinkSession::PortInUse() const { return Locked(&SessionState::portInUse); }
bool CLinkSession::PeerBusy() const { return Locked(&SessionState::peerBusy); }

void CLinkSession::FailLocked(const QString& why) {
    if (m_s.failed) return;
    m_s.failed = true;
    m_failedSeen.store(true, std::memory_order_relaxed);
    m_s.failure = why;
}

bool CLinkSession::WaitFor(std::unique_lock<std::mutex>& lock, std::int64_t deadlineMs,
                           const std::function<bool()>& done) {
    // NowMs and steady_clock share their epoch (CSystemClock).
    const std::chrono::steady_clock::time_point deadline{std::chrono::milliseconds(deadlineMs)};
    return m_changed.wait_until(lock, deadline, done);
}

QByteArray CLinkSession::FlushBlocks() {
    QByteArray out;
    out.swap(m_gathering);
    if (m_blocks) m_blocks->Flush(out);
    return out;
}

void CLinkSession::FollowForCopies(Link::MessageType type, const QString& text) {
    if (!m_copiesUsable || !Agreed().waresRows) return;
    if (type == Link::MessageType::Data) {
        if (!m_copy.records) return;
        Link::AppendText(m_copy.piece, text);
        AddPieceForCopies(text.size());
        return;
    }
    m_copy.records = false;
    m_copy.piece.clear();
    if (type != Link::MessageType::Command) return;
    if (text == QLatin1String("151")) {
        m_copies->Begin();
        m_copy.records = true;
    } else if (text == QLatin1String("003")) {
        m_copy.awaitingSync = m_copies->Writing();
    } else if (text == QLatin1String("002") || text == QLatin1String("ROL") || text == QLatin1String("004")) {
        m_copies->Abandon();
        m_copy.awaitingSync = false;
    } else if (text == QLatin1String("021") || text == QLatin1String("031")) {
        // Only copies that are exactly what their names say are named.
        std::vector<std::shared_ptr<const Link::CWaresCopy>> references;
        QStringList names;
        for (const QByteArray& digest : m_copies->Held(Link::kWaresCopiesOffered)) {
            if (auto copy = m_copies->Load(digest)) {
                names << QString::fromLatin1(digest.toHex());
                references.push_back(std::move(copy));
            }
        }
        {
            std::lock_guard guard(m_lock);
            m_s.references = std::move(references);
        }
        if (names.isEmpty()) return;
        Queue(Link::MessageType::Command, QStringLiteral("15H"));
        Queue(Link::MessageType::Data, names.join(QLatin1Char(',')));
    }
}

void CLinkSession::FollowDataForCopies(QByteArrayView windows1251) {
    if (!m_copiesUsable || !m_copy.records || !Agreed().waresRows) return;
    AppendWindows1251AsUtf8(m_copy.piece, windows1251);
    AddPieceForCopies(windows1251.size());
}

// A piece shorter than a whole piece ends its record.
void CLinkSession::AddPieceForCopies(qsizetype characters) {
    if (characters >= Link::kRecordPiece) return;
    m_copies->AddUtf8(m_copy.piece);
    m_copy.piece.clear();
}

void CLinkSession::AnswerForCopies(const QString& answer) {
    if (!m_copy.awaitingSync || answer.isEmpty()) return;
    m_copy.awaitingSync = false;
    if (answer == QLatin1String("SYNC")) m_copies->Confirm();
    else m_copies->Abandon();
}

bool CLinkSession::Queue(Link::MessageType type, const QString& text) {
    FollowForCopies(type, text);
    return QueueMessage(type, text, QByteArrayView(), false);
}

bool CLinkSession::SendDataWindows1251(QByteArrayView bytes) {
    FollowDataForCopies(bytes);
    return QueueMessage(Link::MessageType::Data, QString(), bytes, true);
}

bool CLinkSession::QueueMessage(Link::MessageType type, const QString& text, QByteArrayView page, bool hasPage) {
    QByteArray gathered;
    bool taken = false;
    if (!m_blocks && Agreed().recordBlocks) {
        // Agreed only on a slow serial line (IoMain): the line, not this
        // processor, is the limit, so the streams are packed hard.
        const Link::TextCoding coding = Locked(&SessionState::coding);
        m_blocks = std::make_unique<Link::CRecordBlockWriter>(coding, Link::ZstdLevelForLine(m_settings.baudRate));
    }
    if (m_blocks) {
        const QString blockText = hasPage ? CodePage::FromWindows1251(page.data(), page.size()) : text;
        if (type == Link::MessageType::Command)
            m_blocks->Command(blockText, gathered);
        else if (type == Link::MessageType::Data)
            taken = m_blocks->Data(blockText, gathered);
        else
            m_blocks->Flush(gathered);
    } else if (type == Link::MessageType::Data && hasPage && !page.isEmpty() && Agreed().version > 0 &&
               Agreed().codePage == Link::kCodePageWindows1251) {
        // A file's records, one after another: gathered here and handed to
        // the I/O thread a piece at a time, not taking the lock for each.
        // Every wait and every other message hands them over first.
        Link::AppendWindows1251Message(m_gathering, type, page.data(), page.size());
        if (m_gathering.size() < kGatheringPiece) return !m_failedSeen.load(std::memory_order_relaxed);
        taken = true;
    }
    std::unique_lock lock(m_lock);
    if (!m_s.open || m_s.failed) return false;
    m_s.outbox.append(m_gathering);
    m_gathering.resize(0);
    m_s.outbox.append(gathered);
    if (taken)
        ;  // gathered for a block or a piece
    else if (type == Link::MessageType::EndData)
        Link::AppendEmptyMessage(m_s.outbox, type);
    else if (hasPage && m_s.coding == Link::TextCoding::Windows1251 && !page.isEmpty())
        Link::AppendWindows1251Message(m_s.outbox, type, page.data(), page.size());
    else if (hasPage)
        Link::AppendTextMessage(m_s.outbox, type, CodePage::FromWindows1251(page.data(), page.size()), m_s.coding);
    else
        Link::AppendTextMessage(m_s.outbox, type, text, m_s.coding);
    // Commands are short and usually followed by a wait: frame them at once.
    if (type != Link::MessageType::Data) m_s.outboxUrgent = true;
    WakeIoLocked();
    const qsizetype limit = m_target.kind == CPortTarget::Kind::Serial ? kOutboxLimit : kSocketOutboxLimit;
    if (m_s.outbox.size() > limit) {
        // The I/O thread takes the outbox as the line drains; a dead line
        // ends this wait by failing the session.
        while (m_s.outbox.size() > limit && !m_s.failed) m_changed.wait(lock);
    }
    return !m_s.failed;
}

bool CLinkSession::Receive(QString* answer) {
    if (!answer) return false;
    Link::CAnswerBatch::Answer a;
    if (!NextAnswer(&a)) return false;
    *answer = AnswerText(a);
    if (m_copy.awaitingSync) AnswerForCopies(*answer);
    return true;
}

bool CLinkSession::ReceiveWindows1251(QByteArrayView* bytes, QString* text) {
    if (!bytes || !text) return false;
    Link::CAnswerBatch::Answer a;
    if (!NextAnswer(&a)) return false;
    if (m_copy.awaitingSync) AnswerForCopies(AnswerText(a));
    text->clear();
    if (a.codePage) {
        *bytes = a.bytes;
        return true;
    }
    const QString decoded = AnswerText(a);
    m_answerPage.clear();
    if (CodePage::AppendWindows1251Exactly(decoded, m_answerPage)) {
        *bytes = m_answerPage;
    } else {
        *bytes = QByteArrayView();
        *text = decoded;
    }
    return true;
}

bool CLinkSession::NextAnswer(Link::CAnswerBatch::Answer* answer) {
    const QByteArray gathered = FlushBlocks();
    // One at a time from what was taken before: a journal's lines cost no
    // lock each, and the I/O thread is not held up by a caller's lock.
    if (gathered.isEmpty() && !m_taken.Empty()) {
        *answer = m_taken.Take();
        return true;
    }
    std::unique_lock lock(m_lock);
    m_s.outbox.append(gathered);
    auto take = [&] {
        if (m_taken.Empty()) {
            // The read batch goes back to the I/O thread, its capacity kept.
            m_taken.Clear();
            m_taken.Swap(m_s.answers);
        }
        lock.unlock();
        *answer = m_taken.Take();
        return true;
    };
    if (!m_taken.Empty() || !m_s.answers.Empty()) return take();
    if (!m_s.open || m_s.failed) return false;
    const std::uint32_t id = ++m_s.nextId;
    Link::AppendIdMessage(m_s.outbox, Link::MessageType::Poll, id);
    m_s.outboxUrgent = true;
    WakeIoLocked();
    m_s.pollIssued = id;
    // Bounded by the link time-out (handled by the I/O thread) and by the
    // answer time-out, which restarts whenever the terminal makes progress:
    // on a slow line the request may wait behind many records still on
    // their way.
    for (;;) {
        const std::uint64_t seen = m_s.progress;
        const bool done = WaitFor(lock, NowMs() + m_settings.answerTimeoutMs, [&] {
            return !m_s.answers.Empty() || m_s.lastPollReply >= id || m_s.failed || m_s.progress != seen;
        });
        if (!m_s.answers.Empty()) return take();
        if (m_s.lastPollReply >= id) {
            *answer = Link::CAnswerBatch::Answer();
            return true;
        }
        if (m_s.failed) return false;
        if (!done) {
            FailLocked(QStringLiteral("no answer from the terminal"));
            return false;
        }
    }
}

bool CLinkSession::WaitLink(int timeoutMs) {
    const QByteArray gathered = FlushBlocks();
    std::unique_lock lock(m_lock);
    m_s.outbox.append(gathered);
    if (!m_s.open || m_s.failed) return false;
    const std::uint32_t id = ++m_s.nextId;
    Link::AppendIdMessage(m_s.outbox, Link::MessageType::Ping, id);
    m_s.outboxUrgent = true;
    WakeIoLocked();
    WaitFor(lock, NowMs() + std::max(0, timeoutMs), [&] { return m_s.lastPong >= id || m_s.failed; });
    return m_s.lastPong >= id && !m_s.failed;
}

void CLinkSession::WakeIoLocked() {
    if (!m_s.ioWaiting || m_s.ioWoken) return;
    m_s.ioWoken = true;
    m_wake.Signal();
}

void CLinkSession::IoMain() {
    CTransportOptions options;
    options.baudRate = m_settings.baudRate;
    options.connectTimeoutMs = m_settings.connectTimeoutMs;
    options.identityFolder = m_settings.identityFolder;
    auto transport = MakeLinkTransport(m_target, options);
    m_wake.Drain();  // nothing left over from a session before
    transport->SetWakeFd(m_wake.Fd());
    QString error;
    const bool opened = transport->Open(&error);
    {
        std::lock_guard guard(m_lock);
        m_s.openDone = true;
        m_s.open = opened;
        if (!opened) m_s.failure = error;
        m_s.portInUse = !opened && transport->InUse();
    }
    m_changed.notify_all();
    if (!opened) return;

    Link::EndpointConfig config = m_settings.endpoint;
    // Only a serial line has a speed to go by.
    const bool slowLine = m_target.kind == CPortTarget::Kind::Serial && m_settings.baudRate <= Link::kSlowLineBaud;
    config.zstdLevel = Link::ZstdLevelForLine(m_target.kind == CPortTarget::Kind::Serial ? m_settings.baudRate : 0);
    // Record blocks pay where the line is the limit; on a socket or a fast
    // serial line both ends' processors are, and the plain stream is faster.
    config.capabilities.recordBlocks = config.capabilities.recordBlocks && slowLine;
    config.capabilities.waresRows = config.capabilities.waresRows && m_copiesUsable;
    // A socket has no line to share with repeats: frames as large as the
    // protocol allows halve the per-frame work, and a wide window keeps both
    // ends busy instead of waiting for each other's acknowledgements, unless
    // the settings say otherwise.
    if (m_target.kind != CPortTarget::Kind::Serial) {
        if (!m_settings.framePayloadSet) config.maxPayload = Link::kMaxFramePayload;
        if (!m_settings.windowSet) config.window = Link::kSocketWindow;
        config.unitPlain = Link::kMaxUnitPlain;
        config.lossless = true;
        config.capabilities.compression = config.capabilities.compression && m_settings.socketCompression;
        // A socket may be faster than compressing: units then go as they
        // stand while the terminal keeps up (LinkEndpoint.cpp, Pack).
        config.capabilities.storedUnits = config.capabilities.compression;
    }
    const qsizetype unframedLimit = m_target.kind == CPortTarget::Kind::Serial ? kUnframedLimit : kSocketUnframedLimit;
    Link::CLinkEndpoint endpoint(Link::CLinkEndpoint::Role::Initiator, config);
    std::uint32_t nonce = 0;
    while (nonce == 0) nonce = QRandomGenerator::global()->generate();
    endpoint.StartSession(nonce, NowMs());
    Link::CMessageParser parser;
    // Answers go to the caller as the bytes the line carried (CAnswerBatch).
    parser.SetTextsAsUnownedBytes(true);
    QByteArray wire;
    QByteArray taken;
    std::int64_t needSince = -1;
    bool throttled = false;
    bool established = false;
    const int linkTimeoutMs = m_settings.EffectiveLinkTimeoutMs();
    // A block's rows resolve to the copies named for this session (m_lock held).
    const Link::BlockReferences references = [this](QByteArrayView digest) -> const Link::CBlockReference* {
        for (const auto& copy : m_s.references)
            if (copy->Digest() == digest) return copy.get();
        return nullptr;
    };

    for (;;) {
        std::int64_t now = NowMs();
        bool takenUrgent = false;
        {
            std::lock_guard guard(m_lock);
            if (m_s.stop || m_s.failed) break;
            if (!m_s.outbox.isEmpty() && endpoint.UnframedBytes() < unframedLimit) {
                // The buffers take turns and keep their memory: the caller
                // fills one while another is queued (below, without holding
                // the caller up).
                taken.swap(m_s.outbox);
                takenUrgent = m_s.outboxUrgent;
                m_s.outboxUrgent = false;
                // In the same step as the outbox empties: a caller waiting for
                // everything to be delivered must not see an empty outbox and
                // an old "all acknowledged" together.
                m_s.drained = false;
                m_changed.notify_all();
            }
            throttled = m_s.answers.Bytes() > kInboxLimit;
        }
        if (!taken.isEmpty()) endpoint.QueueTaking(taken, takenUrgent);
        const bool portBusy = transport->PendingWrite() >= kPortWriteLimit;
        if (!portBusy) endpoint.Produce(now, wire);
        if (!wire.isEmpty()) transport->WriteTaking(wire);

        int waitMs = kQuantumMs;
        const std::int64_t deadline = endpoint.NextDeadline(now);
        if (!portBusy && deadline <= now) waitMs = 0;
        else if (deadline - now < waitMs) waitMs = static_cast<int>(std::max<std::int64_t>(0, deadline - now));
        if (waitMs > 0 && !throttled) {
            // Asleep on the line from here: what the caller queues meanwhile
            // wakes the wait (WakeIoLocked); what it queued already is taken
            // first.
            std::lock_guard guard(m_lock);
            if (m_s.stop || (!m_s.outbox.isEmpty() && endpoint.UnframedBytes() < unframedLimit))
                waitMs = 0;
            else
                m_s.ioWaiting = true;
        }
        if (throttled) {
            QThread::msleep(kQuantumMs);
        } else {
            CEndpointSink sink(endpoint);
            transport->WaitInto(waitMs, sink);
        }
        now = NowMs();
        if (!established && endpoint.Established()) {
            established = true;
            const Link::SessionFeatures features = endpoint.Features();
            const Link::TextCoding coding = features.codePage == Link::kCodePageWindows1251
                                                ? Link::TextCoding::Windows1251
                                                : Link::TextCoding::Utf8;
            parser.SetTextCoding(coding);
            parser.SetRecordBlocks(features.recordBlocks);
            std::lock_guard guard(m_lock);
            m_s.features = features;
            m_s.coding = coding;
        }
        const QByteArray stream = endpoint.TakeReceived();
        if (!stream.isEmpty()) parser.Feed(stream);

        std::lock_guard guard(m_lock);
        m_s.ioWaiting = false;
        if (std::exchange(m_s.ioWoken, false)) m_wake.Drain();
        m_s.peerBusy = endpoint.PeerBusy();
        bool changed = false;
        if (endpoint.Stats().dataFramesAcked != m_s.stats.dataFramesAcked) ++m_s.progress;
        // Answers in the code page go from the parser's buffer straight into
        // the caller's batch (a journal's lines, one copy each); the other
        // messages one by one. Under the lock: the batch is the caller's too.
        Link::Message m;
        const auto addAnswer = [&](const char* bytes, qsizetype size) {
            m_s.answers.Add(QByteArrayView(bytes, size), true);
            ++m_s.progress;
            changed = true;
        };
        // Only new bytes bring new messages.
        while (!stream.isEmpty()) {
            parser.TakeCodePageTexts(Link::MessageType::Answer, addAnswer);
            if (!parser.Next(&m)) break;
            ++m_s.progress;
            changed = true;
            switch (m.type) {
            case Link::MessageType::Answer:
                m_s.answers.Add(m.body, m.inCodePage);
                break;
            case Link::MessageType::AnswerBlock: {
                const auto add = [&](QByteArrayView bytes, bool codePage) { m_s.answers.Add(bytes, codePage); };
                if (!Link::ReadAnswerBlock(m.body, add, &references))
                    FailLocked(QStringLiteral("garbled data from the terminal"));
                break;
            }
            case Link::MessageType::Pong:
                m_s.lastPong = std::max(m_s.lastPong, m.id);
                break;
            case Link::MessageType::PollReply:
                m_s.lastPollReply = std::max(m_s.lastPollReply, m.id);
                break;
            default:
                break;
            }
        }
        if (parser.Failed() || endpoint.StreamFailed()) FailLocked(QStringLiteral("garbled data from the terminal"));
        if (transport->Broken())
            FailLocked(QStringLiteral("the port failed: %1").arg(transport->ErrorText()));
        // Is the terminal silent while it owes us something?
        const bool owed = !endpoint.AllAcknowledged() || !m_s.outbox.isEmpty() ||
                          m_s.pollIssued > m_s.lastPollReply;
        if (owed && !throttled) {
            if (needSince < 0) needSince = now;
            const std::int64_t since =
                std::max({needSince, endpoint.LastPeerFrameMs(), endpoint.LastBusyAnswerMs()});
            if (now - since > linkTimeoutMs)
                FailLocked(QStringLiteral("the terminal does not answer"));
        } else {
            needSince = -1;
        }
        const bool drained = endpoint.AllAcknowledged();
        if (drained != m_s.drained) changed = true;
        m_s.drained = drained;
        m_s.stats = endpoint.Stats();
        if (m_s.failed) changed = true;
        if (changed) m_changed.notify_all();
    }
    transport->Close();
    std::lock_guard guard(m_lock);
    m_changed.notify_all();
}
