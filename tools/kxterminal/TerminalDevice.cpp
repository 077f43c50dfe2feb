#include "tools/kxterminal/TerminalDevice.h"

#include "components/parlink/protocol/LinkCompression.h"
#include "components/parlink/protocol/LinkCrc.h"
#include "components/parlink/protocol/RecordBlock.h"
#include "platform/CodePage.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>
#include <limits>

namespace {

const QString kEndMarker = QString(QChar(0x0004));
constexpr std::int64_t kHoldCheckMs = 20;
// Records of a load go to the staged file this much at a time.
constexpr qsizetype kLoadWriteChunk = 64 * 1024;
// Room in the load's buffer beyond a write's worth: a record that starts just
// short of it still fits behind the others.
constexpr qsizetype kRecordSlack = 4 * 1024;
// A journal being sent is read this much at a time, between its answers.
constexpr qsizetype kJournalPiece = 1024 * 1024;

bool IsOneOf(const QString& code, std::initializer_list<const char*> codes) {
    for (const char* c : codes)
        if (code == QLatin1String(c)) return true;
    return false;
}

// Moves `from` over `to`, replacing it in one step where the system can.
bool MoveOver(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) return true;
    QFile::remove(to);
    return QFile::rename(from, to);
}

// A remote path such as "\Application\Orvane\mainbase.db" as a path below
// the files folder; empty when it would leave that folder.
QString SafeRelativePath(const QString& remote) {
    QString p = remote;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList parts;
    for (const QString& part : p.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".") || part == QLatin1String("..") || part.contains(QLatin1Char(':')))
            return QString();
        parts << part;
    }
    return parts.join(QLatin1Char('/'));
}

// The field of a filter command in `filter` ("401" operation ... "409" barcode).
void SetFilterField(CJournalFilter& filter, const QString& code, const QString& value) {
    const int id = LeadingInt(value.toLatin1());
    if (code == QLatin1String("401")) filter.operation = id;
    else if (code == QLatin1String("403")) filter.executor = id;
    else if (code == QLatin1String("405")) filter.address = id;
    else if (code == QLatin1String("407")) filter.document = id;
    else if (code == QLatin1String("408")) filter.ware = value;
    else if (code == QLatin1String("409")) filter.barcode = value;
}

}  // namespace

struct CTerminalDevice::Stream {
    // The lines to send so far: views into the journal's pieces read, or into
    // the info lines kept beside them.
    std::unique_ptr<CJournalReader> reader;  // a journal's lines not read yet
    CJournalFilter filter;
    QList<QByteArray> info;
    std::vector<QByteArrayView> lines;  // those before `next` have gone out and may be invalid
    bool withNumbers = false;
    QList<int> numbers;  // with numbers: each line's record number, to put first
    qsizetype next = 0;
    qsizetype count = 0;  // lines ready to send
    bool complete = true;  // no more lines than `count` before the end marker
    bool journal = false;  // a journal, which HoldJournalAfter may hold
    // The stream's blocks, encoded one after another by one encoder (each
    // block starts from how the last one wrote its columns).
    Link::CRecordBlockEncoder blocks{Link::kZstdLevel};
};

struct CTerminalDevice::Load {
    QString staging;
    QList<QPair<QString, QString>> files;  // target (relative), staged path
    QFile current;
    // The record being received: its pieces so far as text when one of them
    // came as text (UTF-8 on the line), else their bytes in the file's code
    // page, kept as they came. At most one of the two is non-empty.
    QString piece;
    QByteArray pieceBytes;
    QByteArray buffer;
    // Whole records not yet written to `current`: the first `pendingSize`
    // bytes of `pending`, which keeps its length, so that a record costs a
    // copy and no call to size the buffer.
    QByteArray pending;
    qsizetype pendingSize = 0;
    bool failed = false;
    bool awaitingSync = false;

