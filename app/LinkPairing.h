#pragma once
// Pairing this computer with a terminal on the network (port tcp:HOST:PORT)
// by the one-time code the terminal shows; used by kxloader's /pair and the
// window's pairing dialog. The key and pins go beside the user's own link
// settings (parlink.ini: the program folder when portable,
// ~/.config/kxconfig/ when installed).

#include <QString>

struct CLinkPairingResult {
    int code = 0;     // a result code: 0 paired, 3 not paired (port error), 100 bad code or port name
    QString detail;   // what happened, for the report and the user
};

CLinkPairingResult PairTerminal(const QString& port, const QString& code);

// The code from standard input (kxloader /pair -, or /pair alone on a
// terminal, after `prompt` on standard error): one line, so the code never
// stands in the process's command line where every local user can read it.
// False with `why` when nothing usable came.
bool ReadPairingCode(const QString& prompt, QString* code, QString* why);
// Whether standard input is a terminal a person types at.
bool StandardInputIsTerminal();
