#include "tools/kxterminal/TerminalState.h"

#include "platform/CodePage.h"
#include "platform/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kMissing = QStringLiteral("\x01");

QString Read(const QString& file, const char* section, const char* key) {
    return Profile::ReadString(file, QLatin1String(section), QLatin1String(key), kMissing);
}

// Calls `take` with each line of `bytes` that is not empty, without its CR LF
// or LF, as a view into `bytes`.
template <class Take>
void ForEachNonEmptyLine(QByteArrayView bytes, Take take) {
    qsizetype start = 0;
    while (start < bytes.size()) {
        const char* nl = static_cast<const char*>(std::memchr(bytes.data() + start, '\n', bytes.size() - start));
        const qsizetype end = nl ? nl - bytes.data() : bytes.size();
        qsizetype stop = end;
        if (stop > start && bytes[stop - 1] == '\r') --stop;
        if (stop > start) take(bytes.sliced(start, stop - start));
        start = end + 1;
    }
}

QList<QByteArray> NonEmptyLines(const QByteArray& bytes) {
    QList<QByteArray> lines;
    ForEachNonEmptyLine(bytes, [&](QByteArrayView line) { lines.append(line.toByteArray()); });
    return lines;
}

// Ware and barcode filters are texts the terminal compares exactly, but a
// profile value loses its surrounding blanks and holds one line: they are
// written between double quotes with \\, CR and LF escaped. A value without
// quotes (a state folder written by hand) is taken as it stands.
QString QuotedFilterText(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString FilterText(const QString& stored) {
    if (stored.size() < 2 || !stored.startsWith(QLatin1Char('"')) || !stored.endsWith(QLatin1Char('"'))) return stored;
    QString text;
    for (qsizetype i = 1; i + 1 < stored.size(); ++i) {
        QChar c = stored[i];
        if (c == QLatin1Char('\\') && i + 2 < stored.size()) {
            const QChar e = stored[++i];
            c = e == QLatin1Char('r') ? QChar('\r') : e == QLatin1Char('n') ? QChar('\n') : e;
        }
        text += c;
    }
    return text;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Each line ForEachNonEmptyLine gives for the file's bytes, read a piece at
// a time: nothing the size of the journal is held. A line that a piece's end
// cuts is put together in a buffer of its own.
template <class Take>
void ForEachNonEmptyLineOf(const QString& path, Take take) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return;
    std::vector<char> buffer(std::size_t(1) << 20);
    QByteArray carry;
    const auto line = [&](QByteArrayView l) {
        if (!l.isEmpty() && l.back() == '\r') l = l.chopped(1);
        if (!l.isEmpty()) take(l);
    };
    for (;;) {
        const qint64 n = f.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (n <= 0) break;
        const char* p = buffer.data();
        const char* const end = p + n;
        while (p != end) {
            const char* const nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (!nl) {
                carry.append(p, end - p);
                break;
            }
            if (carry.isEmpty()) {
                line(QByteArrayView(p, nl - p));
            } else {
                carry.append(p, nl - p);
                line(carry);
                carry.resize(0);
            }
            p = nl + 1;
        }
    }
    line(carry);
}

// The journal's lock: the emulator, a scanner adding scans (kxterminal
// --scan) and a clear each hold it while they read or change the journal, so
// a scan is never half read nor lost to a clear rewriting the file.
class CJournalLock {
public:
    explicit CJournalLock(const QString& path) {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd >= 0) ::flock(m_fd, LOCK_EX);
    }
    ~CJournalLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CJournalLock(const CJournalLock&) = delete;
    CJournalLock& operator=(const CJournalLock&) = delete;

private:
    int m_fd = -1;
};

QByteArray JoinLines(const QList<QByteArray>& lines) {
    QByteArray bytes;
    for (const QByteArray& l : lines) bytes += l + "\r\n";
    return bytes;
}

}  // namespace

class CTerminalState::CLogFile {
public:
    explicit CLogFile(const QString& path) : m_file(path) {}
    void Append(const QString& line) {
        if (!m_file.isOpen() && !m_file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
        m_file.write(line.toUtf8());
        m_file.write("\n");
        m_file.flush();
    }

private:
    QFile m_file;
};

int LeadingInt(QByteArrayView text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i++] - '0');
        if (value > 0x7FFFFFFF) return 0;
    }
    return static_cast<int>(negative ? -value : value);
}

