// The folder watcher: notifications on the user-interface thread, at most
// one per quiet time however many files change, and its start and stop rules.

#include "platform/FFCNotify.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

namespace {

struct Counter : QObject {
    int count = 0;
    bool onUiThread = true;
};

unsigned AllChanges() { return FolderChange::kFileName | FolderChange::kSize | FolderChange::kLastWrite; }

}  // namespace

TEST(FolderWatcher, ManyWritesComeAsOneOrTwoNotificationsOnTheUserInterfaceThread) {
    CTestDir folder;
    ASSERT_TRUE(folder.Write(QStringLiteral("a.ux3"), "1\r\n"));
    Counter counter;
    CFFCNotify watcher;
    watcher.SetNotifyWindow(&counter, [&] {
        ++counter.count;
        counter.onUiThread = counter.onUiThread && QThread::currentThread() == counter.thread();
    });
    watcher.SetFolder(folder.Path(), false, AllChanges());
    ASSERT_TRUE(watcher.Start());

    // Writes to an existing file, new files, a rename and a deletion.
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(folder.Write(QStringLiteral("f%1.ux4").arg(i), "x;y;z\r\n"));
    ASSERT_TRUE(folder.Write(QStringLiteral("a.ux3"), "1;2;3\r\n"));
    ASSERT_TRUE(QDir(folder.Path()).rename(QStringLiteral("f0.ux4"), QStringLiteral("g.ux4")));
    ASSERT_TRUE(QFile::remove(folder.File(QStringLiteral("f1.ux4"))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.count > 0; }, 3000));
    QTest::qWait(3 * CFFCNotify::kQuietTimeMs);
    EXPECT_GE(counter.count, 1);
    EXPECT_LE(counter.count, 2);
    EXPECT_TRUE(counter.onUiThread);

    // Quiet folder, no notifications; a write to an existing file is seen.
    const int settled = counter.count;
    QTest::qWait(2 * CFFCNotify::kQuietTimeMs);
    EXPECT_EQ(counter.count, settled);
    ASSERT_TRUE(folder.Write(QStringLiteral("a.ux3"), "1;2;3\r\n4;5;6\r\n"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.count == settled + 1; }, 3000));

    watcher.Stop();
    EXPECT_FALSE(watcher.IsRunning());
    ASSERT_TRUE(folder.Write(QStringLiteral("late.ux5"), "x;y;z\r\n"));
    QTest::qWait(2 * CFFCNotify::kQuietTimeMs);
    EXPECT_EQ(counter.count, settled + 1);
}

TEST(FolderWatcher, AMissingFolderEndsTheThreadAndANewFolderDoesNotRestartIt) {
    CTestDir folder;
    CFFCNotify watcher;
    watcher.SetFolder(folder.File(QStringLiteral("missing")), false, AllChanges());
    ASSERT_TRUE(watcher.Start());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !watcher.IsRunning(); }, 3000));
    watcher.SetFolder(folder.Path(), false, AllChanges());
    EXPECT_FALSE(watcher.IsRunning());

    // Running, a new folder restarts it there.
    ASSERT_TRUE(watcher.Start());
    EXPECT_TRUE(watcher.IsRunning());
    ASSERT_TRUE(QDir(folder.Path()).mkdir(QStringLiteral("next")));
    watcher.SetFolder(folder.File(QStringLiteral("next")), false, AllChanges());
    EXPECT_TRUE(watcher.IsRunning());
    EXPECT_EQ(watcher.Folder(), folder.File(QStringLiteral("next")));
}

TEST(FolderWatcher, ThePortableListingComparisonSeesWritesCreationsAndDeletions) {
    CTestDir folder;
    ASSERT_TRUE(folder.Write(QStringLiteral("a.ux3"), "1\r\n"));
    auto source = OpenPollingFolderChangeSource(folder.Path(), FolderChange::kFileName | FolderChange::kSize);
    ASSERT_NE(source, nullptr);
    CStopEvent stop;
    ASSERT_TRUE(folder.Write(QStringLiteral("a.ux3"), "1;2\r\n"));
    EXPECT_EQ(source->Wait(stop), IFolderChangeSource::Wake::Changed);
    ASSERT_TRUE(QFile::remove(folder.File(QStringLiteral("a.ux3"))));
    EXPECT_EQ(source->Wait(stop), IFolderChangeSource::Wake::Changed);
    stop.Set();
    EXPECT_EQ(source->Wait(stop), IFolderChangeSource::Wake::Stopped);
    EXPECT_EQ(OpenPollingFolderChangeSource(folder.File(QStringLiteral("missing")), 1), nullptr);
}
