// ImportCsv into the editor's table of each kind, for each code page setting,
// with the question about the comma answered either way, into a table that
// holds the directory's own file with or without unsaved edits.
//
// Input: a byte (kind, the answer, an edit to make first, code page, whether
// the directory's own file is Windows-1251 rather than UTF-8), then the CSV
// file's bytes.
//
// The directory file on disk is never touched by an import. A failed import
// leaves the table exactly as it was (rows, columns, encoding, modified
// flag). An imported table is marked modified, keeps the directory's own
// encoding, holds no cell with ';', a line break or NUL, and no line longer
// than the reader takes (the CSV's line may grow in the directory's
// encoding), and saves to a file that loads back to the same rows: an import
// never corrupts a directory.

#include "directories/DirectoryCodePage.h"
#include "directories/DirectoryFiles.h"
#include "directories/DirectoryTable.h"
#include "fuzz/DirectoryFuzzSupport.h"
#include "fuzz/FuzzOperationTypes.h"
#include "fuzz/FuzzSupport.h"

#include <QDir>

namespace {

// The directory's own file: a few rows of the kind, in UTF-8 or in
// Windows-1251 (a Windows-1251 CSV grows into a UTF-8 directory).
QByteArray OwnFile(int kind, bool utf8) {
    const auto text = [kind] {
        switch (kind) {
        case Operations: return QStringLiteral("1;1;Приемка товара;1;2000000000015;0\r\n2;2;Отгрузка;1;;\r\n");
        case Wares: return QStringLiteral("4600001;Молоко 1л;4600001000012;1\r\n4600002;Хлеб;4600002000019;\r\n");
        case WareDetails: return QStringLiteral("4600001000012;4600001;1;шт\r\n");
        case DocumentPlan: return QStringLiteral("10;4600001;5;1;Полка 3\r\n");
        default: return QStringLiteral("1;Иванов И.И.;2100000000011\r\n7;Склад №2;\r\n");
        }
    }();
    return utf8 ? text.toUtf8() : CodePage::ToWindows1251(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int kind = FuzzDirectoryKind(data[0]) == JournalView ? Executors : FuzzDirectoryKind(data[0]);
    const bool yes = data[0] & 0x08;
    const bool edit = data[0] & 0x10;
    SetDirectoryCodePage(FuzzCodePage(data[0] >> 5));
    const bool ownUtf8 = !(data[0] & 0x80);
    const QByteArray csv(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    static CFuzzOperationTypes types;
    CFuzzPrompt& prompt = QuietPlatform();
    static const bool project = [] {
        SetProjectPath(ScratchPath(QStringLiteral("project/demo.kxc")));
        return QDir().mkpath(ScratchPath(QStringLiteral("project/files")));
    }();
    KX_FUZZ_CHECK(project, QStringLiteral("no files folder"));
    prompt.answers = {yes ? AnswerYes : AnswerNo};

    QString own;
    DirectoryPath(kind, &own);
    const QByteArray ownBytes = OwnFile(kind, ownUtf8);
    WriteScratchFile(own, ownBytes);
    const QString csvPath = ScratchPath(QStringLiteral("import.csv"));
    WriteScratchFile(csvPath, csv);

    DirectoryTable table(kind, &types);
    KX_FUZZ_CHECK(LoadDirectoryFile(table, own, true), QStringLiteral("the directory's own file does not load"));
    if (edit) {
        // An unsaved edit, typed: a text from the input's first bytes.
        table.SetCell(0, 3, QString::fromUtf8(csv.left(12)));
        table.modified = true;
    }
    DirectoryTable before(kind, &types);
    KX_FUZZ_CHECK(LoadDirectoryFile(before, own, true), QStringLiteral("reload"));
    if (edit) {
        before.SetCell(0, 3, QString::fromUtf8(csv.left(12)));
        before.modified = true;
    }
    const int highestBefore = table.highestId;

    const bool imported = ImportCsv(table, csvPath);
    KX_FUZZ_CHECK(ReadScratchFile(own) == ownBytes, QStringLiteral("the import changed the directory file"));
    if (!imported) {
        const QString difference = TableDifference(before, table);
        KX_FUZZ_CHECK(difference.isEmpty() && table.modified == before.modified &&
                          table.Columns().size() == before.Columns().size(),
                      QStringLiteral("a failed import changed the table: %1").arg(difference));
        KX_FUZZ_CHECK(table.highestId >= highestBefore, QStringLiteral("the highest ID went down"));
        return 0;
    }
    KX_FUZZ_CHECK(table.modified, QStringLiteral("an import did not mark the table modified"));
    KX_FUZZ_CHECK(table.Encoding() == before.Encoding(),
                  QStringLiteral("the import changed the table's encoding to %1").arg(table.Codec().Name()));
    // What the file will hold of each cell: the cell, with '?' for every
    // character the code page has not (and nothing else changed).
    QList<QStringList> expected;
    for (int r = 0; r < table.RowCount(); ++r) {
        KX_FUZZ_CHECK(RowLineBytes(table, r) <= kMaxLineBytes,
                      QStringLiteral("row %1 has a line of %2 bytes").arg(r).arg(RowLineBytes(table, r)));
        QStringList held;
        for (const QString& cell : table.RowCells(r)) {
            KX_FUZZ_CHECK(!cell.contains(QLatin1Char(';')) && !cell.contains(QLatin1Char('\n')) &&
                              !cell.contains(QLatin1Char('\r')) && !cell.contains(QChar(0)),
                          QStringLiteral("row %1 holds a cell the file cannot: %2").arg(r).arg(HexPreview(cell.toUtf8())));
            const QString kept = table.Codec().Decode(table.Codec().Encode(cell));
            const QList<uint> want = cell.toUcs4(), got = kept.toUcs4();
            bool onlyQuestionMarks = want.size() == got.size();
            for (qsizetype i = 0; onlyQuestionMarks && i < want.size(); ++i)
                onlyQuestionMarks = got[i] == want[i] || got[i] == u'?';
            KX_FUZZ_CHECK(onlyQuestionMarks, QStringLiteral("%1 keeps %2 of %3")
                                                 .arg(table.Codec().Name(), HexPreview(kept.toUtf8()),
                                                      HexPreview(cell.toUtf8())));
            held << kept;
        }
        expected << held;
    }

    const QString saved = ScratchPath(QStringLiteral("saved.ux4"));
    KX_FUZZ_CHECK(SaveDirectoryFile(table, saved), QStringLiteral("an imported table does not save"));
    DirectoryTable reloaded(kind, &types);
    KX_FUZZ_CHECK(LoadDirectoryFile(reloaded, saved, true),
                  QStringLiteral("the saved import does not load: %1").arg(HexPreview(ReadScratchFile(saved), 96)));
    // The saved file is in the directory's own encoding, which the reload
    // may take for another when the rows hold only ASCII (or pair up as
    // UTF-8); in its own encoding it must read as the cells it could hold.
    if (!(reloaded.Encoding() == table.Encoding())) return 0;
    KX_FUZZ_CHECK(reloaded.DataColumnCount() == table.DataColumnCount(),
                  QStringLiteral("%1 columns saved, %2 loaded").arg(table.DataColumnCount()).arg(reloaded.DataColumnCount()));
    const QList<QStringList> got = TableRows(reloaded);
    KX_FUZZ_CHECK(got.size() == expected.size(), QStringLiteral("%1 rows saved, %2 loaded").arg(expected.size()).arg(got.size()));
    for (qsizetype r = 0; r < got.size(); ++r)
        KX_FUZZ_CHECK(got[r] == expected[r], QStringLiteral("row %1 saved as [%2], loaded as [%3]")
                                                 .arg(r)
                                                 .arg(HexPreview(expected[r].join(QLatin1Char('|')).toUtf8()),
                                                      HexPreview(got[r].join(QLatin1Char('|')).toUtf8())));
    return 0;
}
