#pragma once
// The result codes of every exchange and of a command-line run, with the texts
// that go into the report file.

#include <QString>

// The text of a result code; "Неизвестный код ошибки" for codes not in the
// table (codes above 200 are terminal rejections and have no text of their own).
QString ResultCodeText(int code);

// "%i;%s;%s\n": code, its text, the diagnostic text, nothing escaped.
QString FormatReportLine(int code, const QString& diagnosticText);

// A process exit status holds 0-255 only, and a caller reads it: every code
// that fits is its own exit status; every code above 255 (a terminal
// rejection with number 56 or more) exits with this one status, which no code
// has, so no failure ever reads as success or as another failure. The report
// file keeps the exact code.
inline constexpr int kExitStatusForCodesAbove255 = 199;
int ProcessExitStatus(int resultCode);
