#pragma once
// A copy of a file that is about to be replaced although it could not be read
// (a damaged directory file): its bytes are kept beside it as "<name>.bak", or
// "<name>.2.bak", "<name>.3.bak" ... when earlier copies are there, so that no
// copy ever replaces another.

#include <QString>

// The first name of that series that no file has yet.
QString FreeBackupPath(const QString& path);

// Copies the file to `backupPath`; false when the copy could not be made whole.
bool MakeBackupCopy(const QString& path, const QString& backupPath);
