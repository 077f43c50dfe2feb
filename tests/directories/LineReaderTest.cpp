// Reading directory files line by line: line ends, the per-read byte limit and
// lines that straddle the reader's blocks.

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

TEST(LineReaderTest, OneReadTakesAtMost1023BytesCountingTheLineEndAsOne) {
    CTestDir dir;
    const QByteArray fits(1022, 'a');      // 1022 + line end = 1023: one line
    const QByteArray tooLong(1023, 'b');   // the line end does not fit: cut, then ""
    const QByteArray long1500(1500, 'c');  // 1023 + 477
    dir.Write("a.txt", fits + "\r\n" + tooLong + "\r\n" + long1500 + "\n" + tooLong);
    const auto lines = ReadAll(dir.File("a.txt"));
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], fits);
    EXPECT_EQ(lines[1], tooLong);
    EXPECT_EQ(lines[2], QByteArray());
    EXPECT_EQ(lines[3], QByteArray(1023, 'c'));
    EXPECT_EQ(lines[4], QByteArray(477, 'c'));
    EXPECT_EQ(lines[5], tooLong);  // the last line without a line end fits exactly
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
    dir.Write("a.txt", QByteArray(8190, 'a') + "\r\n" + QByteArray(8191, 'b') + "\r\n");
    EXPECT_EQ(ReadAll(dir.File("a.txt"), CDirectoryLineReader::kCountLineBytes).size(), 3);
}

}  // namespace