bool ReplaceFile(const QString& path, const QByteArray& bytes) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return false;
    out.write(bytes);
    return out.commit();
}

CScenario CScenario::Load(const QString& file) {
    CScenario s;
    if (!QFile::exists(file)) return s;
    auto text = [&](const char* key, bool* present) {
        const QString v = Read(file, "scenario", key);
        *present = v != kMissing;
        return *present ? v : QString();
    };
    auto number = [&](const char* key, int def) {
        return Profile::ReadInt(file, QStringLiteral("scenario"), QLatin1String(key), def);
    };
    s.notReadyText = text("NotReady", &s.notReady);
    bool hasNumber = false;
    const QString rejectNumber = text("RejectNumber", &hasNumber);
    bool hasText = false;
    s.rejectText = text("RejectText", &hasText);
    s.reject = hasNumber || hasText;
    s.rejectNumber = LeadingInt(rejectNumber.toLatin1());
    s.syncDelayMs = number("SyncDelayMs", 0);
    s.withholdSync = number("WithholdSync", 0) != 0;
    s.journalLimit = number("JournalLimit", -1);
    bool hasVersion = false;
    s.programVersion = text("ProgramVersion", &hasVersion);
    s.dropAfterFrames = number("DropAfterFrames", 0);
    s.exitAfterFrames = number("ExitAfterFrames", 0);
    s.damageSentFrame = number("DamageSentFrame", 0);
    s.damageReceivedFrame = number("DamageReceivedFrame", 0);
    s.corruptSentStream = number("CorruptSentStream", 0);
    bool hasHold = false;
    s.holdAtCommand = text("HoldAtCommand", &hasHold).trimmed();
    s.holdJournalAfter = number("HoldJournalAfter", -1);
    return s;
}

bool CJournalFilter::Any() const {
    return operation || executor || address || document || !ware.isEmpty() || !barcode.isEmpty();
}

bool CJournalFilter::Matches(QByteArrayView line) const {
    if (!Any()) return true;
    // barcode; quantity; operation; executor; address; document; ware; date/time; special
    QByteArrayView fields[9];
    qsizetype start = 0;
    for (int i = 0; i < 9; ++i) {
        if (start > line.size()) break;
        qsizetype end = line.indexOf(';', start);
        if (end < 0 || i == 8) end = line.size();
        fields[i] = line.sliced(start, end - start);
        start = end + 1;
    }
    if (operation && LeadingInt(fields[2]) != operation) return false;
    if (executor && LeadingInt(fields[3]) != executor) return false;
    if (address && LeadingInt(fields[4]) != address) return false;
    if (document && LeadingInt(fields[5]) != document) return false;
    if (!ware.isEmpty() && CodePage::FromWindows1251(fields[6].toByteArray()) != ware) return false;
    if (!barcode.isEmpty() && CodePage::FromWindows1251(fields[0].toByteArray()) != barcode) return false;
    return true;
}

CTerminalState::CTerminalState(const QString& folder)
    : m_folder(QDir(folder).absolutePath()),
      m_log(std::make_shared<CLogFile>(QDir(folder).absoluteFilePath(QStringLiteral("commands.log")))) {}

QString CTerminalState::Path(const QString& name) const { return m_folder + QLatin1Char('/') + name; }

bool CTerminalState::EnsureFolders() const {
    QDir dir(m_folder);
    // The state holds the terminal's key and its pins: a folder it makes is
    // the user's alone (0700), whatever the umask.
    const bool made = !dir.exists();
    if (!dir.mkpath(QStringLiteral("."))) return false;
    if (made && !QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) return false;
    return dir.mkpath(QStringLiteral("directories"));
}

