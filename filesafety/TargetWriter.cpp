#include "filesafety/TargetWriter.h"

#include "filesafety/FileLock.h"
#include "filesafety/InPlaceChange.h"
#include "filesafety/TempFiles.h"
#include "platform/LocalFileName.h"
#include "platform/Prompt.h"
#include "platform/TestHooks.h"

#include <QDir>

#include <chrono>
#include <cstring>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 kBufferBytes = 64 * 1024;
constexpr int kCreateAttempts = 100;
constexpr int kMaxLinkHops = 40;  // as the system gives up (ELOOP)
const QString kStagingSuffix = QStringLiteral(".kxtmp");

QString StagingPrefix(const QString& real) { return QLatin1Char('.') + NameOf(real) + QLatin1Char('.'); }

// A new staging file beside `real`, locked by this process while it lives:
// one that can be locked by anyone else was left by a run that has ended.
bool CreateStagingFile(const QString& real, CSystemFile& file, QString* path, int* error) {
    const QString folder = FolderOf(real);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const QString candidate = folder + QLatin1Char('/') + StagingPrefix(real) + RandomNamePart() + kStagingSuffix;
        if (!file.Open(candidate, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666)) {
            if (file.ErrorNumber() == EEXIST) continue;
            *error = file.ErrorNumber();
            return false;
        }
        struct stat mine, named;
        // Another run's clean-up may have taken it between its creation and
        // our lock: then it is no longer ours, make another one.
        if (!file.Lock() || !file.Status(&mine) || !LocalStatus(candidate, &named) || mine.st_ino != named.st_ino) {
            file.Close();
            continue;
        }
        *path = candidate;
        return true;
    }
    *error = EEXIST;
    return false;
}

// Whether anyone but this user and root can change what is in `folder`
// (put a link there, or swap one): a folder of this user writable only by
// them, or by their own group of one, is not.
bool OthersCanWrite(const struct stat& folder) {
    if (folder.st_mode & S_IWOTH) return true;
    if ((folder.st_mode & S_IWGRP) && (folder.st_uid != ::geteuid() || folder.st_gid != ::getegid())) return true;
    return (folder.st_mode & S_IWUSR) && folder.st_uid != ::geteuid() && folder.st_uid != 0;
}

// The file a link points to, as the system resolves it; the path itself
// when it is no link or leads nowhere. A link is followed only as the system
// follows one in a shared sticky folder: when it is this user's or root's
// and lies in a folder nobody else can write to. Anyone else's link (a
// journal.txt made to point into /etc) would have us replace the file it
// points to with our bytes. False with the reason in `refusal`.
bool ResolveLink(const QString& path, QString* real, QString* refusal) {
    *real = path;
    QString current = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat link, folder;
        if (!LocalStatus(current, &link, false) || !S_ISLNK(link.st_mode)) break;
        const QString where = FolderOf(current);
        if (link.st_uid != ::geteuid() && link.st_uid != 0) {
            *refusal = QStringLiteral("it is a link of another user (%1, uid %2), not followed")
                           .arg(PrintableLocalName(current))
                           .arg(link.st_uid);
            return false;
        }
        if (!LocalStatus(where, &folder) || OthersCanWrite(folder)) {
            *refusal = QStringLiteral("it is a link in a folder others can write to (%1), not followed")
                           .arg(PrintableLocalName(current));
            return false;
        }
        char target[PATH_MAX];
        const ssize_t size = ::readlink(EncodeLocalName(current).constData(), target, sizeof target);
        if (size <= 0 || size >= static_cast<ssize_t>(sizeof target)) break;
        const QString next = DecodeLocalName(QByteArrayView(target, qsizetype(size)));
        current = next.startsWith(QLatin1Char('/')) ? next : where + QLatin1Char('/') + next;
    }
    if (current == path) return true;
    char resolved[PATH_MAX];
    if (::realpath(EncodeLocalName(path).constData(), resolved))
        *real = DecodeLocalName(QByteArrayView(resolved, qsizetype(std::strlen(resolved))));
    return true;
}

QString BusyReason(const QString& holder, int waitMs) {
    QString reason = QStringLiteral("it is being written by %1").arg(holder);
    if (waitMs > 0) reason += QStringLiteral("; waited %1 s").arg((waitMs + 999) / 1000);
    return reason;
}

}  // namespace

