#pragma once
// The list of terminals kxsync works through: a UTF-8 text file, one terminal
// a line, its name and its port separated by blanks:
//
//   # the cradles of the goods-in gate
//   gate1   /dev/ttyUSB0
//   gate2   tcp:10.0.4.12:5070
//
// Blank lines and lines whose first non-blank character is '#' are ignored.
// The name becomes part of file names (journal-gate1.txt, gate1.ini), so it is
// kept to what every file system takes as it stands: 1 to 64 letters A-Z
// a-z, digits, '.', '_' and '-', starting with a letter or a digit. Names are
// unique regardless of case (a case-insensitive disk would merge their
// files), and so are ports (two runs on one port would only fight for it).
// The port is passed to the link as it stands.

#include <QByteArray>
#include <QList>
#include <QString>

struct SyncTerminal {
    QString name;
    QString port;
    int line = 0;  // in the list file, for messages
};

bool IsUsableTerminalName(const QString& name);

// Reads the list from `text`; `source` names it in messages. False with the
// first problem as "source:line: what is wrong" in `error`.
bool ParseTerminalList(const QByteArray& text, const QString& source, QList<SyncTerminal>* terminals,
                       QString* error);
// The same from the file `path`.
bool ReadTerminalList(const QString& path, QList<SyncTerminal>* terminals, QString* error);
