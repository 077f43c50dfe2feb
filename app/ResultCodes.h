#pragma once
// The result codes of every exchange and of a command-line run, with the texts
// that go into the report file.

#include <QString>

// The text of a result code; "Неизвестный код ошибки" for codes not in the
// table (codes above 200 are terminal rejections and have no text of their own).
QString ResultCodeText(int code);

// "%i;%s;%s\n": code, its text, the diagnostic text, nothing escaped.
QString FormatReportLine(int code, const QString& diagnosticText);
