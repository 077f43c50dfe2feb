#pragma once
// What this computer keeps about each terminal it exchanged with, keyed by
// the terminal's identity (the DeviceID of its "--h" answer), never by the
// spelling of the port or by a settings file: kxloader, kxsync and the
// windows of one user share it, whichever port name or settings they use.
//
//  - the journal filter reset still owed to the terminal (filters a run set
//    and could not see reset: a run killed in between leaves it noted);
//  - per journal file, the numbers of the scans committed to that file (as
//    ranges), for terminals that number their scans. They are written ahead
//    of the commit that brings the scans (with the file that commit will put
//    in place: device, inode, size) and confirmed after it, so whatever stops
//    a run, the record tells exactly which scans the file holds.
//
// One file a terminal in the records folder ("<id>.terminal", the id
// percent-encoded), replaced whole (a temporary file synced, renamed, the
// folder synced) under a lock of its own ("<id>.lock"). The folder is the
// user's own: made 0700, and refused when another user owns it or it is a
// link.

#include "platform/NumberRanges.h"

#include <QList>
#include <QString>

#include <sys/types.h>

class CTerminalRecords {
public:
    // `folder`: the records folder; empty keeps nothing (nothing is owed,
    // nothing committed, and every note "succeeds").
    explicit CTerminalRecords(const QString& folder) : m_folder(folder) {}

    bool Keeps() const { return !m_folder.isEmpty(); }
    const QString& Folder() const { return m_folder; }

    // Any terminal is owed a filter reset (so a run must learn the identity).
    bool AnyResetOwed() const;
    bool ResetOwed(const QString& terminal) const;
    // False, with the reason, when the note cannot be written.
    bool NoteResetOwed(const QString& terminal, QString* error = nullptr) const;
    bool DropResetOwed(const QString& terminal) const;

    // The scans committed to `file`, an unconfirmed commit settled by
    // looking at the file.
    CNumberRanges Held(const QString& terminal, const QString& file) const;
    // The scans committed to any file of this computer.
    CNumberRanges HeldAnywhere(const QString& terminal) const;
    // Before the commit: `file` will hold the scans `held` once the file
    // (device, inode) of `size` bytes is in its place.
    bool NoteCommit(const QString& terminal, const QString& file, const CNumberRanges& held, dev_t device,
                    ino_t inode, qint64 size, QString* error) const;
    // After it: the commit is whole.
    bool ConfirmCommit(const QString& terminal, const QString& file) const;

    // The key a file is recorded under: its absolute, cleaned path.
    static QString FileKey(const QString& file);

private:
    struct Journal {
        QString file;
        CNumberRanges held;
        // An unconfirmed commit: what the file is once it happened.
        bool pending = false;
        CNumberRanges pendingHeld;
        dev_t device = 0;
        ino_t inode = 0;
        qint64 size = 0;
    };
    struct Terminal {
        bool resetOwed = false;
        QList<Journal> journals;
    };

    QString RecordPath(const QString& terminal) const;
    QString LockPath(const QString& terminal) const;
    bool EnsureFolder(QString* error) const;
    Terminal Read(const QString& terminal) const;
    bool Write(const QString& terminal, const Terminal& record, QString* error) const;
    // Reads, changes and writes the record under its lock.
    template <typename Change>
    bool Update(const QString& terminal, Change change, QString* error) const;
    // Settles every unconfirmed commit by looking at its file; true when any was.
    static bool Settle(Terminal& record);

    QString m_folder;
};