QString CTargetWriter::Error() const { return QStringLiteral("%1: %2").arg(m_errorPath, m_errorReason); }

bool CTargetWriter::Fail(const QString& path, const QString& reason) {
    m_failed = true;
    m_errorPath = path;
    m_errorReason = reason;
    return false;
}

void CTargetWriter::Reset() {
    m_staging.Close();
    m_where = Where::None;
    m_stagingPath.clear();
    m_buffer.clear();
    m_buffered = 0;
}

bool CTargetWriter::Open(const QString& target) {
    Abandon();
    m_target = target;
    m_real = target;
    m_written = 0;
    m_failed = false;
    m_busy = false;
    m_intact = true;
    m_stagingFailed = false;
    m_errorPath.clear();
    m_errorReason.clear();
    if (target.isEmpty() || !IsUsableLocalName(target))
        return Fail(PrintableLocalName(target), QStringLiteral("no file can have this name"));
    QString refusal;
    if (!ResolveLink(target, &m_real, &refusal)) return Fail(PrintableLocalName(target), refusal);
    struct stat status;
    const bool exists = LocalStatus(m_real, &status);
    if (exists && S_ISDIR(status.st_mode)) return Fail(m_real, QStringLiteral("it is a folder"));
    if (exists && !S_ISREG(status.st_mode)) {
        // A terminal, a pipe, /dev/stdout: no file to replace, the bytes go
        // straight there. Never waited for: a named pipe nobody reads is
        // refused at once, not held open until someone does.
        if (!m_staging.Open(m_real, O_WRONLY | O_APPEND | O_NONBLOCK)) {
            if (m_staging.ErrorNumber() == ENXIO) return Fail(m_real, QStringLiteral("it is a pipe nobody reads"));
            return Fail(m_staging);
        }
        const int flags = ::fcntl(m_staging.Fd(), F_GETFL);
        if (flags >= 0) ::fcntl(m_staging.Fd(), F_SETFL, flags & ~O_NONBLOCK);
        m_where = Where::Direct;
        return true;
    }
    if (exists && ::access(EncodeLocalName(m_real).constData(), W_OK) != 0)
        return Fail(m_real, SystemErrorText(errno));
    RemoveStaleStagingFiles(m_real);
    int error = 0;
    if (CreateStagingFile(m_real, m_staging, &m_stagingPath, &error)) {
        m_where = Where::Beside;
        return true;
    }
    // A file that may be written in a folder that takes no new files: it is
    // written in place, from a staging file in the temporary folder.
    if (!exists || (error != EACCES && error != EPERM)) return Fail(m_real, SystemErrorText(error));
    m_stagingPath = CreateKxTempFile();
    if (m_stagingPath.isEmpty())
        return Fail(m_real, QStringLiteral("its folder takes no new files (%1) and no temporary file can be made "
                                           "in %2")
                                .arg(SystemErrorText(error), KxTempFolderPath()));
    if (!m_staging.Open(m_stagingPath, O_RDWR)) {
        ReleaseKxTempFile(m_stagingPath);
        m_stagingPath.clear();
        return Fail(m_staging);
    }
    m_where = Where::InPlace;
    return true;
}

bool CTargetWriter::StagingFailed() {
    m_stagingFailed = true;
    // Beside the target the disk is the target's: the user knows that name,
    // not the staging file's. In the temporary folder it is another disk.
    return Fail(m_where == Where::Beside ? m_real : m_staging.Path(), m_staging.Reason());
}

bool CTargetWriter::FlushBuffer() {
    if (m_buffered == 0) return !m_failed;
    const bool written = m_staging.Write(m_buffer.constData(), m_buffered);
    m_buffered = 0;
    return written || StagingFailed();
}

