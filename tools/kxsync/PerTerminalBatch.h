#pragma once
// One kxloader batch made into the batch of one terminal. The project and the
// files uploaded (/o /e /a /d /w /q -s) are shared by every terminal; every
// file a run writes (/j /n /i /x and /q -r, named or defaulted) gets the
// terminal's name before its extension, so journal.txt of gate1 becomes
// journal-gate1.txt beside the others in the project's files folder. A
// default name is written out, so no run falls back to the shared one.
//
// The batch is read by kxloader's own grammar (app/CommandLineGrammar.h: its
// switches, which of them write a file and the default names), so a word
// means the same thing here as it will to kxloader.

#include <QString>
#include <QStringList>

// "journal.txt" -> "journal-gate1.txt", "/srv/out/j" -> "/srv/out/j-gate1":
// the name before the last extension of the last part of the path.
QString PerTerminalFileName(const QString& fileName, const QString& terminal);

// `batch`: the kxloader arguments after the program name.
QStringList PerTerminalArguments(const QStringList& batch, const QString& terminal);

// The settings file of one terminal: a copy of `shared` (the user's
// kxloader.ini, all its keys) with `port` replaced, written whole at
// `target`. It stays between runs: the note of a journal filter reset still
// owed to that terminal is kept beside it. False with the reason in `error`
// (which may be null).
bool WriteTerminalSettings(const QString& shared, const QString& target, const QString& port, QString* error);

// Where the settings of the terminal `terminal` live: the folder "kxsync-terminals"
// beside the shared settings file.
QString TerminalSettingsFile(const QString& shared, const QString& terminal);
