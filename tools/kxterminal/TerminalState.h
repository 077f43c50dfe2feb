#pragma once
// The emulated terminal's state folder (see docs/link-protocol.md):
//
//   terminal.ini    identity, journal filters, current values, last time stamp
//   scenario.ini    optional behaviours for tests and demonstrations
//   journal.txt     the scans it serves, one a line (Windows-1251, CR LF)
//   journal.numbers the sequence numbers of the lines of journal.txt, and the
//                   number the next line beyond them has
//   journal.clearing  a clear being made: the new numbering and the lines kept
//   journal.lock    held while the journal is read, added to or cleared
//   info.txt        the info table it serves and receives
//   directories/    the directories received, one file each (Windows-1251, CR LF)
//   files/          files received by the file transfer, under their remote path
//   commands.log    every command received, for tests and demonstrations
//
// Files are replaced whole (written under a temporary name, then renamed), so
// a reader never sees half of one.

#include "platform/FileBlock.h"
#include "platform/NumberRanges.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

struct CTerminalIdentity {
    QString program;
    QString version;
    QString model;  // first field of the "--h" answer
    QString terminal;
    QString deviceId;
};

struct CScenario {
    bool notReady = false;
    QString notReadyText;
    bool reject = false;
    int rejectNumber = 0;
    QString rejectText;
    int syncDelayMs = 0;
    bool withholdSync = false;
    int journalLimit = -1;  // lines served before the end marker; -1 all
    QString programVersion;  // replaces the identity's version when set
    int dropAfterFrames = 0;
    int exitAfterFrames = 0;
    int damageSentFrame = 0;
    int damageReceivedFrame = 0;
    int corruptSentStream = 0;  // data frame whose payload goes out wrong with sound check sums
    // A command at which the terminal hangs: it is logged with "S hold" after
    // it, and nothing from it on is carried out or answered in the session
    // (the line still acknowledges frames). Empty: none.
    QString holdAtCommand;
    int holdJournalAfter = -1;  // journal lines sent before the stream waits for a "release" file

    static CScenario Load(const QString& file);
};

struct CJournalFilter {
    int operation = 0;
    int executor = 0;
    int address = 0;
    int document = 0;
    QString ware;
    QString barcode;

    bool Any() const;
    // `line`: a journal line in Windows-1251 without record number.
    bool Matches(QByteArrayView line) const;
};

// The journal as read once: its bytes, and each line as a view into them
// (no copy a line). The views live as long as `bytes`, which moves with them.
struct CJournalText {
    struct Line {
        QByteArrayView text;  // Windows-1251, no line end
        int number = 0;       // 1-based position in journal.txt
        qint64 sequence = 0;  // the scan's number, never used again for another scan
    };
    // journal.txt as read, in memory of its own (large pages for a big
    // journal: a million lines read into small pages took some 14,000 page
    // faults each time the journal was sent).
    CFileBlock bytes;
    std::vector<Line> lines;
};

// The journal as it stood when opened, read a piece at a time afterwards, so
// that its first lines can go while the rest is still being read. Scans added
// later lie beyond the length it had (they are not part of it), and a clear
// replaces the file, which leaves the one open here as it was. Every line
// given stays valid until Release lets it go, or as long as the reader.
class CJournalReader {
public:
    CJournalReader();
    ~CJournalReader();
    CJournalReader(const CJournalReader&) = delete;
    CJournalReader& operator=(const CJournalReader&) = delete;

    // Gives the next lines, as JournalText has them, reading about `bytes`
    // of the journal; false (and nothing given) once every line was given.
    bool ReadMore(qsizetype bytes, const std::function<void(const CJournalText::Line&)>& take);
    // The lines given before the one at `oldestHeld` (every line given:
    // nullptr) are no longer needed: the memory they were read into is read
    // into again, its pages already there. A pointer into none of the lines
    // lets nothing go.
    void Release(const char* oldestHeld);

private:
    friend class CTerminalState;
    struct Parts;
    std::unique_ptr<Parts> m;
};

// A window of the journal by sequence numbers: the lines numbered up to
// `through` that the program does not hold yet.
struct CJournalWindow {
    CNumberRanges held;
    qint64 through = 0;
    bool Contains(qint64 sequence) const { return sequence <= through && !held.Contains(sequence); }
};

class CTerminalState {
public:
    explicit CTerminalState(const QString& folder);

    QString Folder() const { return m_folder; }
    QString Path(const QString& name) const;
    bool EnsureFolders() const;

    CTerminalIdentity Identity() const;
    CScenario Scenario() const;

    // The journal's lines, read at once, as views into its bytes.
    CJournalText JournalText() const;
    // The same lines, as they stand now, read as they are asked for; an
    // empty journal where it cannot be read.
    std::unique_ptr<CJournalReader> OpenJournal() const;
    // Empties the journal; the numbers go on from where they were.
    bool ClearJournal() const;
    // Removes the lines with the numbers `erase`, keeping every other one.
    // A kill at any instant leaves the journal before or after the clear,
    // never renumbered.
    bool Clear(const CNumberRanges& erase) const;
    // What a window's answer names, both from the same state of the
    // journal, read without holding it in memory.
    struct SequenceBounds {
        qint64 first = 1;  // the number of the oldest scan still kept (`next` when none)
        qint64 next = 1;   // the number the next scan gets (one above the newest, or the first after a clear)
    };
    SequenceBounds JournalBounds() const;
    // Every line of the journal (as JournalText gives them) with its scan's
    // number, in order, read a piece at a time: for a pass that keeps no line.
    void ForEachJournalLine(const std::function<void(QByteArrayView text, qint64 sequence)>& take) const;
    // Appends scans (Windows-1251, no line ends) as a scanner would.
    bool AppendScans(const QList<QByteArray>& lines) const;
    QList<QByteArray> InfoLines() const;

    CJournalFilter Filter() const;
    // `code`: "401", "403", "405", "407", "408" or "409".
    void SetFilter(const QString& code, const QString& value) const;
    void ResetFilter() const;
    // `code`: "881", "883", "885" or "887".
    void SetCurrentValue(const QString& code, const QString& value) const;
    void SetClockStamp(const QString& stamp) const;

    // The file a directory command's records go to, relative to the folder;
    // empty for a command that is not a directory.
    static QString DirectoryFile(const QString& command);

    // Appends a line to commands.log.
    void Log(const QString& line);

private:
    QString IniPath() const { return Path(QStringLiteral("terminal.ini")); }
    void ApplyPendingClear() const;
    // The journal's lock held; `next`: the number the next scan gets.
    CJournalText ReadJournal(qint64* next = nullptr) const;

    QString m_folder;
    class CLogFile;
    std::shared_ptr<CLogFile> m_log;
};

// Replaces `path` with `bytes` through a temporary file and a rename.
bool ReplaceFile(const QString& path, const QByteArray& bytes);
// The leading decimal integer of a text (blanks before it allowed), 0 without one.
int LeadingInt(QByteArrayView text);