    bool InRecord() const { return !piece.isEmpty() || !pieceBytes.isEmpty(); }
    void AddTextPiece(const QString& text) {
        if (!pieceBytes.isEmpty()) piece = CodePage::FromWindows1251(std::exchange(pieceBytes, QByteArray()));
        piece += text;
    }
    void AddCodePagePiece(QByteArrayView bytes) {
        if (!piece.isEmpty())
            piece += CodePage::FromWindows1251(bytes.data(), bytes.size());
        else
            pieceBytes += bytes;
    }
    // The record is complete: its line (and CR LF) goes to the file.
    void EndRecord() {
        if (!piece.isEmpty()) {
            buffer.resize(0);
            CodePage::AppendWindows1251(piece, buffer);
            AddWholeRecord(buffer.constData(), buffer.size());
        } else {
            AddWholeRecord(pieceBytes.constData(), pieceBytes.size());
        }
        // Emptied keeping their memory: the next record fills them again.
        piece.resize(0);
        pieceBytes.resize(0);
    }
    // A record that came whole in one piece of the file's code page (most
    // records): straight to the file's buffer, and its CR LF behind it.
    void AddWholeRecord(const char* bytes, qsizetype size) {
        if (pending.size() - pendingSize < size + 2) {
            WritePending();
            if (pending.size() < size + 2) pending.resize(std::max(kLoadWriteChunk + kRecordSlack, size + 2));
        }
        char* p = pending.data() + pendingSize;
        if (size > 0) std::memcpy(p, bytes, static_cast<std::size_t>(size));
        p[size] = '\r';
        p[size + 1] = '\n';
        pendingSize += size + 2;
        if (pendingSize >= kLoadWriteChunk) WritePending();
    }
    void WritePending() {
        if (pendingSize > 0 && current.write(pending.constData(), pendingSize) != pendingSize) failed = true;
        pendingSize = 0;
    }
};

struct CTerminalDevice::Transfer {
    QString remote;
    QString target;
    QFile file;
    qint64 size = 0;
    std::uint32_t crc = 0;
    QString error;
};

CTerminalDevice::CTerminalDevice(CTerminalState& state) : m_state(state) {
    m_scenario = m_state.Scenario();
}

CTerminalDevice::~CTerminalDevice() {
    DiscardLoad();
    DiscardTransfer();
}

void CTerminalDevice::BeginSession(Link::TextCoding coding, bool journalSequence, bool recordBlocks,
                                  bool waresRows) {
    m_coding = coding;
    m_journalSequence = journalSequence;
    m_recordBlocks = recordBlocks;
    m_waresRows = recordBlocks && waresRows;
    m_programWares.clear();
    m_goodbye = false;
    m_scenario = m_state.Scenario();
    m_state.Log(QStringLiteral("S begin"));
}

void CTerminalDevice::EndSession() {
    if (m_load) m_state.Log(QStringLiteral("L discarded"));
    DiscardLoad();
    DiscardTransfer();
    m_stream.reset();
    m_holding = false;
    m_holdTold = false;
    m_held.clear();
    m_context = Context::None;
    m_syncAt = -1;
    m_hung = false;
    m_windowSet = false;
    m_sessionFilters = false;
    m_sessionFilter = CJournalFilter();
    m_state.Log(QStringLiteral("S end"));
}

void CTerminalDevice::Handle(Link::Message message) {
    // A body that refers to the parser's buffer would not outlive its next Feed.
    if (!message.body.isDetached()) message.body.detach();
    m_held.push_back(std::move(message));
}

bool CTerminalDevice::TakeAtOnce(const Link::Message& message) {
    if (message.type != Link::MessageType::Data || !message.inCodePage || !TakesRecordsAtOnce()) return false;
    OnRecordPiece(message.body);
    return true;
}

void CTerminalDevice::TakeFrom(Link::CMessageParser& parser) {
    Link::Message m;
    for (;;) {
        if (TakesRecordsAtOnce())
            parser.TakeCodePageTexts(Link::MessageType::Data,
                                     [this](const char* bytes, qsizetype size) { OnRecordPiece({bytes, size}); });
        if (!parser.Next(&m)) return;
        if (!TakeAtOnce(m)) Handle(std::move(m));
    }
}

std::int64_t CTerminalDevice::NextTimer() const {
    std::int64_t next = m_syncAt >= 0 ? m_syncAt : std::numeric_limits<std::int64_t>::max();
    if (m_holding) next = std::min(next, m_holdCheckAt);
    return next;
}

