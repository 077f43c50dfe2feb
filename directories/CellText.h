#pragma once
// What a directory cell may hold. A line of a directory file is one record and
// its fields are split at ';' with no quoting, so a cell holding ';', a line
// break or a NUL byte would move every later field under the wrong column or
// break the line in two. Such characters are replaced, never refused: an
// import or a paste brings many texts at once, and rejecting a whole file for
// one character would help nobody. ';' becomes ',' (it reads the same), a line
// break (CR LF, CR or LF) and NUL become one space. Every path into a cell
// (typing, pasting, CSV import) goes through this rule, and the person is told
// when it changed something (kCellTextReplaced).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The text as a cell keeps it; `replaced` (when given) tells whether anything
// was changed.
QString CleanCellText(const QString& text, bool* replaced = nullptr);

// The same rule on the fields of one line of file bytes, in an ASCII-compatible
// code page (';', CR and NUL are single bytes there and never part of a
// multi-byte character); the line was split already (an imported comma
// field may hold ';'). A field that needs it is rewritten into `scratch` and
// its view pointed there. True when anything was replaced.
bool CleanFieldBytes(QByteArrayView* fields, qsizetype count, QByteArray& scratch);

namespace DirectoryText {
inline constexpr const char* kCellTextReplaced =
    "Символ ';' и переводы строки в справочнике не допускаются: "
    "';' заменен на ',', перевод строки - на пробел.";
}  // namespace DirectoryText
