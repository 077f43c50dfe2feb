#pragma once
// A plugin library must be whole before the system loader maps it: the loader
// maps its segments straight from the file, and touching a page past the end
// of a half-copied file kills the process (SIGBUS) before any error can be
// returned. A damaged library must fail like a missing one instead.

#include <QString>

// True when `path` can be handed to the system loader: an ELF file of this
// machine's class whose headers and every segment with file contents lie
// inside the file. Files in another format (or another ELF class) are left to
// the loader, which rejects them without mapping anything. False with `why`
// set when the file cannot be read or is cut short.
bool IsWholeLibraryImage(const QString& path, QString* why);
