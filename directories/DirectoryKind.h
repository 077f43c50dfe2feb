#pragma once
// The kinds of reference directory of a project, with their fixed codes, and
// what each kind looks like in the editor: its caption and its columns.

#include <QList>
#include <QString>

enum DirectoryKind : int {
    Operations = 0,
    Executors = 1,
    Addresses = 2,
    Documents = 3,
    Wares = 4,
    WareDetails = 5,
    DocumentPlan = 6,
    JournalView = 10,
};

inline constexpr int kDirectoryKindCount = 7;  // kinds 0..6 are files of their own

inline bool IsDirectoryFileKind(int kind) { return kind >= Operations && kind <= DocumentPlan; }
// Codes 7..9 do not exist.
inline bool IsDirectoryKind(int kind) { return IsDirectoryFileKind(kind) || kind == JournalView; }

// The editor's window caption ("Справочник операций" ...), empty for other codes.
QString DirectoryCaption(int kind);

enum class ColumnAlign { Left, Right };

// One data column of a directory as the editor shows it. The width is the
// view's client width divided by `widthDivisor` (truncated), or `fixedWidth`
// pixels when the divisor is 0.
struct DirectoryColumn {
    QString title;
    ColumnAlign align = ColumnAlign::Left;
    double widthDivisor = 0.0;
    int fixedWidth = 0;

    int Width(int clientWidth) const {
        if (widthDivisor > 0.0) return static_cast<int>(clientWidth / widthDivisor);
        return fixedWidth;
    }
};

// The data columns of a kind in file order (the dummy column 0 not included).
// The journal has an "id" column first only when the journal ID option is on.
QList<DirectoryColumn> DirectoryColumns(int kind, bool journalIdOn = false);

// The column added for a field beyond a kind's own columns: "Поле #<n>",
// left-aligned, 100 pixels.
DirectoryColumn ExtraFieldColumn(int columnNumber);

// Whether the in-place editor right-aligns this column (the numeric ones).
bool IsNumericColumn(int kind, int column);