bool CTerminalDevice::HoldJournal(std::int64_t now, bool answersQueued) {
    const int after = m_scenario.holdJournalAfter;
    if (after < 0 || !m_stream->journal || m_stream->next != after) return false;
    // The tester sees that the program is in the middle of a download, does
    // what it wants (a second run, a kill) and lets it go on.
    if (QFileInfo::exists(m_state.Path(QStringLiteral("release")))) {
        m_holding = false;
        m_holdTold = false;
        m_stream->journal = false;
        return false;
    }
    // Told only once the program has acknowledged the lines sent before: a
    // tester who kills the terminal then knows those lines reached it, and
    // none of them is left in the line when it goes down.
    if (!m_holdTold && m_lineDrained && answersQueued) {
        m_state.Log(QStringLiteral("J held after %1").arg(after));
        m_holdTold = true;
    }
    m_holding = true;
    m_holdCheckAt = now + kHoldCheckMs;
    return true;
}

void CTerminalDevice::Answer(QByteArray& out, const QString& text, bool* urgent) {
    Link::AppendTextMessage(out, Link::MessageType::Answer, text, m_coding);
    *urgent = true;
}

void CTerminalDevice::Pump(std::int64_t now, QByteArray& out, qsizetype budget, bool* urgent) {
    if (m_hung) return;
    if (m_syncAt >= 0 && now >= m_syncAt) {
        m_syncAt = -1;
        if (CommitLoad())
            Answer(out, QStringLiteral("SYNC"), urgent);
        else
            Answer(out, QStringLiteral("REJECT;99;Ошибка записи справочников"), urgent);
    }
    for (;;) {
        if (m_stream) {
            Stream& s = *m_stream;
            QString text;
            QByteArray bytes;
            if (m_recordBlocks) {
                if (!PumpBlocks(now, out, budget)) return;
            }
            while (HasLine(s) && out.size() < budget) {
                if (HoldJournal(now, out.isEmpty())) return;
                if (m_coding == Link::TextCoding::Windows1251) {
                    // The lines are kept in the agreed code page: sent as they are.
                    if (!s.withNumbers) {
                        // The lines read so far, up to the budget, or up to where
                        // the scenario holds the journal, in one go.
                        qsizetype end = s.count;
                        const int after = m_scenario.holdJournalAfter;
                        if (after >= 0 && s.journal && after > s.next) end = std::min<qsizetype>(end, after);
                        s.next += Link::AppendWindows1251Messages(out, Link::MessageType::Answer, s.lines.data() + s.next,
                                                                  end - s.next, budget);
                        continue;
                    }
                    const QByteArrayView kept = s.lines[s.next];
                    bytes.setNum(s.numbers[s.next]);
                    bytes += ';';
                    bytes.append(kept);
                    Link::AppendWindows1251Message(out, Link::MessageType::Answer, bytes.constData(), bytes.size());
                    ++s.next;
                    continue;
                }
                text.clear();
                if (s.withNumbers) {
                    text += QString::number(s.numbers[s.next]);
                    text += QLatin1Char(';');
                }
                text += CodePage::FromWindows1251(s.lines[s.next].toByteArray());
                Link::AppendTextMessage(out, Link::MessageType::Answer, text);
                ++s.next;
            }
            if (HasLine(s)) return;
            Answer(out, kEndMarker, urgent);
            m_stream.reset();
        }
        if (m_held.empty() || out.size() >= budget) return;
        const Link::Message m = std::move(m_held.front());
        m_held.pop_front();
        if (m.type == Link::MessageType::Command && !m_scenario.holdAtCommand.isEmpty() &&
            Link::MessageText(m) == m_scenario.holdAtCommand) {
            // Hung here, as a terminal that stopped in the middle of a
            // command: a test kills the program at this known point.
            m_state.Log(QStringLiteral("C ") + Link::MessageText(m));
            m_state.Log(QStringLiteral("S hold"));
            m_hung = true;
            return;
        }
        Process(m, now, out, urgent);
    }
}

