#pragma once
// The report file of a command-line run: one line, Windows-1251, CR LF.

#include <QString>

// Replaces the file with FormatReportLine(code, diagnosticText). A file that
// cannot be created is skipped (false), as a report must never fail the run.
bool WriteReportFile(const QString& path, int code, const QString& diagnosticText);