CTerminalIdentity CTerminalState::Identity() const {
    const QString ini = IniPath();
    auto get = [&](const char* key, const char* def) {
        return Profile::ReadString(ini, QStringLiteral("terminal"), QLatin1String(key), QString::fromUtf8(def));
    };
    CTerminalIdentity id;
    id.program = get("Program", "Orvane");
    id.version = get("Version", "4.4.0");
    id.model = get("Model", "KX");
    id.terminal = get("Terminal", "KX-T100 emulator");
    id.deviceId = get("DeviceID", "KXE0000001");
    return id;
}

CScenario CTerminalState::Scenario() const { return CScenario::Load(Path(QStringLiteral("scenario.ini"))); }

namespace {

// "journal.numbers": the numbers of the lines of journal.txt, in order, as
// ranges on its first line (a clear leaves gaps), and on its second the
// number the first line beyond them has; lines added after them (a scan)
// count on from there. Missing: the lines are numbered 1, 2, ...
struct CNumbering {
    CNumberRanges numbered;
    qint64 next = 1;

    static CNumbering Read(const QString& path) {
        CNumbering n;
        const QList<QByteArray> lines = ReadAll(path).split('\n');
        CNumberRanges::Parse(QString::fromLatin1(lines.value(0).trimmed()), &n.numbered);
        const qint64 next = lines.value(1).trimmed().toLongLong();
        n.next = std::max(next, n.numbered.Last() + 1);
        return n;
    }
    QByteArray Bytes() const { return numbered.Text().toLatin1() + '\n' + QByteArray::number(next) + '\n'; }
    // The numbers of `count` lines, in order.
    QList<qint64> Numbers(qsizetype count) const {
        QList<qint64> numbers;
        numbers.reserve(count);
        for (const CNumberRanges::Range& r : numbered.Ranges())
            for (qint64 n = r.first; n <= r.second && numbers.size() < count; ++n) numbers.append(n);
        for (qint64 n = next; numbers.size() < count; ++n) numbers.append(n);
        return numbers;
    }
    // The lines' numbers one after another, as Numbers gives them.
    class Cursor {
    public:
        explicit Cursor(const CNumbering& numbering) : m_ranges(numbering.numbered.Ranges()), m_next(numbering.next) {}
        qint64 Next() {
            for (; m_range < m_ranges.size(); ++m_range, m_started = false) {
                if (!m_started) {
                    m_at = m_ranges[m_range].first;
                    m_started = true;
                }
                if (m_at <= m_ranges[m_range].second) return m_at++;
            }
            return m_next++;
        }

    private:
        const QList<CNumberRanges::Range>& m_ranges;
        qsizetype m_range = 0;
        bool m_started = false;
        qint64 m_at = 0;
        qint64 m_next;
    };
    // The number the next scan gets after `count` lines.
    qint64 After(qsizetype count) const { return next + std::max<qint64>(0, count - numbered.Count()); }
    // The first line's number (Numbers(count).front()), `next` without lines.
    qint64 First(qsizetype count) const {
        return count > 0 && !numbered.Ranges().empty() ? numbered.Ranges().front().first : next;
    }
};

}  // namespace

// A clear is written ahead: "journal.clearing" holds the numbering (two
// lines, as journal.numbers) and the lines that stay, and is applied (again,
// after a kill) before anyone reads.
void CTerminalState::ApplyPendingClear() const {
    const QString clearing = Path(QStringLiteral("journal.clearing"));
    if (!QFile::exists(clearing)) return;
    const QByteArray bytes = ReadAll(clearing);
    const qsizetype first = bytes.indexOf('\n');
    const qsizetype second = first < 0 ? -1 : bytes.indexOf('\n', first + 1);
    if (second < 0) {  // cut short: never completed, so never applied
        QFile::remove(clearing);
        return;
    }
    if (ReplaceFile(Path(QStringLiteral("journal.txt")), bytes.mid(second + 1)) &&
        ReplaceFile(Path(QStringLiteral("journal.numbers")), bytes.left(second + 1)))
        QFile::remove(clearing);
}