bool CTerminalDevice::PumpBlocks(std::int64_t now, QByteArray& out, qsizetype budget) {
    Stream& s = *m_stream;
    const Link::BlockCoding coding = m_coding == Link::TextCoding::Windows1251 ? Link::BlockCoding::Windows1251
                                                                                : Link::BlockCoding::Utf8;
    // The kept lines are the records as they are; numbered or UTF-8 lines
    // are written out once into `made`.
    const bool asKept = coding == Link::BlockCoding::Windows1251 && !s.withNumbers;
    // A journal's barcodes as rows of the wares, where the program holds a
    // copy of exactly the wares kept here.
    std::shared_ptr<const CTerminalWares> wares;
    if (m_waresRows && s.journal && !m_programWares.isEmpty()) {
        wares = m_wares.Get(m_state.Path(QStringLiteral("directories/wares.ux7")));
        if (wares && !m_programWares.contains(wares->Digest())) wares.reset();
    }
    std::vector<QByteArrayView> records;
    std::vector<qsizetype> madeEnds;
    QByteArray made;
    while (HasLine(s) && out.size() < budget) {
        records.clear();
        madeEnds.clear();
        made.clear();
        qsizetype bytes = 0;
        bool held = false;
        while (static_cast<int>(records.size() + madeEnds.size()) < Link::kBlockMaxRecords &&
               HasLine(s, records.empty() ? nullptr : records.front().constData())) {
            if (s.journal && m_scenario.holdJournalAfter >= 0 && s.next == m_scenario.holdJournalAfter &&
                !QFileInfo::exists(m_state.Path(QStringLiteral("release")))) {
                held = true;
                break;
            }
            const QByteArrayView kept = s.lines[s.next];
            qsizetype size = kept.size();
            if (!asKept) {
                const qsizetype start = made.size();
                if (s.withNumbers) {
                    made += QByteArray::number(s.numbers[s.next]);
                    made += ';';
                }
                if (coding == Link::BlockCoding::Utf8)
                    Link::AppendText(made, CodePage::FromWindows1251(kept.toByteArray()));
                else
                    made.append(kept);
                size = made.size() - start;
                if (bytes + size > Link::kBlockMaxRecordBytes) {
                    made.truncate(start);
                    if (madeEnds.empty()) return true;  // a line longer than a block: sent as an answer
                    break;
                }
                madeEnds.push_back(made.size());
            } else {
                if (bytes + size > Link::kBlockMaxRecordBytes) {
                    if (records.empty()) return true;  // a line longer than a block: sent as an answer
                    break;
                }
                records.emplace_back(kept);
            }
            bytes += size;
            ++s.next;
        }
        if (!asKept) {
            // Views into `made` only once it no longer grows.
            qsizetype from = 0;
            for (qsizetype end : madeEnds) {
                records.emplace_back(made.constData() + from, end - from);
                from = end;
            }
        }
        if (!records.empty())
            Link::AppendBlockMessage(out, Link::MessageType::AnswerBlock,
                                     s.blocks.Encode(coding, records, wares.get()));
        if (held) return !HoldJournal(now, out.isEmpty());
    }
    return true;
}

void CTerminalDevice::Process(const Link::Message& m, std::int64_t now, QByteArray& out, bool* urgent) {
    switch (m.type) {
    case Link::MessageType::Command: {
        const QString code = Link::MessageText(m);
        m_state.Log(QStringLiteral("C ") + code);
        OnCommand(code, now, out, urgent);
        break;
    }
    case Link::MessageType::Data: {
        if (m.inCodePage && m_context == Context::Records) {
            // Already the file's bytes: no detour through UTF-16.
            OnRecordPiece(m.body);
            break;
        }
        const QString text = Link::MessageText(m);
        if (m_context != Context::Records && m_context != Context::FileChunk && m_context != Context::Echo)
            m_state.Log(QStringLiteral("D ") + text);
        OnData(text, out, urgent);
        break;
    }
    case Link::MessageType::RecordBlock:
        OnRecordBlock(m.body);
        break;
    case Link::MessageType::EndData:
        m_state.Log(QStringLiteral("E"));
        if (m_context == Context::Records) CloseDirectory();
        m_context = Context::None;
        break;
    case Link::MessageType::Ping:
        Link::AppendIdMessage(out, Link::MessageType::Pong, m.id);
        *urgent = true;
        break;
    case Link::MessageType::Poll:
        Link::AppendIdMessage(out, Link::MessageType::PollReply, m.id);
        *urgent = true;
        break;
    case Link::MessageType::Bye:
        m_state.Log(QStringLiteral("S bye"));
        m_goodbye = true;
        if (m_load) m_state.Log(QStringLiteral("L discarded"));
        DiscardLoad();
        DiscardTransfer();
        m_context = Context::None;
        m_syncAt = -1;
        break;
    default:
        break;
    }
}

