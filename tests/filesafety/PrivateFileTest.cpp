#include "filesafety/PrivateFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

// A secret is the owner's alone from its first byte, its folders too, and a
// second write replaces it whole, leaving no temporary file behind.
TEST(PrivateFile, OwnerOnlyFileInOwnerOnlyFoldersReplacedWhole) {
    CTestDir dir;
    const QString folder = dir.File(QStringLiteral("a/b"));
    const QString path = folder + QStringLiteral("/key.pem");
    QString error;
    ASSERT_TRUE(WritePrivateFile(path, "first secret", &error)) << error.toStdString();
    EXPECT_EQ(ReadFileBytes(path), QByteArray("first secret"));
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(dir.File(QStringLiteral("a"))), 0700u);

    ASSERT_TRUE(WritePrivateFile(path, "second", &error)) << error.toStdString();
    EXPECT_EQ(ReadFileBytes(path), QByteArray("second"));
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"key.pem"});
}

TEST(PrivateFile, FailsWithTheReasonWhereNoFolderCanBe) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write(QStringLiteral("plain"), "a file, not a folder"));
    QString error;
    EXPECT_FALSE(WritePrivateFile(dir.File(QStringLiteral("plain/key.pem")), "secret", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot create the folder"))) << error.toStdString();
    EXPECT_EQ(ReadFileBytes(dir.File(QStringLiteral("plain"))), QByteArray("a file, not a folder"));
}
