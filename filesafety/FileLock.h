#pragma once
// An exclusive advisory lock (flock) on a file, held as long as the object
// lives. The system drops the locks of a process that ends however it ends
// (kill -9 too), so a lock that can be taken tells for certain that no live
// process holds it: nothing is guessed from process ids or file ages.
//
// A lock file names its holder in its first line (SetHolderText), so another
// run can say who it waits for; a lock on a file that holds data is named by
// the system's table of locks instead.

#include "platform/SystemFile.h"

#include <QByteArray>
#include <QString>

class CFileLock {
public:
    enum class Outcome { Locked, Busy, Failed };

    CFileLock() = default;
    ~CFileLock() { Unlock(); }
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    // Locks the lock file `path`, creating it when missing (0600). While
    // another process holds it, tries again for up to `waitMs`, then Busy.
    // Failed, without opening anything, when `path` is a link; Failed when
    // it is no regular file (a FIFO, a device, a folder), never waiting on it.
    Outcome LockFile(const QString& path, int waitMs);
    // Locks the existing file `path` itself, neither creating nor changing
    // it. Failed when it does not exist.
    Outcome LockExisting(const QString& path, int waitMs);
    // Only when the lock can be had at once: Locked, Busy or Failed.
    Outcome TryLockFile(const QString& path) { return LockFile(path, 0); }

    bool IsLocked() const { return m_file.IsOpen() && m_locked; }
    // The lock file's content (the holder line and anything the holder keeps there).
    QByteArray Content();
    // Replaces the content; false, leaving the file as it is, unless it is
    // this user's file with no other name (no hard link).
    bool SetContent(const QByteArray& bytes);
    // Lets go; with `removeFile` the lock file goes first, so nobody takes a
    // lock on a file that is about to disappear (see LockFile).
    void Unlock(bool removeFile = false);

    // Busy: who holds the lock, in a few words ("kxloader process 1234: ...").
    const QString& Holder() const { return m_holder; }
    // Failed: "<path>: <the system's reason>".
    const QString& Error() const { return m_error; }
    const QString& Path() const { return m_file.Path(); }
    CSystemFile& File() { return m_file; }

private:
    Outcome Lock(const QString& path, int waitMs, bool create);

    CSystemFile m_file;
    bool m_locked = false;
    QString m_holder;
    QString m_error;
};

// Who this process is, for the holder line of its lock files: "kxloader
// process <pid>" and what the program adds (its settings file, its port).
void SetLockHolderDescription(const QString& description);
QString LockHolderDescription();
// The holder line written into a lock file: the description and the time.
QByteArray LockHolderLine();
