#pragma once
// A change written into a user's file in place, when its folder takes no new
// file to write beside it and rename over it. In place, a kill halfway would
// leave the file torn. So before the first byte a record is written that says
// how to put the old bytes back: cut the file back to its old length (an
// append), or copy its old bytes back from a copy kept aside (a replacement).
// The record goes once the change is whole on disk. A run killed in between
// leaves it, and the old bytes are put back at the next start
// (RemoveStaleKxTempFiles) or by the next writer of that file
// (RecoverInPlaceChanges), whichever comes first.
//
// Records and copies live in the user's own temporary folder with the owner
// of the change ("kx_XXXXXX.undo", "kx_XXXXXX.old"; filesafety/TempFiles.h).
// Only a record that is a regular file of this user with permissions 0600 is
// read, and a record left by a run that has ended is applied only to the file
// it names when that is still the same file (device and inode) and still
// this user's: a record planted by anyone else changes nothing.

#include <QString>

#include <sys/types.h>

struct InPlaceUndo {
    QString target;   // the file changed
    dev_t device = 0;  // which file it was: a file put in its place
    ino_t inode = 0;   // since then is not touched
    qint64 size = 0;   // its length before the change
    QString backup;    // its old bytes (a replacement), empty for an append
};

// Writes the record to `path` and makes it durable.
bool WriteUndoRecord(const QString& path, const InPlaceUndo& undo, QString* error);
// False also for a record that is no regular file of this user, or that
// others could have written (permissions other than 0600).
bool ReadUndoRecord(const QString& path, InPlaceUndo* undo);
// Puts the old bytes back. True also when the file is no longer the one the
// record names (nothing of ours to undo there) or, with `onlyOwnTarget`, no
// longer belongs to this user.
bool ApplyUndo(const InPlaceUndo& undo, QString* error, bool onlyOwnTarget = false);

// Puts back what runs that no longer live left half done to the file with
// this device and inode (records in this user's temporary folder). Returns
// how many.
int RecoverInPlaceChanges(dev_t device, ino_t inode, const QString& folder = QString());
