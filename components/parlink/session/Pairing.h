#pragma once
// Pairing this program with a terminal on the network, once, with the short
// code the terminal shows. Inside a TLS session (each side presenting its own
// certificate) the two sides run SPAKE2 (Spake2.h) on the code, bound to both
// certificates' fingerprints as each side sees them:
//
//   program  'K' 'X' 'T' 'P'  pA (65 bytes)
//   terminal 'S'  pB (65)  confirmation of the terminal (32)   or 'N': no attempt taken now
//   program  confirmation of the program (32)                  (only when the terminal's holds)
//   terminal 'K' paired, or 'F'
//
// Then the terminal has pinned this program's certificate and this program
// pins the terminal's, noting "host:port" as where it was paired (LinkPins.h). A wrong code costs the
// terminal one of its few attempts; nothing sent lets anyone test codes
// offline, and a relay that terminates TLS itself makes both confirmations
// fail.

#include "exchange/PairingResult.h"

#include <QString>
#include <QStringList>

// The code as typed, without blanks and dashes; empty unless 6 digits.
QString NormalizePairingCode(const QString& typed);

// Pairs with the terminal at `portName` (resolved through `settingsFiles`
// like any port; its identity and pins go to the folder of the last one).
CPairOutcome PairWithTerminal(const QString& portName, const QString& code, const QStringList& settingsFiles,
                              int timeoutMs = 15000);