bool CTargetWriter::Write(const char* data, qint64 size) {
    if (m_where == Where::None || m_failed) return false;
    m_written += size;
    if (m_where == Where::Direct) return m_staging.Write(data, size) || StagingFailed();
    // Large pieces go straight to the file, small ones (journal lines) are
    // gathered first, a copy each.
    if (m_buffered + size > kBufferBytes && !FlushBuffer()) return false;
    if (size >= kBufferBytes) return m_staging.Write(data, size) || StagingFailed();
    if (m_buffer.size() < kBufferBytes) m_buffer.resize(kBufferBytes);
    if (size > 0) std::memcpy(m_buffer.data() + m_buffered, data, static_cast<std::size_t>(size));
    m_buffered += size;
    return m_buffered < kBufferBytes || FlushBuffer();
}

bool CTargetWriter::Commit(Mode mode, int waitMs) {
    if (m_where == Where::None || !FlushBuffer()) return false;
    if (m_where == Where::Direct) {
        Reset();
        return true;
    }
    const auto start = std::chrono::steady_clock::now();
    // Two locks: the lock file beside, which names its holder, and the
    // target itself, which a writer that cannot make the lock file takes too.
    CFileLock beside;
    const CFileLock::Outcome besideLock =
        m_lockFileHeld ? CFileLock::Outcome::Locked : beside.LockFile(m_real + QStringLiteral(".lock"), waitMs);
    switch (besideLock) {
    case CFileLock::Outcome::Busy:
        m_busy = true;
        return Fail(m_real, BusyReason(beside.Holder(), waitMs));
    case CFileLock::Outcome::Failed:
        if (m_where == Where::Beside) return Fail(m_real, beside.Error());
        break;  // a folder that takes no new files: the lock on the target decides
    case CFileLock::Outcome::Locked:
        if (!m_lockFileHeld) beside.SetContent(LockHolderLine());
        break;
    }
    CFileLock self;
    struct stat status;
    if (LocalStatus(m_real, &status)) {
        const int spent = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count());
        switch (self.LockExisting(m_real, waitMs > spent ? waitMs - spent : 0)) {
        case CFileLock::Outcome::Busy:
            m_busy = true;
            beside.Unlock(true);
            return Fail(m_real, BusyReason(self.Holder(), waitMs));
        case CFileLock::Outcome::Failed:
            beside.Unlock(true);
            return Fail(m_real, self.Error());
        case CFileLock::Outcome::Locked:
            break;
        }
        // What a killed writer left half done goes back first.
        RecoverInPlaceChanges(status.st_dev, status.st_ino);
    }
    PauseAtTestPoint("commit:locked");
    const bool done = m_where == Where::Beside ? CommitBeside(mode) : CommitInPlace(mode);
    self.Unlock();
    beside.Unlock(true);
    return done;
}

bool CTargetWriter::CommitBeside(Mode mode) {
    struct stat old;
    const bool exists = LocalStatus(m_real, &old);
    if (exists) m_staging.SetPermissions(old.st_mode);
    if (mode == Mode::Append && exists && old.st_size > 0) {
        // Old and new bytes together in a file of their own, renamed over the
        // target: until the rename the target is untouched, after it whole.
        CSystemFile combined;
        QString combinedPath;
        int error = 0;
        if (!CreateStagingFile(m_real, combined, &combinedPath, &error))
            return Fail(FolderOf(m_real), SystemErrorText(error));
        CSystemFile from;
        bool built = from.Open(m_real, O_RDONLY);
        if (!built) Fail(from);
        else if (!CopyFileBytes(from, 0, combined, 0, old.st_size)) Fail(from.ErrorNumber() ? from : combined);
        else if (!CopyFileBytes(m_staging, 0, combined, old.st_size, m_written, "append:half"))
            Fail(m_staging.ErrorNumber() ? m_staging : combined);
        else if (!combined.SetPermissions(old.st_mode) || !combined.Sync()) Fail(combined);
        PauseAtTestPoint("append:built");
        if (!m_failed) RecordBefore(combined, old.st_size + m_written);
        int renameError = 0;
        if (!m_failed && !RenameLocalFile(combinedPath, m_real, &renameError))
            Fail(m_real, SystemErrorText(renameError));
        if (m_failed) {
            RemoveLocalFile(combinedPath);
            return false;
        }
        // The rename is durable only once the folder is: before anything
        // counts on it (a clear of what the file now holds).
        SyncFolderOf(m_real);
        RemoveLocalFile(m_stagingPath);
        RecordAfter();
        Reset();
        return true;
    }
    if (!m_staging.Sync()) return Fail(m_staging);
    PauseAtTestPoint("replace:built");
    if (!RecordBefore(m_staging, m_written)) return false;
    int renameError = 0;
    if (!RenameLocalFile(m_stagingPath, m_real, &renameError)) return Fail(m_real, SystemErrorText(renameError));
    SyncFolderOf(m_real);
    RecordAfter();
    Reset();
    return true;
}

