#pragma once
// Writes a file the user keeps (a journal, a count, an info table, a report)
// so that whatever happens — a kill at any instant, a full disk, another run
// writing the same file — the file afterwards holds either its old bytes or
// the whole new ones.
//
// The new bytes go first into a staging file of this process's own beside the
// target (".<name>.XXXXXX.kxtmp", locked while in use, so one left by a killed
// run is known and removed). Commit takes the target's lock ("<name>.lock"
// beside it, and a lock on the target itself), waiting a bounded time for
// another writer, and then
//  - replaces: renames the staging file over the target;
//  - appends: builds old bytes + new bytes in a second file beside and renames
//    that over the target.
// A folder that takes no new files, though the target in it may be written,
// is written in place: staging in the temporary folder, the space the new
// bytes need reserved before anything is given up, and a record of how to
// put the old bytes back (filesafety/InPlaceChange.h) until the change is whole.
// A target that is no regular file (a terminal, /dev/stdout) is written to
// directly.

#include "platform/SystemFile.h"

#include <QByteArray>
#include <QString>

#include <functional>

class CTargetWriter {
public:
    enum class Mode { Replace, Append };

    // What a commit tells a record kept with the target (the journal's record
    // of the scans it holds), under the target's locks: just before the new
    // bytes take its place, which file will then be there (device, inode)
    // and its size — false stops the commit, the target as it was; and once
    // they have taken it, durably.
    struct CommitRecord {
        std::function<bool(dev_t device, ino_t inode, qint64 size, QString* error)> before;
        std::function<void()> after;
    };
    void SetCommitRecord(CommitRecord record) { m_record = std::move(record); }
    // The caller holds the target's lock file ("<target>.lock") itself.
    void SetLockFileHeld(bool held) { m_lockFileHeld = held; }

    CTargetWriter() = default;
    ~CTargetWriter() { Abandon(); }
    CTargetWriter(const CTargetWriter&) = delete;
    CTargetWriter& operator=(const CTargetWriter&) = delete;

    // Starts a change of `target`. False when it cannot be written at all
    // (ErrorPath()/ErrorReason() say which file and why).
    bool Open(const QString& target);
    bool Write(const char* data, qint64 size);
    bool Write(const QByteArray& bytes) { return Write(bytes.constData(), bytes.size()); }
    // Makes the change, waiting up to `waitMs` for another writer of the
    // target. False: the target is as it was (Busy() when another writer kept
    // it; ErrorPath()/ErrorReason() say what failed).
    bool Commit(Mode mode, int waitMs);
    // Ends without a change. The bytes written so far are kept: renamed to
    // `keepAs` when given and possible, else left where they are; returns
    // that path, or an empty text when nothing was written.
    QString Abandon(const QString& keepAs = QString());

    const QString& Target() const { return m_target; }
    qint64 Written() const { return m_written; }
    bool Failed() const { return m_failed; }
    bool Busy() const { return m_busy; }
    // False only after a failed in-place change whose old bytes could not be
    // put back at once (they are put back at the next start).
    bool TargetIntact() const { return m_intact; }
    const QString& ErrorPath() const { return m_errorPath; }
    const QString& ErrorReason() const { return m_errorReason; }
    // "<path>: <reason>".
    QString Error() const;

private:
    bool Fail(const QString& path, const QString& reason);
    bool Fail(const CSystemFile& file) { return Fail(file.Path(), file.Reason()); }
    bool FlushBuffer();
    bool StagingFailed();
    bool OpenStagingBeside(int* error);
    bool CommitBeside(Mode mode);
    bool CommitInPlace(Mode mode);
    bool ReplaceInPlace(CSystemFile& target, qint64 oldSize);
    // The record's "before" for the file `file` of `size` about to be the target.
    bool RecordBefore(CSystemFile& file, qint64 size);
    void RecordAfter();
    bool AppendInPlace(CSystemFile& target, qint64 oldSize);
    void Reset();

    enum class Where { None, Beside, InPlace, Direct };

    QString m_target;  // as given
    QString m_real;    // the file written: the target, or what its link points to
    Where m_where = Where::None;
    CSystemFile m_staging;
    QString m_stagingPath;
    // Small pieces not written yet: the first m_buffered bytes of m_buffer,
    // which keeps its length (a line costs a copy, no call to size it).
    QByteArray m_buffer;
    qint64 m_buffered = 0;
    qint64 m_written = 0;
    bool m_failed = false;
    bool m_busy = false;
    bool m_intact = true;
    bool m_stagingFailed = false;
    QString m_errorPath;
    QString m_errorReason;
    CommitRecord m_record;
    bool m_lockFileHeld = false;
};

// Replaces `target` with `bytes` as above. False: the target is as it was,
// `error` (when given) says what failed.
// With `lockFileHeld` the caller already holds "<target>.lock".
bool WriteFileWhole(const QString& target, const QByteArray& bytes, int waitMs, QString* error,
                    bool lockFileHeld = false);

// Removes the staging files of `target` that runs no longer living left
// beside it. Returns how many. Anything else named like one (a FIFO, a link,
// a device, a folder) is never opened to wait on nor removed; it is named
// through the prompt.
int RemoveStaleStagingFiles(const QString& target);
// The same for every target in `folder`.
int RemoveStaleStagingFilesIn(const QString& folder);
