#pragma once
// The GNU information switches every program of the package answers:
// `--help` and `--version` print to standard output and end with 0 before
// anything is read, made or opened, so they work on a fresh installation and
// never change a thing.

#include <QString>
#include <QStringList>

enum class InformationSwitch { None, Help, Version };

// The first --help or --version among the arguments after the program name.
InformationSwitch FindInformationSwitch(const QStringList& arguments);

// "<program> (KXConfig) 1.0.0" (1.0.0.N with a build number), with the
// special-build text when there is one, and a line end.
QString ProgramVersionLine(const QString& program);

// Writes `text` (UTF-8) to standard output.
void PrintToStandardOutput(const QString& text);

// For the helper programs: when the arguments ask for --help or --version,
// prints `usage` or the version line of `program` and returns true (the
// caller then ends with 0).
bool AnswerInformationSwitch(const QStringList& arguments, const QString& program, const QString& usage);