bool CTargetWriter::RecordBefore(CSystemFile& file, qint64 size) {
    if (!m_record.before) return true;
    struct stat status;
    if (!file.Status(&status)) return Fail(file);
    QString error;
    if (!m_record.before(status.st_dev, status.st_ino, size, &error)) return Fail(m_real, error);
    PauseAtTestPoint("commit:recorded");
    return true;
}

void CTargetWriter::RecordAfter() {
    if (m_record.after) m_record.after();
}

bool CTargetWriter::CommitInPlace(Mode mode) {
    CSystemFile target;
    if (!target.Open(m_real, O_RDWR)) return Fail(target);
    const qint64 oldSize = target.Size();
    if (oldSize < 0) return Fail(target);
    if (!RecordBefore(target, mode == Mode::Append ? oldSize + m_written : m_written)) return false;
    const bool done = mode == Mode::Append ? AppendInPlace(target, oldSize) : ReplaceInPlace(target, oldSize);
    if (done) {
        RecordAfter();
        m_staging.Close();
        ReleaseKxTempFile(m_stagingPath);
        Reset();
    }
    return done;
}

bool CTargetWriter::ReplaceInPlace(CSystemFile& target, qint64 oldSize) {
    const QString backupPath = KxTempCompanion(m_stagingPath, QStringLiteral("old"));
    const QString record = KxTempCompanion(m_stagingPath, QStringLiteral("undo"));
    // The old bytes are kept aside, and the space the new ones need is
    // taken, before the first old byte is given up.
    CSystemFile backup;
    if (!backup.Open(backupPath, O_RDWR | O_CREAT | O_TRUNC, 0600)) return Fail(backup);
    if (!CopyFileBytes(target, 0, backup, 0, oldSize) || !backup.Sync()) {
        Fail(backup.ErrorNumber() ? backup : target);
        RemoveLocalFile(backupPath);
        return false;
    }
    struct stat status;
    QString error;
    if (!target.Reserve(oldSize, m_written - oldSize) || !target.Status(&status)) {
        Fail(target);
        RemoveLocalFile(backupPath);
        return false;
    }
    if (!WriteUndoRecord(record, {m_real, status.st_dev, status.st_ino, oldSize, backupPath}, &error)) {
        RemoveLocalFile(backupPath);
        return Fail(record, error);
    }
    PauseAtTestPoint("replace:noted");
    if (CopyFileBytes(m_staging, 0, target, 0, m_written, "replace:half") && target.Resize(m_written) &&
        target.Sync()) {
        PauseAtTestPoint("replace:written");
        RemoveLocalFile(record);
        RemoveLocalFile(backupPath);
        return true;
    }
    Fail(m_staging.ErrorNumber() ? m_staging : target);
    if (ApplyUndo({m_real, status.st_dev, status.st_ino, oldSize, backupPath}, &error)) {
        RemoveLocalFile(record);
        RemoveLocalFile(backupPath);
        return false;
    }
    // The record stays with its copy: the next start puts the old bytes back.
    m_intact = false;
    m_errorReason += QStringLiteral("; its old bytes could not be put back now (%1), they are kept in %2 and "
                                    "are put back at the next start")
                         .arg(error, backupPath);
    return false;
}

bool CTargetWriter::AppendInPlace(CSystemFile& target, qint64 oldSize) {
    const QString record = KxTempCompanion(m_stagingPath, QStringLiteral("undo"));
    struct stat status;
    QString error;
    if (!target.Reserve(oldSize, m_written) || !target.Status(&status)) return Fail(target);
    if (!WriteUndoRecord(record, {m_real, status.st_dev, status.st_ino, oldSize, QString()}, &error))
        return Fail(record, error);
    PauseAtTestPoint("append:noted");
    if (CopyFileBytes(m_staging, 0, target, oldSize, m_written, "append:half") && target.Sync()) {
        PauseAtTestPoint("append:written");
        RemoveLocalFile(record);
        return true;
    }
    Fail(m_staging.ErrorNumber() ? m_staging : target);
    if (target.Resize(oldSize) && target.Sync()) {
        RemoveLocalFile(record);
        return false;
    }
    m_intact = false;
    m_errorReason += QStringLiteral("; the bytes appended could not be cut off now (%1), that is done at the "
                                    "next start")
                         .arg(target.Reason());
    return false;
}