CJournalText CTerminalState::ReadJournal(qint64* next) const {
    ApplyPendingClear();
    CJournalText journal;
    // A journal that cannot be read has no lines to send (and none to clear).
    qsizetype size = 0;
    ReadFileIntoBlock(Path(QStringLiteral("journal.txt")), std::numeric_limits<qint64>::max(), &journal.bytes, &size);
    const QByteArrayView bytes(journal.bytes.Data(), size);
    // Sized once: a million lines grown step by step cost more in copies and
    // fresh pages than reading them.
    journal.lines.reserve(CountLineFeeds(bytes.data(), bytes.size()) + 1);
    ForEachNonEmptyLine(bytes, [&](QByteArrayView line) {
        journal.lines.push_back({line, static_cast<int>(journal.lines.size()) + 1, 0});
    });
    const CNumbering numbering = CNumbering::Read(Path(QStringLiteral("journal.numbers")));
    const QList<qint64> numbers = numbering.Numbers(static_cast<qsizetype>(journal.lines.size()));
    for (std::size_t i = 0; i < journal.lines.size(); ++i) journal.lines[i].sequence = numbers[static_cast<qsizetype>(i)];
    if (next) *next = numbering.After(static_cast<qsizetype>(journal.lines.size()));
    return journal;
}

CJournalText CTerminalState::JournalText() const {
    CJournalLock lock(Path(QStringLiteral("journal.lock")));
    return ReadJournal();
}

struct CJournalReader::Parts {
    int fd = -1;
    qint64 left = 0;  // bytes of the journal as it was when opened, not yet read
    CNumbering numbering;
    std::unique_ptr<CNumbering::Cursor> numbers;
    int number = 0;  // lines given so far
    QByteArray carry;  // the start of a line that the last piece cut
    std::vector<QByteArray> pieces;  // what the given lines are views into
    // A piece let go, read into next; its first `spareWritten` bytes have
    // their pages already.
    QByteArray spare;
    qsizetype spareWritten = 0;
    bool done = false;

    ~Parts() {
        if (fd >= 0) ::close(fd);
    }
};

CJournalReader::CJournalReader() : m(std::make_unique<Parts>()) {}
CJournalReader::~CJournalReader() = default;