void CTerminalDevice::OnCommand(const QString& code, std::int64_t now, QByteArray& out, bool* urgent) {
    if (m_context == Context::Records && !CTerminalState::DirectoryFile(code).isEmpty()) CloseDirectory();
    const Context previous = m_context;
    m_context = Context::None;
    m_contextCode = code;
    if (code == QLatin1String("--s")) {
        const CTerminalIdentity id = m_state.Identity();
        const QString version = m_scenario.programVersion.isEmpty() ? id.version : m_scenario.programVersion;
        Answer(out, id.program + QLatin1Char(';') + version, urgent);
    } else if (code == QLatin1String("--h")) {
        const CTerminalIdentity id = m_state.Identity();
        Answer(out, id.model + QLatin1Char(';') + id.terminal + QLatin1Char(';') + id.deviceId, urgent);
    } else if (code == QLatin1String("998")) {
        Answer(out, m_scenario.notReady ? QStringLiteral("0;") + m_scenario.notReadyText
                                        : QStringLiteral("1;Готов к обмену"),
               urgent);
    } else if (code == QLatin1String("999")) {
        // Exchange mode: nothing to answer.
    } else if (code == QLatin1String("303")) {
        m_context = Context::Stamp;
    } else if (code == QLatin1String("020")) {
        const CJournalFilter filter = Filter();
        int count = 0;
        m_state.ForEachJournalLine([&](QByteArrayView text, qint64 sequence) {
            if (InView(sequence) && filter.Matches(text)) ++count;
        });
        Answer(out, QString::number(count), urgent);
    } else if (!m_journalSequence && IsOneOf(code, {"02S", "02L", "00S", "40T"})) {
        m_state.Log(QStringLiteral("? unknown command"));
    } else if (code == QLatin1String("15H") && m_waresRows) {
        m_context = Context::WaresHeld;
    } else if (code == QLatin1String("02L")) {
        // The numbers of the scans a download now brings, in the order sent.
        const CJournalFilter filter = Filter();
        CNumberRanges numbers;
        m_state.ForEachJournalLine([&](QByteArrayView text, qint64 sequence) {
            if (InView(sequence) && filter.Matches(text)) numbers.Add(sequence);
        });
        Answer(out, numbers.Text(), urgent);
    } else if (code == QLatin1String("02S")) {
        m_context = Context::Window;
    } else if (code == QLatin1String("00S")) {
        m_context = Context::ClearThrough;
    } else if (code == QLatin1String("40T")) {
        // The filters that follow are this session's own: the kept ones stay
        // as they are, and these go when the session ends, however it ends.
        m_sessionFilters = true;
        m_sessionFilter = CJournalFilter();
    } else if (code == QLatin1String("021") || code == QLatin1String("031")) {
        StartJournal(code == QLatin1String("031"));
    } else if (code == QLatin1String("001")) {
        m_state.ClearJournal();
    } else if (IsOneOf(code, {"881", "883", "885", "887"})) {
        m_context = Context::Current;
    } else if (IsOneOf(code, {"401", "403", "405", "407", "408", "409"})) {
        m_context = Context::Filter;
    } else if (code == QLatin1String("40R")) {
        if (m_sessionFilters)
            m_sessionFilter = CJournalFilter();
        else
            m_state.ResetFilter();
    } else if (code == QLatin1String("002")) {
        BeginLoad();
    } else if (!CTerminalState::DirectoryFile(code).isEmpty()) {
        OpenDirectory(code);
    } else if (code == QLatin1String("003")) {
        FinishLoad(now, out, urgent);
    } else if (code == QLatin1String("004")) {
        if (m_load) m_state.Log(QStringLiteral("L discarded"));
        DiscardLoad();
        m_syncAt = -1;
    } else if (code == QLatin1String("ROL")) {
        if (m_load) m_state.Log(QStringLiteral("L rolled back"));
        DiscardLoad();
        m_syncAt = -1;
    } else if (code == QLatin1String("1F2")) {
        StartInfo();
    } else if (code == QLatin1String("FPB")) {
        DiscardTransfer();
        m_context = Context::FilePath;
    } else if (code == QLatin1String("FPE")) {
        m_context = Context::FileEnd;
    } else if (code == QLatin1String("FPA")) {
        DiscardTransfer();
    } else if (code == QLatin1String("ECH")) {
        // Link check: every data text that follows comes back unchanged.
        m_context = Context::Echo;
    } else {
        m_context = previous == Context::Records ? Context::Records : Context::None;
        m_state.Log(QStringLiteral("? unknown command"));
    }
}