QString CTargetWriter::Abandon(const QString& keepAs) {
    if (m_where == Where::None) return QString();
    if (m_where == Where::Direct) {
        Reset();
        return QString();
    }
    FlushBuffer();
    m_staging.Close();
    const QString staged = m_stagingPath;
    const Where where = m_where;
    Reset();
    // An in-place change not yet put back: its owner's files stay together
    // for the next start, which puts the old bytes back.
    if (!m_intact) return staged;
    // Nothing arrived, or only what a refusing disk took: nothing to keep.
    if (m_written == 0 || m_stagingFailed) {
        if (where == Where::InPlace) ReleaseKxTempFile(staged);
        else RemoveLocalFile(staged);
        return QString();
    }
    const QString name = keepAs.isEmpty() ? NameOf(m_real) + QStringLiteral(".partial") : NameOf(keepAs);
    if (where == Where::InPlace) {
        // The target's folder takes no new files: the bytes stay in the
        // temporary folder, no longer a temporary file.
        const QString kept = KeepKxTempFile(staged, name);
        return kept.isEmpty() ? staged : kept;
    }
    const QString wanted = keepAs.isEmpty() ? FolderOf(m_real) + QLatin1Char('/') + name : keepAs;
    if (RenameLocalFile(staged, wanted)) return wanted;
    // Something else is in the way (a folder of that name): under a name of
    // its own, which no clean-up takes for a staging file.
    const QString beside = wanted + QLatin1Char('-') + RandomNamePart();
    return RenameLocalFile(staged, beside) ? beside : staged;
}

bool WriteFileWhole(const QString& target, const QByteArray& bytes, int waitMs, QString* error, bool lockFileHeld) {
    CTargetWriter writer;
    writer.SetLockFileHeld(lockFileHeld);
    const bool written = writer.Open(target) && writer.Write(bytes) && writer.Commit(CTargetWriter::Mode::Replace, waitMs);
    if (!written && error) *error = writer.Error();
    return written;
}

namespace {
// `tell`: name what is left alone (the writer of that target does; the
// clean-up of a whole folder at start-up leaves that to it, so nothing is
// named twice).
int RemoveStaleStaging(const QString& folder, const QString& prefix, bool tell) {
    int removed = 0;
    for (const QString& name : ListLocalFolder(folder, prefix, kStagingSuffix)) {
        CSystemFile file;
        const QString path = folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
        // Only a regular file can be a staging file we left. Anything else
        // with such a name (a FIFO, which an open would wait on for ever, a
        // link, a device, a folder) was put there by someone else: it is
        // named and left alone.
        struct stat status;
        if (!file.Open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW)) {
            if (tell && file.ErrorNumber() == ELOOP)
                Prompt().Warning(QStringLiteral("%1: it is a link, not a file this program left; left as it is")
                                     .arg(PrintableLocalName(path)),
                                 QStringLiteral("Внимание!"));
            continue;
        }
        if (!file.Status(&status)) continue;
        if (!S_ISREG(status.st_mode)) {
            if (tell)
                Prompt().Warning(
                    QStringLiteral("%1: it is no regular file, not a file this program left; left as it is")
                        .arg(PrintableLocalName(path)),
                    QStringLiteral("Внимание!"));
            continue;
        }
        // Locked: its writer still runs.
        if (file.Lock() && RemoveLocalFile(path)) ++removed;
    }
    return removed;
}
}  // namespace

int RemoveStaleStagingFiles(const QString& target) {
    return RemoveStaleStaging(FolderOf(target), StagingPrefix(target), true);
}

int RemoveStaleStagingFilesIn(const QString& folder) {
    return folder.isEmpty() ? 0 : RemoveStaleStaging(folder, QStringLiteral("."), false);
}
