// Rows that point into the bytes a directory file was read into: the keeping
// reader gives the same lines as the streaming one and never moves them, the
// rows read, edit and save as rows stored cell by cell, and what another
// program does to the file afterwards changes nothing in the table.

#include "directories/DirectoryTable.h"
#include "platform/FileBlock.h"
#include "directories/LineReader.h"

#include "FakeOperationTypes.h"
#include "tests/support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

// Lines of every shape the reader knows: both line ends, an empty line, a NUL
// inside a line, a line longer than 1023 bytes (read as two), a line of
// exactly 1023 bytes, and a last line ended by a lone CR.
QByteArray MixedLines(int repeat) {
    QByteArray bytes("\xEF\xBB\xBF" "first;line;here\r\n");
    for (int i = 0; i < repeat; ++i) {
        const QByteArray n = QByteArray::number(i);
        bytes += n + ";name " + n + ";4600000000017\r\n";
        bytes += n + ";lf only;x\n";
        bytes += "\r\n";
        bytes += n + ";with" + QByteArray(1, '\0') + "nul;y\r\n";
        bytes += QByteArray(1500, 'a' + char(i % 26)) + "\r\n";
        bytes += QByteArray(1023, 'z') + "\r\n";
    }
    return bytes + "last;line;cr\r";
}

struct ReadLine {
    QByteArray bytes;
    bool hadEnd;
    bool hasNul;
    bool operator==(const ReadLine&) const = default;
};

std::vector<ReadLine> StreamAll(const QString& path) {
    std::vector<ReadLine> lines;
    CDirectoryLineReader reader;
    EXPECT_TRUE(reader.Open(path));
    QByteArrayView line;
    while (reader.ReadLine(&line))
        lines.push_back({line.toByteArray(), reader.LastLineHadEnd(), reader.LastLineHasNul()});
    EXPECT_FALSE(reader.Failed());
    return lines;
}

// Reads every line keeping it; the views are only read after the last line,
// so a byte moved or reused meanwhile shows.
struct KeptRead {
    std::vector<ReadLine> lines;
    int blocks = 0;
};

KeptRead KeepAll(const QString& path) {
    std::vector<std::unique_ptr<char[]>> blocks;
    CDirectoryLineReader reader;
    EXPECT_TRUE(reader.OpenKeeping(path, [&blocks](qsizetype capacity) {
        blocks.push_back(std::make_unique<char[]>(size_t(capacity)));
        return blocks.back().get();
    }));
    std::vector<QByteArrayView> views;
    std::vector<std::pair<bool, bool>> flags;
    QByteArrayView line;
    while (reader.ReadLine(&line)) {
        views.push_back(line);
        flags.push_back({reader.LastLineHadEnd(), reader.LastLineHasNul()});
    }
    EXPECT_FALSE(reader.Failed());
    KeptRead read;
    read.blocks = static_cast<int>(blocks.size());
    for (size_t i = 0; i < views.size(); ++i)
        read.lines.push_back({views[i].toByteArray(), flags[i].first, flags[i].second});
    return read;
}

TEST(KeptRowsTest, AKeepingReaderGivesTheStreamingReadersLinesAndNeverMovesThem) {
    CTestDir dir;
    const QByteArray bytes = MixedLines(500);  // about 1.3 MB: many reads
    ASSERT_TRUE(dir.Write("a.txt", bytes));
    const std::vector<ReadLine> streamed = StreamAll(dir.File("a.txt"));
    ASSERT_GT(streamed.size(), 1800u);
    EXPECT_TRUE(streamed[4].hasNul);
    EXPECT_FALSE(streamed[1].hasNul);

    // A file read as it stands fits the first block, which is sized from it.
    const KeptRead kept = KeepAll(dir.File("a.txt"));
    EXPECT_EQ(kept.blocks, 1);
    EXPECT_EQ(kept.lines, streamed);

    // A pipe tells no size: the bytes go on in further blocks, a line that
    // was not whole at the end of a block moving to the next one.
    const QString fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    std::thread writer([&] {
        QFile out(fifo);
        if (out.open(QIODevice::WriteOnly)) out.write(bytes);
    });
    const KeptRead piped = KeepAll(fifo);
    writer.join();
    EXPECT_GE(piped.blocks, 3);
    EXPECT_EQ(piped.lines, streamed);
}

