#pragma once
// A session of the program with the terminal: the port, the link protocol
// and the program-side view of the terminal's answers.
//
// All input and output runs on a private thread that owns the port, so the
// caller needs no event loop, and acknowledgements keep flowing while the
// caller pauses. Sends are pipelined: a command or a record is queued and the
// call returns at once (it blocks only while a good amount is still queued);
// a failure of the link shows in the next call. Every wait is bounded: the
// link counts as lost when the terminal has owed us something (an
// acknowledgement, an answer) and sent no frame for `linkTimeoutMs`, or when
// the port reports a hang-up; from then on every call fails at once.

#include "components/parlink/protocol/LinkEndpoint.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "components/parlink/security/PortNames.h"
#include "components/parlink/protocol/RecordBlockStream.h"
#include "components/parlink/session/AnswerBatch.h"
#include "components/parlink/session/WaresCopies.h"
#include "components/parlink/session/WakeSignal.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QThread;

struct CLinkSettings {
    int baudRate = 115200;
    int linkTimeoutMs = 3000;     // silence of a terminal that owes us frames
    int answerTimeoutMs = 10000;  // no answer at all to a Receive
    int connectTimeoutMs = 2000;  // local socket connection
    int closeTimeoutMs = 5000;    // waiting on close for the terminal's confirmation, without progress
    Link::EndpointConfig endpoint;
    // Network ports: where this program keeps its key and pins (the folder
    // of the user's own settings file); empty without settings files.
    QString identityFolder;
    // FramePayload was given; otherwise a socket uses the largest frames.
    bool framePayloadSet = false;
    // Window was given; otherwise a socket keeps the socket's window in flight.
    bool windowSet = false;
    // SocketCompression: whether the program offers zstd on a socket.
    bool socketCompression = true;

    // Section [link] of the component's settings files (a later file overrides
    // an earlier one key by key, ParlinkSettingsFiles.h); missing keys keep the
    // defaults above: BaudRate, LinkTimeoutMs, AnswerTimeoutMs, ConnectTimeoutMs,
    // CloseTimeoutMs, FramePayload, Window, and ProtocolVersion (the highest
    // version offered to the terminal: 2, or 1 to keep a session to version 1).
    static CLinkSettings Load(const QStringList& settingsFiles);

    // The link time-out used: never shorter than the time two full frames
    // take on the line at BaudRate plus a second, so a slow line is not
    // mistaken for a dead one.
    int EffectiveLinkTimeoutMs() const;
};

class CLinkSession {
public:
    explicit CLinkSession(const CLinkSettings& settings);
    ~CLinkSession();
    CLinkSession(const CLinkSession&) = delete;
    CLinkSession& operator=(const CLinkSession&) = delete;

    // Opens the port and starts the session (the terminal is not asked yet).
    bool Open(const CPortTarget& target, QString* error = nullptr);
    // Says goodbye and closes the port. True only when the terminal confirmed
    // the session's end: it answered a ping sent after everything queued
    // (so it has carried out every command) and acknowledged every frame,
    // the goodbye included. The wait ends without progress from the terminal
    // after `closeTimeoutMs`, at once when the link is lost.
    bool Close();
    bool IsOpen() const;

    bool SendCommand(const QString& command) { return Queue(Link::MessageType::Command, command); }
    bool SendData(const QString& data) { return Queue(Link::MessageType::Data, data); }
    // Data already in Windows-1251, as the program's files keep records:
    // they go as they are where the terminal agreed on that page, without a
    // conversion to UTF-16 and back. The same on the line as SendData of
    // their text otherwise.
    bool SendDataWindows1251(QByteArrayView bytes);
    bool EndData() { return Queue(Link::MessageType::EndData, QString()); }
    // The next answer; an empty answer when the terminal has none pending.
    bool Receive(QString* answer);
    // The next answer, as Receive gives it, in Windows-1251 where every
    // character of it is one of the page's: `*bytes` then refers to it (valid
    // until the next call on the session) and `*text` is empty. Otherwise
    // `*bytes` is empty and `*text` holds the answer.
    bool ReceiveWindows1251(QByteArrayView* bytes, QString* text);
    // True when the terminal answers a ping (after everything sent before it)
    // within `timeoutMs`.
    bool WaitLink(int timeoutMs);

    bool Failed() const;
    QString FailureText() const;
    Link::EndpointStats Stats() const;
    // What the terminal agreed to; version 0 until it answered.
    Link::SessionFeatures Features() const;
    // The terminal answered our HELLO with "busy" and has not taken the
    // session yet (the HELLO goes on being repeated).
    bool PeerBusy() const;
    // After a failed Open: the port is another program's now.
    bool PortInUse() const;

private:
    class CIoThread;
    friend class CIoThread;