void CTerminalDevice::OnRecordBlock(const QByteArray& body) {
    if (m_context != Context::Records || !m_load) {
        m_state.Log(QStringLiteral("? record block outside a directory"));
        return;
    }
    Load& load = *m_load;
    thread_local Link::RecordLines lines;
    if (load.InRecord() || !Link::DecodeRecordLines(body.constData(), body.size(), "\r\n", &lines)) {
        // Not a sound block, or one in the middle of a record: this load
        // cannot be stored as it was sent.
        m_state.Log(QStringLiteral("? bad record block"));
        load.failed = true;
        return;
    }
    load.WritePending();
    if (lines.coding == Link::BlockCoding::Windows1251) {
        // Kept as they came: the records are already the file's bytes.
        if (load.current.write(lines.bytes) != lines.bytes.size()) load.failed = true;
        return;
    }
    load.buffer.clear();
    qsizetype from = 0;
    for (qsizetype end : lines.ends) {
        CodePage::AppendWindows1251(Link::DecodeText(lines.bytes.constData() + from, end - from), load.buffer);
        load.buffer.append("\r\n", 2);
        from = end + 2;
    }
    if (load.current.write(load.buffer) != load.buffer.size()) load.failed = true;
}

void CTerminalDevice::OnRecordPiece(QByteArrayView bytes) {
    Load& load = *m_load;
    // One byte a character: a piece shorter than the program's pieces ends the record.
    if (bytes.size() < kRecordPiece && !load.InRecord()) return load.AddWholeRecord(bytes.constData(), bytes.size());
    load.AddCodePagePiece(bytes);
    if (bytes.size() < kRecordPiece) load.EndRecord();
}

void CTerminalDevice::OnData(const QString& text, QByteArray& out, bool* urgent) {
    switch (m_context) {
    case Context::Stamp:
        m_state.SetClockStamp(text);
        m_context = Context::None;
        break;
    case Context::Filter:
        if (m_sessionFilters)
            SetFilterField(m_sessionFilter, m_contextCode, text);
        else
            m_state.SetFilter(m_contextCode, text);
        m_context = Context::None;
        break;
    case Context::Window: {
        // "02S" HELD: this session's downloads cover the scans up to the
        // newest one now that the program does not hold; the answer is that
        // newest number (0 when there never was a scan) and the oldest one
        // still kept ("L;F").
        m_window = CJournalWindow();
        if (!CNumberRanges::Parse(text.trimmed(), &m_window.held)) {
            m_state.Log(QStringLiteral("? bad number ranges"));
            Answer(out, QStringLiteral("ERR;bad number ranges"), urgent);
        } else {
            const CTerminalState::SequenceBounds bounds = m_state.JournalBounds();
            m_window.through = bounds.next - 1;
            m_windowSet = true;
            Answer(out, QStringLiteral("%1;%2").arg(m_window.through).arg(bounds.first), urgent);
        }
        m_context = Context::None;
        break;
    }
    case Context::WaresHeld: {
        // "15H" DIGESTS: the wares copies the program holds, in hex,
        // separated by commas; anything else in the list is passed over.
        m_programWares.clear();
        for (const QString& hex : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QByteArray digest = QByteArray::fromHex(hex.trimmed().toLatin1());
            if (digest.size() == Link::kReferenceDigestBytes && m_programWares.size() < 16)
                m_programWares.append(digest);
        }
        m_context = Context::None;
        break;
    }
    case Context::ClearThrough: {
        // "00S" RANGES: those scans go, every other one stays.
        CNumberRanges erase;
        if (CNumberRanges::Parse(text.trimmed(), &erase)) m_state.Clear(erase);
        else m_state.Log(QStringLiteral("? bad number ranges"));
        m_context = Context::None;
        break;
    }
    case Context::Current:
        m_state.SetCurrentValue(m_contextCode, text);
        m_context = Context::None;
        break;
    case Context::Records: {
        Load& load = *m_load;
        load.AddTextPiece(text);
        if (text.size() < kRecordPiece) load.EndRecord();
        break;
    }
    case Context::FilePath: {
        m_transfer = std::make_unique<Transfer>();
        m_transfer->remote = text;
        const QString relative = SafeRelativePath(text);
        if (relative.isEmpty()) {
            m_transfer->error = QStringLiteral("Недопустимое имя файла");
        } else {
            m_transfer->target = m_state.Path(QStringLiteral("files/") + relative);
            QDir().mkpath(QFileInfo(m_transfer->target).absolutePath());
            m_transfer->file.setFileName(m_transfer->target + QStringLiteral(".part"));
            if (!m_transfer->file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                m_transfer->error = QStringLiteral("Не удается создать файл");
        }
        m_context = Context::FileChunk;
        break;
    }
    case Context::FileChunk: {
        if (!m_transfer || !m_transfer->error.isEmpty()) break;
        auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            m_transfer->error = QStringLiteral("Искаженные данные файла");
            break;
        }
        const QByteArray& bytes = *decoded;
        if (m_transfer->file.write(bytes) != bytes.size()) m_transfer->error = QStringLiteral("Ошибка записи файла");
        m_transfer->crc = Link::Crc32(bytes.constData(), static_cast<size_t>(bytes.size()), m_transfer->crc);
        m_transfer->size += bytes.size();
        break;
    }
    case Context::FileEnd:
        FinishTransfer(text, out, urgent);
        m_context = Context::None;
        break;
    case Context::Echo:
        Answer(out, text, urgent);
        break;
    case Context::None:
        m_state.Log(QStringLiteral("? data without command"));
        break;
    }
}