// The large page blocks are made of here, or the usual 2 MB where the system
// gives none (the sizes below then test small pages at the same places).
qsizetype LargePage() { return LargePageBytes() > 0 ? LargePageBytes() : qsizetype(2) << 20; }

TEST(KeptRowsTest, ABlockOfLargePagesStartsOnTheirBoundaryAndKeepsEveryByte) {
    const qsizetype large = LargePage();
    CFileBlock block(large + 5);
    ASSERT_NE(block.Data(), nullptr);
    EXPECT_EQ(block.Capacity(), large + 5);
    if (LargePageBytes() > 0) {
        EXPECT_EQ(reinterpret_cast<quintptr>(block.Data()) % quintptr(large), 0u);
    }
    for (qsizetype i = 0; i < block.Capacity(); ++i) block.Data()[i] = char(i * 7);
    block.Shrink(large + 1);
    EXPECT_EQ(block.Capacity(), large + 1);
    for (qsizetype i = 0; i < block.Capacity(); ++i) ASSERT_EQ(block.Data()[i], char(i * 7)) << i;
}

// A file read whole into a block: every byte, and nothing beyond what the
// caller bounds it to (the terminal's rows are 32-bit offsets).
TEST(KeptRowsTest, AFileReadIntoABlockIsWholeOrRefusedWhole) {
    CTestDir dir;
    QByteArray bytes(LargePage() + 3, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 13 + (i >> 9));
    ASSERT_TRUE(dir.Write("f.txt", bytes));
    CFileBlock block;
    qsizetype size = -1;
    ASSERT_TRUE(ReadFileIntoBlock(dir.File("f.txt"), bytes.size(), &block, &size));
    ASSERT_EQ(size, bytes.size());
    EXPECT_EQ(QByteArrayView(block.Data(), size), bytes);
    EXPECT_EQ(CountLineFeeds(block.Data(), size), size_t(bytes.count('\n')));
    EXPECT_FALSE(ReadFileIntoBlock(dir.File("f.txt"), bytes.size() - 1, &block, &size));
    EXPECT_EQ(block.Data(), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(ReadFileIntoBlock(dir.File("none.txt"), bytes.size(), &block, &size));
    ASSERT_TRUE(dir.Write("empty.txt", QByteArray()));
    EXPECT_TRUE(ReadFileIntoBlock(dir.File("empty.txt"), 10, &block, &size));
    EXPECT_EQ(size, 0);
}

// Another program cuts the file between the reader taking its size and
// reading it: the lines are those of the cut file, and nothing dies (a mapped
// file would have killed the reader at the first page beyond its new end).
TEST(KeptRowsTest, AFileCutWhileItIsReadGivesTheLinesOfWhatIsLeft) {
    CTestDir dir;
    QByteArray bytes;
    for (int i = 0; bytes.size() < 3 * LargePage(); ++i)
        bytes += "W" + QByteArray::number(i) + ";Ware " + QByteArray::number(i) + ";4600000000017\r\n";
    ASSERT_TRUE(dir.Write("w.ux7", bytes));
    const qsizetype cut = LargePage() + 1001;  // inside a line
    std::vector<CFileBlock> blocks;
    CDirectoryLineReader reader;
    ASSERT_TRUE(reader.OpenKeeping(dir.File("w.ux7"), [&](qsizetype capacity) {
        if (blocks.empty()) {
            QFile file(dir.File("w.ux7"));
            if (!file.open(QIODevice::ReadWrite) || !file.resize(cut)) return static_cast<char*>(nullptr);
        }
        blocks.emplace_back(capacity);
        return blocks.back().Data();
    }));
    std::vector<QByteArray> kept;
    QByteArrayView line;
    while (reader.ReadLine(&line)) kept.push_back(line.toByteArray());
    EXPECT_FALSE(reader.Failed());
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_GE(blocks[0].Capacity(), bytes.size());  // sized for the file before the cut
    const std::vector<ReadLine> streamed = StreamAll(dir.File("w.ux7"));
    ASSERT_EQ(kept.size(), streamed.size());
    for (size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(kept[i], streamed[i].bytes) << i;
    EXPECT_EQ(kept.back(), bytes.mid(bytes.lastIndexOf("\r\n", cut) + 2, cut - bytes.lastIndexOf("\r\n", cut) - 2));
}

class KeptRowsTableTest : public ::testing::Test {
protected:
    CTestDir dir;
    CFakeOperationTypes types;
    CRecordingPrompt prompt;
    CScopedPrompt scoped{prompt};
};

TEST_F(KeptRowsTableTest, KeptRowsReadEditAndSaveAsStoredRows) {
    // Blanks around fields, a blank extra-info mode, a CR inside a field, a
    // NUL ending a line's text, more fields than columns.
    const QByteArray file =
        "  A-1 ;  Milk 1 l  ;4600000000017;1\r\n"
        "A-2;Bread;4600000000024;   \r\n"
        "A-3;Cr\rinside;4600000000031\r\n"
        "A-4;Nul;4600000000048" + QByteArray(1, '\0') + ";1;junk\r\n"
        "A-5;Wide;4600000000055;0;e1; ;\r\n";
    ASSERT_TRUE(dir.Write("w.ux7", file));
    DirectoryTable table(Wares, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, dir.File("w.ux7"), true));
    ASSERT_EQ(table.RowCount(), 5);
    EXPECT_EQ(table.RowCells(0), (QStringList{"A-1", "Milk 1 l", "4600000000017", "1", "", "", ""}));
    EXPECT_EQ(table.Rows().CellCount(1), 3);  // the blank mode is no cell
    EXPECT_EQ(table.Cell(2, 2), QStringLiteral("Cr\rinside"));
    EXPECT_EQ(table.Rows().CellCount(3), 3);  // the text ends at the NUL
    EXPECT_EQ(table.Rows().CellCount(4), 5);
    EXPECT_EQ(table.widestRow, 7);
    EXPECT_EQ(table.DataColumnCount(), 7);

    // The first edit stores the row cell by cell; the other cells keep their
    // bytes, and removing a row takes only that row.
    table.SetCell(4, 2, QStringLiteral("Wider"));
    EXPECT_TRUE(table.RemoveRow(2));
    const QByteArray saved = [&] {
        EXPECT_TRUE(SaveDirectoryFile(table, dir.File("out.ux7")));
        return dir.Read("out.ux7");
    }();
    EXPECT_EQ(saved, QByteArray("A-1;Milk 1 l;4600000000017;1;;;\r\n"
                                "A-2;Bread;4600000000024;;;;\r\n"
                                "A-4;Nul;4600000000048;;;;\r\n"
                                "A-5;Wider;4600000000055;0;e1;;\r\n"));
}

// The same lines parsed field by field into rows stored cell by cell, as
// every load did before rows kept their lines: the reference for kept rows.
void LoadStored(DirectoryTable& table, const QString& path) {
    CDirectoryLineReader reader;
    ASSERT_TRUE(reader.Open(path));
    QByteArrayView line;
    while (reader.ReadLine(&line)) {
        if (const void* nul = std::memchr(line.data(), 0, size_t(line.size())))
            line = line.first(static_cast<const char*>(nul) - line.data());
        QList<QByteArrayView> fields;
        qsizetype from = 0;
        for (qsizetype at; (at = line.indexOf(';', from)) >= 0; from = at + 1)
            fields << line.sliced(from, at - from);
        fields << line.sliced(from);
        ASSERT_TRUE(ParseRow(table, table.RowCount(),
                             std::span<const QByteArrayView>(fields.constData(), fields.size())));
    }
}

TEST_F(KeptRowsTableTest, KeptRowsMatchRowsStoredCellByCellOnRandomLines) {
    // Short lines of the bytes that matter: separators, blanks, CR, NUL,
    // digits and signs of an ID, Windows-1251 letters. A line keeps three
    // fields (a NUL only after the second separator).
    static const char kAny[] = "; ;;  \r\0-+0123456789ab\xC0\xFF";
    const QByteArray any(kAny, sizeof kAny - 1);
    const QByteArray id(" -+0123456789a\xC0");
    std::mt19937 random(20261209);
    const auto pick = [&random](const QByteArray& from, int most, bool nul) {
        QByteArray text;
        const int length = int(random() % unsigned(most + 1));
        while (text.size() < length) {
            const char c = from[int(random() % unsigned(from.size()))];
            if (c != '\0' || nul) text += c;
        }
        return text;
    };
    for (int round = 0; round < 40; ++round) {
        QByteArray file;
        const int lines = 1 + int(random() % 60);
        for (int i = 0; i < lines; ++i)
            file += pick(id, 6, false) + ";" + pick(any, 12, false) + ";" + pick(any, 30, true) +
                    (random() % 4 ? "\r\n" : "\n");
        ASSERT_TRUE(dir.Write("r.ux5", file));
        for (const int kind : {Addresses, Wares, DocumentPlan, JournalView}) {
            DirectoryTable kept(kind, &types);
            ASSERT_TRUE(LoadDirectoryFile(kept, dir.File("r.ux5"), true));
            DirectoryTable stored(kind, &types);
            LoadStored(stored, dir.File("r.ux5"));
            ASSERT_EQ(kept.RowCount(), stored.RowCount());
            EXPECT_EQ(kept.widestRow, stored.widestRow);
            EXPECT_EQ(kept.highestId, stored.highestId);
            ASSERT_EQ(kept.ColumnCount(), stored.ColumnCount());
            for (int row = 0; row < kept.RowCount(); ++row) {
                ASSERT_EQ(kept.Rows().CellCount(row), stored.Rows().CellCount(row)) << "round " << round;
                for (int cell = 0; cell < kept.Rows().CellCount(row); ++cell) {
                    const auto a = kept.Rows().Cell(row, cell, kept.Codec());
                    ASSERT_EQ(a, stored.Rows().Cell(row, cell, stored.Codec())) << "round " << round;
                }
            }
            if (kind == JournalView) continue;  // never saved
            ASSERT_TRUE(SaveDirectoryFile(kept, dir.File("kept.out")));
            ASSERT_TRUE(SaveDirectoryFile(stored, dir.File("stored.out")));
            EXPECT_EQ(dir.Read("kept.out"), dir.Read("stored.out")) << "round " << round;
        }
    }
}

TEST_F(KeptRowsTableTest, ABlankModeFieldIsLeftOutOfTheSavedLine) {
    ASSERT_TRUE(dir.Write("w.ux7", "A-1;Milk;4600000000017;  \r\nA-2;Tea;4600000000024;1\r\n"));
    DirectoryTable table(Wares, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, dir.File("w.ux7"), true));
    ASSERT_TRUE(SaveDirectoryFile(table, dir.File("out.ux7")));
    EXPECT_EQ(dir.Read("out.ux7"), QByteArray("A-1;Milk;4600000000017\r\nA-2;Tea;4600000000024;1\r\n"));
}