bool CJournalReader::ReadMore(qsizetype bytes, const std::function<void(const CJournalText::Line&)>& take) {
    if (m->done) return false;
    // A piece starts with the line the last one cut, so that every line is
    // one view into one piece; it reads on until a line ends in it (a line
    // longer than `bytes` is read whole, in steps that grow with it).
    QByteArray piece = std::exchange(m->spare, QByteArray());
    qsizetype written = std::exchange(m->spareWritten, 0);
    piece.resize(0);  // its memory kept
    piece.append(m->carry);
    m->carry = QByteArray();
    for (;;) {
        const qsizetype at = piece.size();
        // A piece is `bytes` long, the cut line included, so that one let go
        // has room for the next; a longer line doubles it.
        const qint64 want = std::min<qint64>(m->left, std::max<qsizetype>(at < bytes ? bytes - at : at, 1));
        const char* const before = piece.constData();
        piece.resize(at + static_cast<qsizetype>(want));
        if (piece.constData() != before) written = 0;  // moved to fresh memory
        // The piece's fresh pages in one call rather than a fault each.
        const qsizetype fresh = std::max(at, written);
        if (at + want > fresh) PreparePagesForWrite(piece.data() + fresh, at + static_cast<qsizetype>(want) - fresh, 0);
        qsizetype got = 0;
        while (got < want) {
            const ssize_t n = ::read(m->fd, piece.data() + at + got, static_cast<size_t>(want - got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += n;
        }
        piece.resize(at + got);
        // A journal that got shorter or unreadable meanwhile ends where it ends.
        m->left = got < want ? 0 : m->left - got;
        if (m->left == 0 || std::memchr(piece.constData() + at, '\n', static_cast<std::size_t>(got))) break;
    }
    const bool last = m->left == 0;
    qsizetype whole = piece.size();
    if (!last) {
        const qsizetype nl = piece.lastIndexOf('\n');
        whole = nl + 1;
        m->carry = piece.mid(whole);
        piece.truncate(whole);
    }
    m->pieces.push_back(std::move(piece));
    const QByteArray& kept = m->pieces.back();
    ForEachNonEmptyLine(QByteArrayView(kept.constData(), kept.size()), [&](QByteArrayView line) {
        take(CJournalText::Line{line, ++m->number, m->numbers->Next()});
    });
    if (last) m->done = true;
    return true;
}

void CJournalReader::Release(const char* oldestHeld) {
    std::size_t done = m->pieces.size();
    if (oldestHeld != nullptr) {
        const std::less<const char*> before;
        for (done = 0; done < m->pieces.size(); ++done) {
            const QByteArray& p = m->pieces[done];
            if (!before(oldestHeld, p.constData()) && before(oldestHeld, p.constData() + p.size())) break;
        }
        if (done == m->pieces.size()) return;
    }
    if (done == 0) return;
    // The newest of them is read into next; the others are freed.
    m->spareWritten = m->pieces[done - 1].size();
    m->spare = std::move(m->pieces[done - 1]);
    m->pieces.erase(m->pieces.begin(), m->pieces.begin() + static_cast<std::ptrdiff_t>(done));
}

std::unique_ptr<CJournalReader> CTerminalState::OpenJournal() const {
    CJournalLock lock(Path(QStringLiteral("journal.lock")));
    ApplyPendingClear();
    auto reader = std::make_unique<CJournalReader>();
    CJournalReader::Parts& p = *reader->m;
    p.numbering = CNumbering::Read(Path(QStringLiteral("journal.numbers")));
    p.numbers = std::make_unique<CNumbering::Cursor>(p.numbering);
    // Its length now is the journal this reader gives: under the lock, no
    // scan is half written. Opened as every other reader of the journal
    // opens it (a window's count and a clear must see the lines a download
    // sends); only a regular file is read, never waited on.
    p.fd = ::open(QFile::encodeName(Path(QStringLiteral("journal.txt"))).constData(),
                  O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (p.fd >= 0 && ::fstat(p.fd, &st) == 0 && S_ISREG(st.st_mode))
        p.left = st.st_size;
    return reader;
}

CTerminalState::SequenceBounds CTerminalState::JournalBounds() const {
    CJournalLock lock(Path(QStringLiteral("journal.lock")));
    ApplyPendingClear();
    qsizetype lines = 0;
    ForEachNonEmptyLineOf(Path(QStringLiteral("journal.txt")), [&lines](QByteArrayView) { ++lines; });
    const CNumbering numbering = CNumbering::Read(Path(QStringLiteral("journal.numbers")));
    return SequenceBounds{numbering.First(lines), numbering.After(lines)};
}

void CTerminalState::ForEachJournalLine(const std::function<void(QByteArrayView, qint64)>& take) const {
    CJournalLock lock(Path(QStringLiteral("journal.lock")));
    ApplyPendingClear();
    const CNumbering numbering = CNumbering::Read(Path(QStringLiteral("journal.numbers")));
    CNumbering::Cursor numbers(numbering);
    ForEachNonEmptyLineOf(Path(QStringLiteral("journal.txt")),
                          [&](QByteArrayView line) { take(line, numbers.Next()); });
}

bool CTerminalState::ClearJournal() const {
    CNumberRanges all;
    all.Add(1, std::numeric_limits<qint64>::max() / 2);
    return Clear(all);
}

bool CTerminalState::Clear(const CNumberRanges& erase) const {
    CJournalLock lock(Path(QStringLiteral("journal.lock")));
    qint64 next = 1;
    const CJournalText journal = ReadJournal(&next);
    // The lines that stay keep their numbers; the next scan's number stays
    // where it was, so no number is ever given twice.
    CNumbering after;
    after.next = next;
    QList<QByteArray> kept;
    for (const CJournalText::Line& l : journal.lines) {
        if (erase.Contains(l.sequence)) continue;
        kept.append(l.text.toByteArray());
        after.numbered.Add(l.sequence);
    }
    if (kept.size() == static_cast<qsizetype>(journal.lines.size())) return true;
    if (!ReplaceFile(Path(QStringLiteral("journal.clearing")), after.Bytes() + JoinLines(kept))) return false;
    ApplyPendingClear();
    return !QFile::exists(Path(QStringLiteral("journal.clearing")));
}

bool CTerminalState::AppendScans(const QList<QByteArray>& lines) const {
    CJournalLock lock(Path(QStringLiteral("journal.lock")));
    ApplyPendingClear();
    QFile file(Path(QStringLiteral("journal.txt")));
    if (!file.open(QIODevice::ReadWrite)) return false;
    // A journal written by hand may lack its last line end.
    QByteArray bytes;
    if (file.size() > 0 && file.seek(file.size() - 1) && file.read(1) != "\n") bytes = "\r\n";
    bytes += JoinLines(lines);
    return file.seek(file.size()) && file.write(bytes) == bytes.size() && file.flush();
}

QList<QByteArray> CTerminalState::InfoLines() const { return NonEmptyLines(ReadAll(Path(QStringLiteral("info.txt")))); }

CJournalFilter CTerminalState::Filter() const {
    const QString ini = IniPath();
    const QString s = QStringLiteral("filters");
    CJournalFilter f;
    f.operation = Profile::ReadInt(ini, s, QStringLiteral("Operation"), 0);
    f.executor = Profile::ReadInt(ini, s, QStringLiteral("Executor"), 0);
    f.address = Profile::ReadInt(ini, s, QStringLiteral("Address"), 0);
    f.document = Profile::ReadInt(ini, s, QStringLiteral("Document"), 0);
    f.ware = FilterText(Profile::ReadString(ini, s, QStringLiteral("Ware")));
    f.barcode = FilterText(Profile::ReadString(ini, s, QStringLiteral("Barcode")));
    return f;
}

void CTerminalState::SetFilter(const QString& code, const QString& value) const {
    static const QList<QPair<QString, QString>> keys = {
        {QStringLiteral("401"), QStringLiteral("Operation")}, {QStringLiteral("403"), QStringLiteral("Executor")},
        {QStringLiteral("405"), QStringLiteral("Address")},   {QStringLiteral("407"), QStringLiteral("Document")},
        {QStringLiteral("408"), QStringLiteral("Ware")},      {QStringLiteral("409"), QStringLiteral("Barcode")}};
    for (const auto& k : keys) {
        if (k.first != code) continue;
        const bool text = k.second == QLatin1String("Ware") || k.second == QLatin1String("Barcode");
        Profile::WriteString(IniPath(), QStringLiteral("filters"), k.second, text ? QuotedFilterText(value) : value);
    }
}

void CTerminalState::ResetFilter() const {
    for (const char* key : {"Operation", "Executor", "Address", "Document", "Ware", "Barcode"})
        Profile::WriteString(IniPath(), QStringLiteral("filters"), QLatin1String(key), QString());
}

void CTerminalState::SetCurrentValue(const QString& code, const QString& value) const {
    const char* key = code == QLatin1String("881")   ? "Operation"
                      : code == QLatin1String("883") ? "Executor"
                      : code == QLatin1String("885") ? "Address"
                      : code == QLatin1String("887") ? "Document"
                                                      : nullptr;
    if (key) Profile::WriteString(IniPath(), QStringLiteral("current"), QLatin1String(key), value);
}

void CTerminalState::SetClockStamp(const QString& stamp) const {
    Profile::WriteString(IniPath(), QStringLiteral("clock"), QStringLiteral("Stamp"), stamp);
}

QString CTerminalState::DirectoryFile(const QString& command) {
    static const QList<QPair<QString, QString>> files = {
        {QStringLiteral("111"), QStringLiteral("directories/opers.ux3")},
        {QStringLiteral("121"), QStringLiteral("directories/authors.ux4")},
        {QStringLiteral("131"), QStringLiteral("directories/address.ux5")},
        {QStringLiteral("141"), QStringLiteral("directories/ndocs.ux6")},
        {QStringLiteral("151"), QStringLiteral("directories/wares.ux7")},
        {QStringLiteral("161"), QStringLiteral("directories/waresl2.ux8")},
        {QStringLiteral("171"), QStringLiteral("directories/ndocsplan.ux9")},
        {QStringLiteral("1F1"), QStringLiteral("info.txt")}};
    for (const auto& f : files)
        if (f.first == command) return f.second;
    return QString();
}

void CTerminalState::Log(const QString& line) { m_log->Append(line); }