CJournalFilter CTerminalDevice::Filter() const { return m_sessionFilters ? m_sessionFilter : m_state.Filter(); }

bool CTerminalDevice::InView(qint64 sequence) const { return !m_windowSet || m_window.Contains(sequence); }

void CTerminalDevice::StartJournal(bool withNumbers) {
    auto s = std::make_unique<Stream>();
    // Read as it is sent: the first lines go while the rest is read. The
    // lines are those the journal had now (CJournalReader).
    s->reader = m_state.OpenJournal();
    s->filter = Filter();
    s->withNumbers = withNumbers;
    s->complete = false;
    s->journal = true;
    m_stream = std::move(s);
}

bool CTerminalDevice::HasLine(Stream& s, const char* held) {
    while (s.next >= s.count && !s.complete) {
        // Lines are not copied on their way: each stays a view into the
        // piece of the journal it was read in, until it has gone out.
        s.reader->Release(held);
        // Most downloads take every line: no window and no filter to ask.
        const bool windowed = m_windowSet;
        const bool filtered = s.filter.Any();
        const bool more = s.reader->ReadMore(kJournalPiece, [&](const CJournalText::Line& l) {
            if ((windowed && !InView(l.sequence)) || (filtered && !s.filter.Matches(l.text))) return;
            s.lines.push_back(l.text);
            if (s.withNumbers) s.numbers.append(l.number);
        });
        s.count = static_cast<qsizetype>(s.lines.size());
        const int limit = m_scenario.journalLimit;
        if (limit >= 0 && s.count >= limit) s.count = limit;
        if (!more || (limit >= 0 && s.count >= limit)) s.complete = true;
    }
    return s.next < s.count;
}

void CTerminalDevice::StartInfo() {
    auto s = std::make_unique<Stream>();
    s->info = m_state.InfoLines();
    for (const QByteArray& line : s->info) s->lines.emplace_back(line);
    s->count = static_cast<qsizetype>(s->lines.size());
    m_stream = std::move(s);
}

void CTerminalDevice::BeginLoad() {
    DiscardLoad();
    m_load = std::make_unique<Load>();
    m_load->staging = m_state.Path(QStringLiteral(".staging/load%1").arg(++m_loadCounter));
    QDir(m_load->staging).removeRecursively();
    if (!QDir().mkpath(m_load->staging)) m_load->failed = true;
}

