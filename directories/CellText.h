#pragma once
// What a directory cell may hold. A line of a directory file is one record and
// its fields are split at ';' with no quoting, so a cell holding ';', a line
// break or a NUL byte would move every later field under the wrong column or
// break the line in two. Such characters are replaced, never refused: an
// import or a paste brings many texts at once, and rejecting a whole file for
// one character would help nobody. ';' becomes ',' (it reads the same), a line
// break (CR LF, CR or LF) and NUL become one space.
//
// A line is also never longer than the reader takes as one line
// (kMaxLineBytes, in the file's encoding): a longer one would come back as two
// rows, or as a damaged file. A text that would make its row's line longer is
// shortened at its end when it enters the cell (FitCellText; an import
// shortens the longest texts of such a row), and a choice that cannot be
// shortened (an operation type whose ID is longer) is refused.
//
// Every path into a cell (typing, pasting, new rows, CSV import) goes through
// this rule, and the person is told when it changed something
// (ShowCellTextNotes).

#include "directories/LineReader.h"
#include "platform/CodePage.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The longest line of a directory file, without its line end and without the
// byte-order mark of a UTF-8 file.
inline constexpr qsizetype kMaxLineBytes = CDirectoryLineReader::kDirectoryLineBytes;

// The text as a cell keeps it; `replaced` (when given) tells whether anything
// was changed.
QString CleanCellText(const QString& text, bool* replaced = nullptr);

// The same rule on the fields of one line of file bytes, in an ASCII-compatible
// code page (';', CR and NUL are single bytes there and never part of a
// multi-byte character); the line was split already (an imported comma
// field may hold ';'). A field that needs it is rewritten into `scratch` and
// its view pointed there. True when anything was replaced.
bool CleanFieldBytes(QByteArrayView* fields, qsizetype count, QByteArray& scratch);

// The longest beginning of `text` that takes at most `maxBytes` bytes in
// `codec`, ending between two characters (never inside a surrogate pair),
// without the blanks a cut leaves at its end (a field is read without them).
QString FitCellText(const QString& text, qsizetype maxBytes, const CodePage::CCodec& codec);

// What the rule did to the texts on their way into cells.
struct CellTextNotes {
    bool replaced = false;   // ';', a line break or NUL replaced
    int shortenedTo = -1;    // a typed or pasted text kept with this many characters
    bool refused = false;    // a choice refused: its line would be too long
    int shortenedRows = 0;   // imported or new rows whose longest texts were shortened
};

// Tells the person what the rule changed, one message a change (caption
// "KXLoader", information icon); nothing when it changed nothing.
void ShowCellTextNotes(const CellTextNotes& notes);

namespace DirectoryText {
inline constexpr const char* kCellTextReplaced =
    "Символ ';' и переводы строки в справочнике не допускаются: "
    "';' заменен на ',', перевод строки - на пробел.";
// %1 the longest line in bytes, %2 the characters kept.
inline constexpr const char* kCellTextShortened =
    "Строка справочника не может быть длиннее %1 байт: текст ячейки сокращен "
    "(оставлено символов: %2).";
inline constexpr const char* kCellTextRefused =
    "Строка справочника не может быть длиннее %1 байт: значение ячейки не изменено.";
// %1 the longest line in bytes, %2 the number of rows.
inline constexpr const char* kRowsShortened =
    "Строка справочника не может быть длиннее %1 байт: в слишком длинных строках "
    "сокращены самые длинные тексты (строк: %2).";
}  // namespace DirectoryText
