#pragma once
// The signals that ask a command-line run to stop (SIGTERM, SIGINT, SIGHUP):
// caught, never acted on inside the handler. The exchange then sends no new
// command, closes its session, drops what it staged and keeps what it noted;
// the run ends with 128 + the signal's number and says so in one line.

// Catches the three signals for the rest of the process.
void InstallStopSignals();
// The signal that asked the run to stop; 0 when none came.
int StopSignal();
inline bool StopRequested() { return StopSignal() != 0; }
// "SIGTERM", "SIGINT", "SIGHUP" or "signal N".
const char* StopSignalName(int signal);
// For tests: forget a signal taken.
void ResetStopSignal();
