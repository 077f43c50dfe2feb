#include "filesafety/TempFiles.h"

#include <gtest/gtest.h>

#include <QFileInfo>

TEST(TempFiles, UniqueKxFilesExistUntilRemoved) {
    const QString a = CreateKxTempFile();
    const QString b = CreateKxTempFile();
    ASSERT_FALSE(a.isEmpty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(QFileInfo(a).fileName().startsWith("kx_"));
    EXPECT_TRUE(QFileInfo::exists(a));
    EXPECT_EQ(QFileInfo(a).size(), 0);
    EXPECT_TRUE(RemoveFileQuietly(a));
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_TRUE(RemoveFileQuietly(a));  // already gone
    // Released with their owner locks.
    ReleaseKxTempFile(a);
    ReleaseKxTempFile(b);
    EXPECT_FALSE(QFileInfo::exists(b));
    EXPECT_FALSE(QFileInfo::exists(KxTempCompanion(b, "lock")));
    EXPECT_TRUE(CreateKxTempFile("/no/such/folder").isEmpty());
}
