#pragma once
// The program folder: the absolute folder of the running executable, with a
// trailing separator. Settings files, the template database, the link
// component registry and the helper programs are all found there.

#include <QString>

// The folder of the running executable (from the operating system when it can
// tell, else from argv0 and PATH). Always absolute, ends with '/'.
QString ResolveProgramFolder(const QString& argv0);

// The same from argv0 alone: a name with a separator is taken relative to
// `currentDir`; a bare name is looked up in the folders of `pathVariable`
// (like a shell does) and falls back to `currentDir`.
QString ProgramFolderFromArgv0(const QString& argv0, const QString& pathVariable,
                               const QString& currentDir);

// The program folder of this process, set once at start-up (CKXConfigApp, the
// tools) and read by the code that finds files beside the program (the link
// component registry, the template database, the updater).
const QString& ProgramFolder();
void SetProgramFolder(const QString& folder);
