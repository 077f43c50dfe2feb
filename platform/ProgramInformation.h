#pragma once
// The GNU information switches every program of the package answers:
// `--help` and `--version` print to standard output and end with 0 before
// anything is read, made or opened, so they work on a fresh installation and
// never change a thing.

#include <QString>
#include <QStringList>

enum class InformationSwitch { None, Help, Version };

// The first --help or --version among the arguments after the program name
// (and before a "--", after which every word is a file name).
InformationSwitch FindInformationSwitch(const QStringList& arguments);

// The one way a version is written, in captions, the about box and
// --version alike: "1.2.3", or "1.2.3.4" when the build number is not 0,
// then a blank and the special-build text when there is one.
QString FormatVersion(unsigned major, unsigned minor, unsigned patch, unsigned build, const QString& specialBuild);
// This build's version so written.
QString ProgramVersion();

// "<program> (KXConfig) " and ProgramVersion(), and a line end.
QString ProgramVersionLine(const QString& program);

// Writes `text` (UTF-8) to standard output.
void PrintToStandardOutput(const QString& text);

// For the helper programs: when the arguments ask for --help or --version,
// prints `usage` or the version line of `program` and returns true (the
// caller then ends with 0).
bool AnswerInformationSwitch(const QStringList& arguments, const QString& program, const QString& usage);
