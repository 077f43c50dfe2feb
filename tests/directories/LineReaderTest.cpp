// Reading directory files line by line: line ends, the longest line and the
// cut of a longer one, and lines that straddle the reader's blocks.

#include "directories/DirectoryFields.h"
#include "directories/LineReader.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

QList<QByteArray> ReadAll(const QString& path, int max = CDirectoryLineReader::kDirectoryLineBytes) {
    QList<QByteArray> lines;
    CDirectoryLineReader reader(max);
    if (!reader.Open(path)) return lines;
    QByteArrayView line;
    while (reader.ReadLine(&line)) lines << line.toByteArray();
    EXPECT_FALSE(reader.Failed());
    return lines;
}

TEST(LineReaderTest, StripsCrLfLoneLfAndACrAtTheEnd) {
    CTestDir dir;
    dir.Write("a.txt", "one\r\ntwo\nthree\r\n\r\nfour\r");
    EXPECT_EQ(ReadAll(dir.File("a.txt")),
              (QList<QByteArray>{"one", "two", "three", "", "four"}));
    dir.Write("b.txt", "x;y\rz\r\nlast");
    EXPECT_EQ(ReadAll(dir.File("b.txt")), (QList<QByteArray>{"x;y\rz", "last"}));
}

TEST(LineReaderTest, ALineHoldsAtMost1023BytesAndALongerOneIsCut) {
    CTestDir dir;
    const QByteArray fits(1022, 'a');
    const QByteArray longest(1023, 'b');   // the longest line: its line end ends it
    const QByteArray long1500(1500, 'c');  // 1023 + 477
    const QByteArray long2046(2046, 'd');  // 1023 + 1023, the second piece ends with the line
    dir.Write("a.txt", fits + "\r\n" + longest + "\r\n" + longest + "\n" + long1500 + "\n" + long2046 +
                           "\r\n" + longest + "\r");
    const auto lines = ReadAll(dir.File("a.txt"));
    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines[0], fits);
    EXPECT_EQ(lines[1], longest);  // not a cut piece followed by an empty line
    EXPECT_EQ(lines[2], longest);
    EXPECT_EQ(lines[3], QByteArray(1023, 'c'));
    EXPECT_EQ(lines[4], QByteArray(477, 'c'));
    EXPECT_EQ(lines[5], QByteArray(1023, 'd'));
    EXPECT_EQ(lines[6], QByteArray(1023, 'd'));
    EXPECT_EQ(lines[7], longest);  // the last line, a CR before the end of the file
}

TEST(LineReaderTest, AByteOrderMarkDoesNotCountAgainstTheFirstLine) {
    CTestDir dir;
    const QByteArray bom = "\xEF\xBB\xBF";
    const QByteArray longest(1023, 'e');
    dir.Write("mark.txt", bom + longest + "\r\n" + longest + "\r\n");
    EXPECT_EQ(ReadAll(dir.File("mark.txt")), (QList<QByteArray>{bom + longest, longest}));
    // Only at the start of the file: elsewhere the same bytes are text.
    dir.Write("inside.txt", "x\r\n" + bom + longest + "\r\n");
    EXPECT_EQ(ReadAll(dir.File("inside.txt")),
              (QList<QByteArray>{"x", bom + QByteArray(1020, 'e'), QByteArray(3, 'e')}));
}

TEST(LineReaderTest, LinesAcrossBlockBoundariesAndEmptyOrMissingFiles) {
    CTestDir dir;
    QByteArray data;
    QList<QByteArray> expected;
    for (int i = 0; data.size() < 3 * 1024 * 1024; ++i) {
        QByteArray line = QByteArray::number(i) + ";" + QByteArray(i % 900, 'x') + ";e";
        expected << line;
        data += line + "\r\n";
    }
    dir.Write("big.txt", data);
    EXPECT_EQ(ReadAll(dir.File("big.txt")), expected);

    dir.Write("empty.txt", "");
    CDirectoryLineReader reader;
    ASSERT_TRUE(reader.Open(dir.File("empty.txt")));
    QByteArrayView line;
    EXPECT_FALSE(reader.ReadLine(&line));
    EXPECT_FALSE(reader.Failed());
    EXPECT_FALSE(reader.Open(dir.File("missing.txt")));
    EXPECT_FALSE(reader.Open(dir.Path()));  // a folder
    EXPECT_FALSE(reader.Open(QString()));
}

TEST(LineReaderTest, CountingReadsUpTo8191Bytes) {
    CTestDir dir;
    dir.Write("a.txt", QByteArray(8190, 'a') + "\r\n" + QByteArray(8191, 'b') + "\r\n" +
                           QByteArray(8192, 'c') + "\r\n");
    EXPECT_EQ(ReadAll(dir.File("a.txt"), CDirectoryLineReader::kCountLineBytes).size(), 4);
}

// The fields of every line as the editor reads the file: a UTF-8 file with
// the mark gives its text without the mark, an empty line is one empty field,
// a line of 1024 bytes is two, and the reading stops when asked.
TEST(LineReaderTest, FieldsOfEveryLineAsTheEditorReadsThem) {
    CTestDir dir;
    const QByteArray longLine = QByteArray(1023, 'a') + "b;c";
    ASSERT_TRUE(dir.Write("o.ux3", QByteArray("\xEF\xBB\xBF") + QString("7;Приёмка;1\r\n\r\n").toUtf8() + longLine +
                                       "\r\nstop;here\r\nnever;read\r\n"));
    QList<QStringList> lines;
    EXPECT_TRUE(ForEachDirectoryLine(dir.File("o.ux3"), [&lines](const QStringList& fields) {
        lines << fields;
        return fields.value(0) != "stop";
    }));
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], QStringList({"7", "Приёмка", "1"}));
    EXPECT_EQ(lines[1], QStringList({""}));
    EXPECT_EQ(lines[2], QStringList({QString(1023, QLatin1Char('a'))}));
    EXPECT_EQ(lines[3], QStringList({"b", "c"}));
    EXPECT_EQ(lines[4], QStringList({"stop", "here"}));
    EXPECT_FALSE(ForEachDirectoryLine(dir.File("none.ux3"), [](const QStringList&) { return true; }));
}

}  // namespace
