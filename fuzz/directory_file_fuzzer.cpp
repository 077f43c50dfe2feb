// LoadDirectoryFile and SaveDirectoryFile, for every kind and code page
// setting, with either separator.
//
// Input: kind, code page setting, separator, journal ID option; a byte that
// says whether to type into a cell first, and where; then the file's bytes
// (the text typed is the file's last bytes).
//
// A file that loads must save, and the saved file must load again to the
// same rows, columns and encoding (a loaded directory saved and loaded again
// is the same directory; a line cut after 1023 bytes included); saving that
// again must give the same bytes. A text typed into a cell comes back as the
// file can hold it - ';' and line breaks replaced, shortened (with a message)
// where the line would grow too long, blanks around it dropped, '?' for a
// character the code page lacks - and never moves another field. A file that
// does not load leaves an empty table with the kind's own columns.

#include "directories/CellText.h"
#include "directories/DirectoryCodePage.h"
#include "directories/DirectoryTable.h"
#include "fuzz/DirectoryFuzzSupport.h"
#include "fuzz/FuzzOperationTypes.h"
#include "fuzz/FuzzSupport.h"

#include <QFile>

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int kind = FuzzDirectoryKind(data[0]);
    const bool journalIdOn = data[0] & 0x08;
    const bool comma = data[0] & 0x10;
    SetDirectoryCodePage(FuzzCodePage(data[0] >> 5));
    const bool type = data[1] & 0x80;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));

    static CFuzzOperationTypes types;
    CFuzzPrompt& prompt = QuietPlatform();

    const QString original = ScratchPath(QStringLiteral("d_opers.ux3"));
    const QString saved = ScratchPath(QStringLiteral("saved.ux3"));
    const QString again = ScratchPath(QStringLiteral("again.ux3"));
    WriteScratchFile(original, bytes);

    DirectoryTable table(kind, &types, journalIdOn);
    const QList<DirectoryColumn> ownColumns = table.Columns();
    if (!LoadDirectoryFile(table, original, true, comma ? QStringLiteral(",") : QStringLiteral(";"))) {
        KX_FUZZ_CHECK(table.RowCount() == 0 && table.ColumnCount() == ownColumns.size(),
                      QStringLiteral("a failed load left %1 rows and %2 columns").arg(table.RowCount()).arg(table.ColumnCount()));
        KX_FUZZ_CHECK(prompt.texts.size() == 1, QStringLiteral("%1 messages for a damaged file").arg(prompt.texts.size()));
        return 0;
    }
    if (kind == JournalView) return 0;  // never saved

    // A comma-separated file is read as an import would (the separator is
    // the one thing that differs), so its cells may not hold what the save
    // writes between them.
    if (comma) {
        for (int r = 0; r < table.RowCount(); ++r)
            for (const QString& cell : table.RowCells(r))
                if (cell.contains(QLatin1Char(';'))) return 0;
    }

    // Typing into a cell: what the reload must show there.
    int typedRow = -1, typedColumn = -1;
    QString typed;
    if (type && table.RowCount() > 0) {
        typedRow = (data[1] & 0x0F) % table.RowCount();
        typedColumn = 1 + ((data[1] >> 4) & 0x07) % table.DataColumnCount();
        // The type column of operations takes a type's name from a list, not typing.
        if (kind == Operations && typedColumn == 2) typedColumn = 3;
        const QString text = QString::fromUtf8(bytes.right(16));
        CellTextNotes notes;
        table.SetCell(typedRow, typedColumn, text, &notes);
        // The cell holds the text with ';' and line breaks replaced, or its
        // beginning when the whole would make the line too long (and the
        // person is told so); the line always fits.
        const QString clean = CleanCellText(text);
        const QString cell = table.Cell(typedRow, typedColumn);
        KX_FUZZ_CHECK(cell == clean || (notes.shortenedTo == cell.size() && clean.startsWith(cell)),
                      QStringLiteral("typed %1, the cell holds %2 (kept %3)")
                          .arg(HexPreview(clean.toUtf8()), HexPreview(cell.toUtf8()))
                          .arg(notes.shortenedTo));
        KX_FUZZ_CHECK(RowLineBytes(table, typedRow) <= kMaxLineBytes,
                      QStringLiteral("a typed row's line of %1 bytes").arg(RowLineBytes(table, typedRow)));
        QString held = table.Codec().Decode(table.Codec().Encode(cell));
        // Fields are read without the blanks around them (the ID of an
        // operation as it stands).
        if (!(kind == Operations && typedColumn == 1)) {
            while (!held.isEmpty() && held.front() == u' ') held.remove(0, 1);
            while (!held.isEmpty() && held.back() == u' ') held.chop(1);
        }
        typed = held;
    }

    KX_FUZZ_CHECK(SaveDirectoryFile(table, saved), QStringLiteral("a loaded directory does not save"));
    // The one ambiguity of the encoding rule (DirectoryEncoding.h): single-
    // byte text whose every non-ASCII byte pairs up as UTF-8 reads as UTF-8.
    // A save may leave only such bytes (the bytes that were not UTF-8 sat in a
    // type ID or behind a NUL); the file then reads differently, by design.
    if (!table.Encoding().bom && table.Codec().IsWindows1251()) {
        CUtf8Check check;
        check.Feed(ReadScratchFile(saved));
        if (check.IsMultiByteUtf8()) return 0;
    }
    DirectoryTable reloaded(kind, &types, journalIdOn);
    KX_FUZZ_CHECK(LoadDirectoryFile(reloaded, saved, true),
                  QStringLiteral("the saved file does not load: %1").arg(HexPreview(ReadScratchFile(saved), 96)));
    // A file of ASCII alone reads the same in every encoding; which one it
    // is taken for shows nowhere.
    const QByteArray savedBytes = ReadScratchFile(saved);
    const bool ascii = std::all_of(savedBytes.cbegin(), savedBytes.cend(), [](char c) { return (c & 0x80) == 0; });
    if (typedRow >= 0) {
        KX_FUZZ_CHECK(reloaded.Cell(typedRow, typedColumn) == typed,
                      QStringLiteral("typed into row %1 column %2: %3 came back as %4")
                          .arg(typedRow)
                          .arg(typedColumn)
                          .arg(HexPreview(typed.toUtf8()), HexPreview(reloaded.Cell(typedRow, typedColumn).toUtf8())));
        // The rest is compared as it reads now; the typed cell was checked.
        table.SetCell(typedRow, typedColumn, typed);
    }
    const QString difference = TableDifference(table, reloaded, !ascii);
    KX_FUZZ_CHECK(difference.isEmpty(), QStringLiteral("saved and loaded again: %1; saved file %2")
                                            .arg(difference, HexPreview(ReadScratchFile(saved), 96)));
    KX_FUZZ_CHECK(SaveDirectoryFile(reloaded, again), QStringLiteral("the reloaded directory does not save"));
    // A typed cell is saved as typed, blanks around it included, and read
    // without them; untouched rows save to the same bytes every time.
    if (typedRow < 0)
        KX_FUZZ_CHECK(ReadScratchFile(saved) == ReadScratchFile(again),
                      QStringLiteral("the second save differs: %1 against %2")
                          .arg(HexPreview(ReadScratchFile(saved)), HexPreview(ReadScratchFile(again))));
    return 0;
}
