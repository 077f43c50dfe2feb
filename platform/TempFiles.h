#pragma once
// Unique temporary files named "kx_XXXXXX.tmp" in the system temporary folder.
// The file is created empty and kept until the program deletes it, so the name
// stays reserved for the caller.

#include <QString>

// Full path of a new, empty, unique file; empty text when none can be created.
QString CreateKxTempFile(const QString& folder = QString());

// Deletes a file and ignores a missing one. Returns true when no file is left.
bool RemoveFileQuietly(const QString& path);
