// The line counts and change stamps the main window shows per directory.

#include "directories/DirectoryFiles.h"
#include "directories/DirectorySummary.h"

#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray Lines(int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i) bytes += QByteArray::number(i) + ";Товар;460\r\n";
    return bytes;
}

TEST(DirectorySummaryTest, CountStopsAtOneThousand) {
    CTestDir dir;
    DirectorySummary summary;
    summary.path = dir.File("w.ux7");
    dir.Write("w.ux7", Lines(5000));
    summary.fieldCount = 4;
    EXPECT_EQ(summary.CountLines(), 1000);
    EXPECT_EQ(summary.lineCount, 1000);
    EXPECT_EQ(summary.fieldCount, -1);
    dir.Write("w.ux7", Lines(999));
    EXPECT_EQ(summary.CountLines(), 999);
    dir.Write("w.ux7", Lines(3) + "no line end");
    EXPECT_EQ(summary.CountLines(), 4);
    dir.Write("w.ux7", QByteArray(8191, 'x') + "\r\n");  // the longest line counted: one
    EXPECT_EQ(summary.CountLines(), 1);
    dir.Write("w.ux7", QByteArray(8192, 'x') + "\r\n");  // cut: two
    EXPECT_EQ(summary.CountLines(), 2);
    summary.path.clear();
    EXPECT_EQ(summary.CountLines(), 0);
}

TEST(DirectorySummaryTest, RefreshReportsAChangeOnceWhenTheStampIsKept) {
    CTestDir dir;
    DirectorySummary summary;
    EXPECT_FALSE(summary.Refresh(true));  // no path
    summary.path = dir.File("a.ux4");
    EXPECT_TRUE(summary.Refresh(true));   // cannot be read: changed
    dir.Write("a.ux4", "1;a;b\r\n");
    QFile file(summary.path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::fromSecsSinceEpoch(1'700'000'000),
                                 QFileDevice::FileModificationTime));
    file.close();
    EXPECT_TRUE(summary.Refresh(false));
    EXPECT_TRUE(summary.Refresh(true));
    EXPECT_FALSE(summary.Refresh(true));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    // Half a second later: still a change.
    ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(1'700'000'000'500),
                                 QFileDevice::FileModificationTime));
    file.close();
    EXPECT_TRUE(summary.Refresh(true));
}

TEST(DirectorySummaryTest, RebuildMakesSevenCountedSummariesInKindOrder) {
    CTestDir dir;
    SetProjectPath(dir.File("shop.kxc"));
    QDir().mkpath(dir.File("files"));
    QString wares;
    DirectoryPath(Wares, &wares);
    WriteFileBytes(wares, Lines(12));
    const QList<DirectorySummary> summaries = RebuildSummaries();
    ASSERT_EQ(summaries.size(), 7);
    for (int kind = 0; kind < 7; ++kind) {
        EXPECT_EQ(summaries[kind].kind, kind);
        QString path;
        DirectoryPath(kind, &path);
        EXPECT_EQ(summaries[kind].path, path);
        EXPECT_EQ(summaries[kind].lineCount, kind == Wares ? 12 : 0);
        EXPECT_EQ(summaries[kind].fieldCount, -1);
    }
    EXPECT_NE(summaries[Wares].stamp, 0);
    SetProjectPath(QString());
    const QList<DirectorySummary> none = RebuildSummaries();
    ASSERT_EQ(none.size(), 7);
    EXPECT_TRUE(none[0].path.isEmpty());
    EXPECT_EQ(none[0].lineCount, 0);
}

}  // namespace
