#pragma once
// What the emulated terminal does with the program's messages: the command
// set of the exchange (identity, readiness, journal and filters, current
// values, directory upload transaction, info table) and the file transfer.
// Answers are link messages appended to an output buffer; long answer
// streams (journal, info table) are produced piece by piece as the link
// takes them, and the messages behind such a stream wait their turn, so the
// order of answers always follows the order of commands.

#include "components/parlink/protocol/LinkMessage.h"
#include "tools/kxterminal/TerminalState.h"
#include "tools/kxterminal/TerminalWares.h"

#include <QFile>
#include <QString>

#include <cstdint>
#include <deque>
#include <utility>
#include <memory>

class CTerminalDevice {
public:
    // The length of the record pieces the program sends; a shorter piece
    // (possibly empty) ends a record.
    static constexpr int kRecordPiece = 200;

    explicit CTerminalDevice(CTerminalState& state);
    ~CTerminalDevice();

    // A new session begins: reads the scenario afresh. `coding`: how the
    // session agreed to carry texts.
    // `journalSequence`: the session agreed on numbered scans ("02S", "00S",
    // "40T" are known only then).
    // `recordBlocks`: loads may come, and lines go, as record blocks.
    // `waresRows`: "15H" is known, and journal blocks may name rows of the
    // wares directory when the program holds a copy of it.
    void BeginSession(Link::TextCoding coding = Link::TextCoding::Utf8, bool journalSequence = false,
                      bool recordBlocks = false, bool waresRows = false);
    // The session ended (goodbye, new session, line lost): an unfinished load
    // or file transfer is discarded.
    void EndSession();
    const CScenario& Scenario() const { return m_scenario; }

    // Takes a message to work off in turn. Its bytes may refer to the
    // parser's buffer (CMessageParser::SetTextsAsUnownedBytes): what is kept
    // for later is copied.
    void Handle(Link::Message message);
    // Takes every whole message `parser` holds: a load's records that
    // nothing else waits before straight from its buffer, in one pass
    // (CMessageParser::TakeCodePageTexts), the others by TakeAtOnce or Handle.
    void TakeFrom(Link::CMessageParser& parser);
    // Works off held messages, timers and running answer streams, appending
    // at most about `budget` bytes of answers to `out`. `urgent` turns true
    // when something in `out` is awaited by the program.
    void Pump(std::int64_t now, QByteArray& out, qsizetype budget, bool* urgent);
    // The time of the next timer (delayed synchronisation); INT64_MAX none.
    std::int64_t NextTimer() const;
    bool Busy() const { return !m_hung && (!m_held.empty() || (m_stream != nullptr && !m_holding)); }
    // Whether the program has acknowledged everything sent to it so far.
    void SetLineDrained(bool drained) { m_lineDrained = drained; }
    // True once after the program said goodbye: its session is over.
    bool TakeGoodbye() { return std::exchange(m_goodbye, false); }

private:
    enum class Context { None, Stamp, Filter, Current, Records, FilePath, FileChunk, FileEnd, Echo, Window, ClearThrough, WaresHeld };
    struct Stream;
    struct Load;
    struct Transfer;

    void Process(const Link::Message& m, std::int64_t now, QByteArray& out, bool* urgent);
    void OnCommand(const QString& code, std::int64_t now, QByteArray& out, bool* urgent);
    void OnData(const QString& text, QByteArray& out, bool* urgent);
    void OnRecordBlock(const QByteArray& body);
    // A piece of a record that came in the load's code page, as its bytes.
    void OnRecordPiece(QByteArrayView bytes);
    // A record piece of a load that nothing else waits before goes to the
    // load at once, from the parser's buffer (most of an upload's bytes): no
    // copy and no allocation a record. False when it must wait its turn.
    bool TakeAtOnce(const Link::Message& message);
    // Whether a record piece in the load's code page is taken at once now.
    bool TakesRecordsAtOnce() const {
        return m_context == Context::Records && m_load && !m_hung && !m_stream && m_held.empty();
    }
    // Whether the stream has a line at `next`, reading more of its journal as needed.
    // Lines before `next` have gone out, all but those from `held` on (the
    // block being made): the memory of the others is read into again.
    bool HasLine(Stream& s, const char* held = nullptr);
    // Sends the stream's lines in blocks while the budget lasts; false when
    // the stream is held where the scenario holds it.
    bool PumpBlocks(std::int64_t now, QByteArray& out, qsizetype budget);
    void Answer(QByteArray& out, const QString& text, bool* urgent);

    void StartJournal(bool withNumbers);
    // The filters that apply now: the session's own after "40T", else the
    // ones kept in terminal.ini.
    CJournalFilter Filter() const;
    // A scan a download of this session covers (the session's window).
    bool InView(qint64 sequence) const;
    void StartInfo();
    void BeginLoad();
    void OpenDirectory(const QString& command);
    void CloseDirectory();
    void FinishLoad(std::int64_t now, QByteArray& out, bool* urgent);
    bool CommitLoad();
    void DiscardLoad();
    void FinishTransfer(const QString& sizeAndCrc, QByteArray& out, bool* urgent);
    void DiscardTransfer();
    // HoldJournalAfter: true while the journal stream waits for "release".
    // `answersQueued`: no answer of this pump is waiting to be queued.
    bool HoldJournal(std::int64_t now, bool answersQueued);

    CTerminalState& m_state;
    CScenario m_scenario;
    std::deque<Link::Message> m_held;
    std::unique_ptr<Stream> m_stream;
    std::unique_ptr<Load> m_load;
    std::unique_ptr<Transfer> m_transfer;
    Context m_context = Context::None;
    QString m_contextCode;
    std::int64_t m_syncAt = -1;
    // A journal held by HoldJournalAfter: looked at again at this time.
    bool m_holding = false;
    bool m_holdTold = false;  // "J held after N" is in the log
    bool m_lineDrained = false;
    std::int64_t m_holdCheckAt = -1;
    int m_loadCounter = 0;
    Link::TextCoding m_coding = Link::TextCoding::Utf8;
    bool m_hung = false;  // hung at the scenario's HoldAtCommand until the session ends
    bool m_goodbye = false;
    bool m_journalSequence = false;
    bool m_recordBlocks = false;
    bool m_waresRows = false;
    // The digests of the wares copies the program named ("15H") this session.
    QList<QByteArray> m_programWares;
    CTerminalWaresCache m_wares;
    // Journal sequence: the window "02S" set, and the filters of this session
    // alone ("40T"), both gone when the session ends.
    bool m_windowSet = false;
    CJournalWindow m_window;
    bool m_sessionFilters = false;
    CJournalFilter m_sessionFilter;
};
