#pragma once
// The report file of a command-line run: one line, Windows-1251, CR LF. A
// caller reads it as the run's outcome, so it is replaced whole or not at all,
// and an old report never stays behind looking like this run's.

#include "filesafety/FileLock.h"

#include <QString>

// Replaces the file with FormatReportLine(code, diagnosticText). False when it
// cannot be written; the old report is then removed where it can be, and
// `problem` (when given) says why it was not written and what became of the
// old one.
// With `lockFileHeld` the caller holds "<path>.lock" (TakeReportFile).
bool WriteReportFile(const QString& path, int code, const QString& diagnosticText, QString* problem = nullptr,
                     bool lockFileHeld = false);

// Takes the report file for this run, from /x to its end: its lock file
// ("<path>.lock"), held in `lock`. False with `problem` when another run that
// still runs has it: that run's report must not be replaced or removed.
bool TakeReportFile(const QString& path, CFileLock& lock, QString* problem);

// Removes an old report at `path` (a regular file only): a run that is killed
// before its end then leaves no report rather than an earlier run's. False
// with `problem` when one is there and cannot be removed.
bool RemoveOldReport(const QString& path, QString* problem = nullptr);

// The code a run that could not write its report ends with when it had
// succeeded ("Ошибка создания файла"): a success nobody can read of is no
// success for the caller.
inline constexpr int kReportNotWritten = 11;