TEST_F(KeptRowsTableTest, ATableKeepsItsRowsWhenAnotherProgramTruncatesOrRewritesTheFile) {
    QByteArray file;
    for (int i = 0; i < 20000; ++i)
        file += "W" + QByteArray::number(i) + ";Ware number " + QByteArray::number(i * 7) +
                ";46" + QByteArray::number(10000000000LL + i) + "\r\n";
    ASSERT_TRUE(dir.Write("w.ux7", file));
    DirectoryTable table(Wares, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, dir.File("w.ux7"), true));
    ASSERT_EQ(table.RowCount(), 20000);

    // Cut to nothing, then a shorter text in its place, as an editor or a
    // download writing the same file would.
    {
        QFile f(dir.File("w.ux7"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.resize(0));
        ASSERT_TRUE(f.write("X;Y;Z\r\n") > 0);
    }
    EXPECT_EQ(table.Cell(19999, 1), QStringLiteral("W19999"));
    EXPECT_EQ(table.Cell(12345, 2), QStringLiteral("Ware number 86415"));
    ASSERT_TRUE(SaveDirectoryFile(table, dir.File("out.ux7")));
    EXPECT_EQ(dir.Read("out.ux7"), file);
}

// Wares lines of exactly `size` bytes, the last one padded to fit, with or
// without its line end.
QByteArray WaresOfSize(qsizetype size, bool finalLineEnd) {
    QByteArray bytes;
    const QByteArray end = finalLineEnd ? "\r\n" : "";
    for (int i = 0;; ++i) {
        const QByteArray line = "W" + QByteArray::number(i) + ";Ware " + QByteArray::number(i) + ";4600000000017";
        if (size - bytes.size() - (line.size() + 2) < 64) {
            const qsizetype pad = size - bytes.size() - end.size() - qsizetype(strlen("W;Last;4600000000017"));
            return bytes + "W;Last" + QByteArray(pad, 'x') + ";4600000000017" + end;
        }
        bytes += line + "\r\n";
    }
}