    struct SessionState;
    // A copy of one part of the session's state, taken under the lock.
    template <typename T>
    T Locked(T SessionState::*part) const {
        std::lock_guard guard(m_lock);
        return m_s.*part;
    }
    bool Queue(Link::MessageType type, const QString& text);
    // Puts a message on the outbox (caller's thread): `text` through the
    // block writer where one is used, else as a text message; already
    // written code-page bytes `page` (with `text` left empty) where given.
    bool QueueMessage(Link::MessageType type, const QString& text, QByteArrayView page, bool hasPage);
    // The next answer as the line carried it; empty when the terminal has
    // none pending. Valid until the next call.
    bool NextAnswer(Link::CAnswerBatch::Answer* answer);
    // Where both ends agreed on wares rows: an upload's wares are kept once
    // the terminal stored them, and a journal download first names the
    // copies kept ("15H"). Caller's thread.
    void FollowForCopies(Link::MessageType type, const QString& text);
    // A record's piece in Windows-1251 for the copy of an upload.
    void FollowDataForCopies(QByteArrayView windows1251);
    void AddPieceForCopies(qsizetype characters);
    void AnswerForCopies(const QString& answer);
    void IoMain();
    // What the terminal agreed, as the caller's thread keeps it once known
    // (a session's features never change after the HELLO's answer), so that
    // a record costs no lock for it.
    const Link::SessionFeatures& Agreed() { return m_agreedKnown ? m_agreed : LearnAgreed(); }
    const Link::SessionFeatures& LearnAgreed();
    void FailLocked(const QString& why);
    // The caller queued something (m_lock held): an I/O thread asleep on its
    // line wakes for it now, not at its next time-out.
    void WakeIoLocked();
    // The records gathered for a block, written out before another message
    // (caller's thread; the encoding runs outside the lock).
    QByteArray FlushBlocks();
    bool WaitFor(std::unique_lock<std::mutex>& lock, std::int64_t deadlineMs,
                 const std::function<bool()>& done);

    const CLinkSettings m_settings;
    CPortTarget m_target;
    std::unique_ptr<QThread> m_thread;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    CWakeSignal m_wake;
    // Answers the caller has taken out of the session's queue in one step and
    // hands out one a Receive, without the lock (the caller's thread only).
    Link::CAnswerBatch m_taken;
    // An answer turned into Windows-1251 for ReceiveWindows1251 (caller's).
    QByteArray m_answerPage;
    // Everything one session knows, set back as a whole when a session opens.
    struct SessionState {
        // Caller -> I/O thread.
        QByteArray outbox;
        bool outboxUrgent = false;
        bool stop = false;
        // The I/O thread is (about to be) asleep waiting for its line: what
        // the caller queues wakes it (m_wake).
        bool ioWaiting = false;
        bool ioWoken = false;
        // I/O thread -> caller.
        bool openDone = false;
        bool open = false;
        bool failed = false;
        QString failure;
        Link::CAnswerBatch answers;
        std::uint64_t progress = 0;  // messages received or our frames acknowledged
        std::uint32_t lastPong = 0;
        std::uint32_t lastPollReply = 0;
        std::uint32_t pollIssued = 0;
        std::uint32_t nextId = 0;
        bool drained = true;
        Link::EndpointStats stats;
        // Version 0 until the terminal has answered the HELLO.
        Link::SessionFeatures features = [] {
            Link::SessionFeatures f;
            f.version = 0;
            return f;
        }();
        bool peerBusy = false;
        bool portInUse = false;
        // Texts queued before the terminal answered go in UTF-8, which every
        // version reads; later ones in the agreed code page where they fit.
        Link::TextCoding coding = Link::TextCoding::Utf8;
        // The wares copies named to the terminal for this session's journal.
        std::vector<std::shared_ptr<const Link::CWaresCopy>> references;
    };
    SessionState m_s;  // guarded by m_lock
    // The caller's own: records gathered into blocks where both ends agreed.
    std::unique_ptr<Link::CRecordBlockWriter> m_blocks;
    // The caller's own: code-page records gathered as messages, not queued yet
    // (FlushBlocks hands them over).
    QByteArray m_gathering;
    // Mirrors m_s.failed for the caller's lock-free path.
    std::atomic<bool> m_failedSeen{false};
    // The caller's own: the copies of uploaded wares, and where an upload is.
    std::unique_ptr<Link::CWaresCopies> m_copies;
    bool m_copiesUsable = false;
    Link::SessionFeatures m_agreed;  // the caller's copy; valid once m_agreedKnown
    bool m_agreedKnown = false;
    struct CopyState {
        bool records = false;       // the data now are the wares' records
        bool awaitingSync = false;  // the load's end was sent: "SYNC" keeps the copy
        QByteArray piece;           // the record not ended yet, in generalised UTF-8
    } m_copy;
};
