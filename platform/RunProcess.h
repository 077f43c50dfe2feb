#pragma once
// Starting a helper program (the configuration updater) and waiting for it.

#include <QString>

// Starts `program` with `commandLine`, the whole command line as one text with
// the program first ("\"prog\" /p COM1 ..."). The child inherits no handles
// but the standard ones: its output goes where ours goes, its input is empty.
// With `wait` set, waits without a time limit and stores the exit code (a
// program killed by a signal counts as exit code -1); without it, the program
// runs on by itself and nothing is stored. Returns 0, or -1 after showing
// "Error! Cannot execute: <program>!" when the program cannot be started.
int RunProcess(const QString& program, const QString& commandLine, bool wait, int* exitCode);

// The arguments of a command line, the program's own name (the first word)
// left out. Blanks separate words, double quotes group them, as the Windows
// command line does for paths (backslashes stay as they are).
QStringList CommandLineArguments(const QString& commandLine);
