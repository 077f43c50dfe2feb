#pragma once
// Unique temporary files named "kx_XXXXXX.tmp" in the system temporary folder.
// The file is created empty and kept until the program deletes it, so the name
// stays reserved for the caller.
//
// Every such file has an owner lock "kx_XXXXXX.lock" beside it, held by the
// process that made it for as long as it runs. A run killed by the system or
// by a user leaves its files behind; the next start (RemoveStaleKxTempFiles)
// removes the files whose owner lock nobody holds, and never touches those of
// a process that still runs. Files of the same owner share the name
// "kx_XXXXXX." with another ending (KxTempCompanion).

#include <QString>

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
// temporary folder when empty). A change to a user's file that such a run left
// half done (platform/InPlaceChange.h) is put back first. Returns the number
// of owners cleared.
int RemoveStaleKxTempFiles(const QString& folder = QString());

// Six letters and digits for a new unique name.
QString RandomNamePart();

// Deletes a file and ignores a missing one. Returns true when no file is left.
bool RemoveFileQuietly(const QString& path);
