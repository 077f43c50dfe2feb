#include "directories/DirectoryKind.h"

QString DirectoryCaption(int kind) {
    const DirectoryKindInfo* info = FindDirectoryKind(kind);
    return info ? QString::fromUtf8(info->caption) : QString();
}

QList<DirectoryColumn> DirectoryColumns(int kind, bool journalIdOn) {
    QList<DirectoryColumn> columns;
    const DirectoryKindInfo* info = FindDirectoryKind(kind);
    if (!info) return columns;
    for (const DirectoryColumnEntry& entry : info->columns) {
        if (entry.onlyWithJournalId && !journalIdOn) continue;
        const double divisor = journalIdOn && entry.widthDivisorWithJournalId > 0.0 ? entry.widthDivisorWithJournalId
                                                                                    : entry.widthDivisor;
        columns.append(DirectoryColumn{QString::fromUtf8(entry.title), entry.align, divisor, entry.fixedWidth});
    }
    return columns;
}

DirectoryColumn ExtraFieldColumn(int columnNumber) {
    return DirectoryColumn{QStringLiteral("Поле #%1").arg(columnNumber), ColumnAlign::Left, 0.0,
                           100};
}

bool IsNumericColumn(int kind, int column) {
    // Column 0 is the view's dummy column; the table's columns start at 1.
    if (!IsDirectoryFileKind(kind) || column < 1) return false;
    const auto& columns = kDirectoryKinds[kind].columns;
    return column <= static_cast<int>(columns.size()) && columns[static_cast<size_t>(column - 1)].numeric;
}

bool IsNumberedKind(int kind) {
    const DirectoryKindInfo* info = FindDirectoryKind(kind);
    return info && info->numbered;
}