void CTerminalDevice::OpenDirectory(const QString& command) {
    if (!m_load) BeginLoad();
    CloseDirectory();
    const QString target = CTerminalState::DirectoryFile(command);
    // A directory sent twice in one load: the later copy wins.
    QString staged = m_load->staging + QLatin1Char('/') + command;
    for (qsizetype i = 0; i < m_load->files.size(); ++i)
        if (m_load->files[i].first == target) m_load->files.removeAt(i--);
    m_load->files.append({target, staged});
    m_load->current.setFileName(staged);
    if (!m_load->current.open(QIODevice::WriteOnly | QIODevice::Truncate)) m_load->failed = true;
    m_load->piece.clear();
    m_load->pieceBytes.clear();
    m_load->pendingSize = 0;
    m_context = Context::Records;
}

void CTerminalDevice::CloseDirectory() {
    if (!m_load || !m_load->current.isOpen()) return;
    // A record cut short by the end of its block is still a record.
    if (m_load->InRecord()) m_load->EndRecord();
    m_load->WritePending();
    if (!m_load->current.flush()) m_load->failed = true;
    m_load->current.close();
}

void CTerminalDevice::FinishLoad(std::int64_t now, QByteArray& out, bool* urgent) {
    CloseDirectory();
    if (!m_load) {
        Answer(out, QStringLiteral("SYNC"), urgent);
        return;
    }
    if (m_scenario.reject) {
        m_state.Log(QStringLiteral("L rejected"));
        DiscardLoad();
        Answer(out, QStringLiteral("REJECT;%1;%2").arg(m_scenario.rejectNumber).arg(m_scenario.rejectText), urgent);
        return;
    }
    m_load->awaitingSync = true;
    if (m_scenario.withholdSync) return;
    if (m_scenario.syncDelayMs > 0) {
        m_syncAt = now + m_scenario.syncDelayMs;
        return;
    }
    if (CommitLoad())
        Answer(out, QStringLiteral("SYNC"), urgent);
    else
        Answer(out, QStringLiteral("REJECT;99;Ошибка записи справочников"), urgent);
}

bool CTerminalDevice::CommitLoad() {
    if (!m_load) return true;
    CloseDirectory();
    bool ok = !m_load->failed;
    if (ok) {
        QStringList names;
        for (const auto& f : m_load->files) {
            const QString target = m_state.Path(f.first);
            QDir().mkpath(QFileInfo(target).absolutePath());
            if (!MoveOver(f.second, target)) ok = false;
            names << f.first;
        }
        m_state.Log(QStringLiteral("L committed ") + names.join(QLatin1Char(' ')));
    }
    QDir(m_load->staging).removeRecursively();
    m_load.reset();
    return ok;
}

void CTerminalDevice::DiscardLoad() {
    if (!m_load) return;
    if (m_load->current.isOpen()) m_load->current.close();
    QDir(m_load->staging).removeRecursively();
    m_load.reset();
}

void CTerminalDevice::FinishTransfer(const QString& sizeAndCrc, QByteArray& out, bool* urgent) {
    if (!m_transfer) {
        Answer(out, QStringLiteral("ERR;1;Нет передаваемого файла"), urgent);
        return;
    }
    Transfer& t = *m_transfer;
    const QStringList parts = sizeAndCrc.split(QLatin1Char(';'));
    bool sizeOk = false;
    bool crcOk = false;
    const qint64 size = parts.value(0).toLongLong(&sizeOk);
    const std::uint32_t crc = parts.value(1).toUInt(&crcOk, 16);
    if (t.error.isEmpty() && (!sizeOk || !crcOk || size != t.size || crc != t.crc))
        t.error = QStringLiteral("Файл искажен при передаче");
    if (t.file.isOpen() && !t.file.flush()) t.error = QStringLiteral("Ошибка записи файла");
    t.file.close();
    if (t.error.isEmpty() && !MoveOver(t.file.fileName(), t.target)) t.error = QStringLiteral("Ошибка записи файла");
    if (t.error.isEmpty()) {
        m_state.Log(QStringLiteral("F stored ") + t.remote);
        Answer(out, QStringLiteral("OK;%1").arg(t.size), urgent);
    } else {
        m_state.Log(QStringLiteral("F failed ") + t.remote);
        Answer(out, QStringLiteral("ERR;2;") + t.error, urgent);
    }
    DiscardTransfer();
}

void CTerminalDevice::DiscardTransfer() {
    if (!m_transfer) return;
    if (m_transfer->file.isOpen()) m_transfer->file.close();
    if (!m_transfer->file.fileName().isEmpty()) QFile::remove(m_transfer->file.fileName());
    m_transfer.reset();
}
