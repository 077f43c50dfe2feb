#pragma once
// Unique temporary files named "kx_XXXXXX.tmp" in a folder of the user's own
// (KxTempFolderPath): "$XDG_RUNTIME_DIR/kxconfig", or "kxconfig-<uid>" in the
// system temporary folder ($TMPDIR, /tmp). The folder is made 0700 and, on
// every use, must be a folder (no link) of this user with permissions 0700;
// otherwise no temporary file is made and nothing in it is cleared or put
// back, since anybody could have put it there. The file is created empty and
// kept until the program deletes it, so the name stays reserved for the
// caller.
//
// Every such file has an owner lock "kx_XXXXXX.lock" beside it, held by the
// process that made it for as long as it runs. A run killed by the system or
// by a user leaves its files behind; the next start (RemoveStaleKxTempFiles)
// removes the files whose owner lock nobody holds, and never touches those of
// a process that still runs. Files of the same owner share the name
// "kx_XXXXXX." with another ending (KxTempCompanion).

#include <QString>

// Where this user's temporary files are (the folder may not exist yet).
QString KxTempFolderPath();
// Makes `folder` (0700) when missing and checks it as above; false with the
// reason in `problem` when it cannot be used.
bool PrepareKxTempFolder(const QString& folder, QString* problem = nullptr);

// Full path of a new, empty, unique file; empty text when none can be created.
QString CreateKxTempFile(const QString& folder = QString());

// "kx_XXXXXX.<ending>" beside the temporary file `path`, owned with it.
QString KxTempCompanion(const QString& path, const QString& ending);

// Removes the temporary file `path`, the side files SQLite keeps beside a
// database ("-journal", "-wal", "-shm"), its companions and its owner lock.
void ReleaseKxTempFile(const QString& path);

// Gives the temporary file `path` to the user: renamed to `name` in the same
// folder (or `name` with a number when that is taken), no longer removed with
// its owner. Returns the new path, empty when it could not be moved.
QString KeepKxTempFile(const QString& path, const QString& name);

// Removes the files of every owner that no longer runs in `folder` (the
// user's temporary folder when empty; a folder that is missing, or not
// private to the user, is left alone and none is made). A change to a user's file that such a run left
// half done (filesafety/InPlaceChange.h) is put back first. Returns the number
// of owners cleared.
int RemoveStaleKxTempFiles(const QString& folder = QString());

// Six letters and digits for a new unique name.
QString RandomNamePart();

// Deletes a file and ignores a missing one. Returns true when no file is left.
bool RemoveFileQuietly(const QString& path);
