#include "fuzz/DirectoryFuzzSupport.h"

#include "fuzz/FuzzSupport.h"

int FuzzDirectoryKind(std::uint8_t byte) {
    // Every directory file kind, and the journal.
    const int index = byte % (kDirectoryKindCount + 1);
    return index < kDirectoryKindCount ? index : int(JournalView);
}

QString FuzzCodePage(std::uint8_t byte) {
    static const char* const kPages[] = {"windows-1251", "utf-8", "cp866", "koi8-r"};
    return QString::fromLatin1(kPages[byte % 4]);
}

QList<QStringList> TableRows(const DirectoryTable& table) {
    QList<QStringList> rows;
    for (int r = 0; r < table.RowCount(); ++r) rows << table.RowCells(r);
    return rows;
}

QString TableDifference(const DirectoryTable& a, const DirectoryTable& b, bool compareEncoding) {
    if (a.RowCount() != b.RowCount()) return QStringLiteral("%1 rows against %2").arg(a.RowCount()).arg(b.RowCount());
    if (a.DataColumnCount() != b.DataColumnCount())
        return QStringLiteral("%1 columns against %2").arg(a.DataColumnCount()).arg(b.DataColumnCount());
    if (compareEncoding && !(a.Encoding() == b.Encoding()))
        return QStringLiteral("encoding %1 (mark %2) against %3 (mark %4)")
            .arg(a.Codec().Name())
            .arg(a.Encoding().bom)
            .arg(b.Codec().Name())
            .arg(b.Encoding().bom);
    for (int r = 0; r < a.RowCount(); ++r) {
        const QStringList x = a.RowCells(r), y = b.RowCells(r);
        if (x != y)
            return QStringLiteral("row %1: [%2] against [%3]")
                .arg(r)
                .arg(HexPreview(x.join(QLatin1Char('|')).toUtf8(), 80), HexPreview(y.join(QLatin1Char('|')).toUtf8(), 80));
    }
    return QString();
}