// Files whose block ends just before, at and just after a large page, and
// whose bytes end at and around a large page boundary, each with and without
// a final line end; and an empty file.
TEST_F(KeptRowsTableTest, FilesAroundLargePageSizesLoadWholeAndSaveByteForByte) {
    const qsizetype large = LargePage();
    // A block holds the file and the read that finds its end.
    const qsizetype room = CDirectoryLineReader::kDirectoryLineBytes + 3 + 3;
    for (const qsizetype size : {large - room - 1, large - room, large - room + 1, 2 * large - 1, 2 * large,
                                 2 * large + 1}) {
        for (const bool finalLineEnd : {true, false}) {
            const QByteArray file = WaresOfSize(size, finalLineEnd);
            ASSERT_EQ(file.size(), size);
            ASSERT_TRUE(dir.Write("w.ux7", file));
            DirectoryTable table(Wares, &types);
            ASSERT_TRUE(LoadDirectoryFile(table, dir.File("w.ux7"), true)) << size;
            ASSERT_EQ(table.RowCount(), file.count("\r\n") + (finalLineEnd ? 0 : 1)) << size;
            EXPECT_EQ(table.Cell(table.RowCount() - 1, 3), QStringLiteral("4600000000017")) << size;
            EXPECT_TRUE(table.Cell(table.RowCount() - 1, 2).endsWith(QLatin1Char('x'))) << size;
            ASSERT_TRUE(SaveDirectoryFile(table, dir.File("out.ux7")));
            EXPECT_EQ(dir.Read("out.ux7"), finalLineEnd ? file : file + "\r\n") << size;
        }
    }
    ASSERT_TRUE(dir.Write("empty.ux7", QByteArray()));
    DirectoryTable table(Wares, &types);
    EXPECT_TRUE(LoadDirectoryFile(table, dir.File("empty.ux7"), true));
    EXPECT_EQ(table.RowCount(), 0);
    EXPECT_TRUE(prompt.Texts().isEmpty());
}

}  // namespace
