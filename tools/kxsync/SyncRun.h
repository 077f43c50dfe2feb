#pragma once
// Runs one kxloader batch against every terminal of a list, a bounded number
// at a time, each run a kxloader process of its own with the terminal's
// settings file (KXLOADER_INI) and its own output file names. A run that
// fails does not stop the others.
//
// Progress: when standard error is a terminal, one line a terminal redrawn in
// place (waiting, running with kxloader's own progress line, its result);
// each kxloader then writes to a pseudo-terminal of its own, so it shows its
// progress there as it would at a console. Otherwise nothing but the failure
// lines of the runs (each prefixed with the terminal's name) as they end.

#include "tools/kxsync/TerminalList.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>

// The exit status of a terminal whose kxloader could not be started, was
// ended by a signal, or whose settings file could not be written; no
// kxloader code has this number.
inline constexpr int kSyncNotRun = 125;
// kxsync's own wrong options, arguments or terminal list (sysexits'
// EX_USAGE, the helpers' one usage status). No kxloader code has it, so a
// scheduler tells kxsync's refusal from a terminal's kxloader refusing its
// batch (100, 105).
inline constexpr int kSyncBadArguments = 64;
inline constexpr int kSyncMaxJobs = 64;
inline constexpr int kSyncDefaultJobsLimit = 16;

struct SyncOptions {
    QString loader;          // the kxloader program
    QString sharedSettings;  // the user's kxloader.ini
    QStringList batch;       // kxloader's switches
    int jobs = 0;            // runs at once; 0: every terminal, at most kSyncDefaultJobsLimit
    bool progress = false;   // draw the per-terminal lines on `console`
    std::FILE* console = stderr;
};

struct SyncOutcome {
    SyncTerminal terminal;
    int status = kSyncNotRun;  // kxloader's exit status
    QString why;               // why it was not run, when it was not
    QStringList lines;         // what kxloader wrote to standard error
    qint64 ms = 0;
};

// SIGTERM, SIGINT and SIGHUP are taken by kxsync (they are passed on to the
// kxloaders running, which end their exchanges cleanly; none is started after).
void InstallSyncStopSignals();
// The stop signal taken, 0 when none came.
int SyncStopSignal();

QList<SyncOutcome> RunSync(const QList<SyncTerminal>& terminals, const SyncOptions& options);

// 0 when every terminal succeeded, else the status of the first terminal in
// list order that failed.
int SyncExitStatus(const QList<SyncOutcome>& outcomes);

// The table printed at the end: terminal, port, status, its text, time; and
// one line that counts the successes and names the exit status.
QString SyncSummary(const QList<SyncOutcome>& outcomes);
