#pragma once
// Pairing this computer with a terminal on the network (port tcp:HOST:PORT)
// by the one-time code the terminal shows; used by kxloader's /pair and the
// window's pairing dialog. The link component pairs (ComponentRegistry.h);
// the key and pins go beside the user's own link settings (parlink.ini: the
// program folder when portable, ~/.config/kxconfig/ when installed).

#include "exchange/PairingResult.h"

#include <QString>

CPairOutcome PairTerminal(const QString& port, const QString& code);

// The result code of a pairing: 0 paired, kCommandLineSyntaxError for a code
// or port name that cannot pair, the component's codes when it is missing or
// does not pair, else the port error.
int PairingResultCode(EPairResult result);

// The code from standard input (kxloader /pair -, or /pair alone on a
// terminal, after `prompt` on standard error): one line, so the code never
// stands in the process's command line where every local user can read it.
// False with `why` when nothing usable came.
bool ReadPairingCode(const QString& prompt, QString* code, QString* why);
// Whether standard input is a terminal a person types at.
bool StandardInputIsTerminal();
