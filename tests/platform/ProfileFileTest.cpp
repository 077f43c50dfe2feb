#include "platform/ProfileFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(ProfileFile, MissingFileSectionOrKeyGivesTheDefault) {
    CTestDir dir;
    const QString ini = dir.File("kxloader.ini");
    EXPECT_EQ(Profile::ReadString(ini, "kxloader.exe", "port", "COM1"), "COM1");
    EXPECT_EQ(Profile::ReadInt(ini, "kxloader.exe", "OverwriteJournal", 1), 1);

    ASSERT_TRUE(dir.Write("kxloader.ini", "[other]\r\nport=COM5\r\n[kxloader.exe]\r\nconfig=/x.kxc\r\n"));
    EXPECT_EQ(Profile::ReadString(ini, "kxloader.exe", "port", "COM1"), "COM1");  // key elsewhere
    EXPECT_EQ(Profile::ReadString(ini, "missing", "config", "d"), "d");
    EXPECT_EQ(Profile::ReadString(ini, "KXLOADER.EXE", "CONFIG"), "/x.kxc");  // names ignore case
}

TEST(ProfileFile, WriteCreatesFileSectionAndKey) {
    CTestDir dir;
    const QString ini = dir.File("sub.ini");
    ASSERT_TRUE(Profile::WriteString(ini, "kxloader.exe", "port", "COM3"));
    EXPECT_EQ(dir.Read("sub.ini"), "[kxloader.exe]\r\nport=COM3\r\n");
    ASSERT_TRUE(Profile::WriteString(ini, "kxloader.exe", "config", "C:\\Проекты\\a b.kxc"));
    ASSERT_TRUE(Profile::WriteString(ini, "ZQR", "Parlink", "USB"));
    EXPECT_EQ(Profile::ReadString(ini, "kxloader.exe", "config"), "C:\\Проекты\\a b.kxc");
    EXPECT_EQ(Profile::ReadString(ini, "zqr", "parlink"), "USB");
}

TEST(ProfileFile, RewriteKeepsUnknownLinesAndReplacesOnlyTheKey) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write("a.ini",
                          "; comment\n[kxloader.exe]\nport=COM1\nfoo = bar\n\n[mine]\nport=keep\n"));
    ASSERT_TRUE(Profile::WriteString(dir.File("a.ini"), "kxloader.exe", "PORT", "COM7"));
    ASSERT_TRUE(Profile::WriteString(dir.File("a.ini"), "kxloader.exe", "OverwriteJournal", "0"));
    EXPECT_EQ(dir.Read("a.ini"),
              "; comment\r\n[kxloader.exe]\r\nPORT=COM7\r\nfoo = bar\r\nOverwriteJournal=0\r\n\r\n"
              "[mine]\r\nport=keep\r\n");
    EXPECT_EQ(Profile::ReadString(dir.File("a.ini"), "mine", "port"), "keep");
    EXPECT_EQ(Profile::ReadString(dir.File("a.ini"), "kxloader.exe", "foo"), "bar");
}

TEST(ProfileFile, ValuesAreVerbatim) {
    CTestDir dir;
    const QString ini = dir.File("v.ini");
    const QString value = "\"quoted\";semi=eq\\back%1";
    ASSERT_TRUE(Profile::WriteString(ini, "s", "k", value));
    EXPECT_EQ(Profile::ReadString(ini, "s", "k"), value);
}

TEST(ProfileFile, IntegerReadingTakesLeadingDigits) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write("i.ini", "[s]\na=12abc\nb=abc\nc=-4\nd=\nmin=-2147483648\nbig=-99999999999\n"));
    const QString ini = dir.File("i.ini");
    EXPECT_EQ(Profile::ReadInt(ini, "s", "a", 9), 12);
    EXPECT_EQ(Profile::ReadInt(ini, "s", "b", 9), 0);
    EXPECT_EQ(Profile::ReadInt(ini, "s", "c", 9), -4);
    EXPECT_EQ(Profile::ReadInt(ini, "s", "d", 9), 0);
    EXPECT_EQ(Profile::ReadInt(ini, "s", "e", 9), 9);
    EXPECT_EQ(Profile::ReadInt(ini, "s", "min", 9), INT_MIN);  // every int written as "%i" reads back
    EXPECT_EQ(Profile::ReadInt(ini, "s", "big", 9), INT_MIN);
}

TEST(ProfileFile, AWriteTouchesOnlyItsOwnLine) {
    CTestDir dir;
    // A settings file carried over from Windows: its project path is in
    // Windows-1251, and a comment holds a stray byte.
    const QByteArray windowsPath = "config=D:\\\xCF\xF0\xEE\xE5\xEA\xF2\xFB\\shop.kxc";
    const QByteArray original = "[kxloader.exe]\r\n" + windowsPath + "\r\n; \xFF\r\n[link]\r\nWindow=16\r\n";
    ASSERT_TRUE(dir.Write("k.ini", original));
    const QString ini = dir.File("k.ini");
    ASSERT_TRUE(Profile::WriteString(ini, "kxloader.exe", "port", "COM2"));
    EXPECT_EQ(dir.Read("k.ini"), "[kxloader.exe]\r\n" + windowsPath + "\r\n; \xFF\r\nport=COM2\r\n[link]\r\nWindow=16\r\n");

    // A value with a line break would break the file into lines of its own
    // (here a second [link] section ahead of the real one): it is refused and
    // the file stays as it was.
    const QByteArray before = dir.Read("k.ini");
    EXPECT_FALSE(Profile::WriteString(ini, "kxloader.exe", "config", "/home/a\n[link]\nWindow=1"));
    EXPECT_FALSE(Profile::WriteString(ini, "kxloader.exe", "port", "COM3\r"));
    EXPECT_EQ(dir.Read("k.ini"), before);
    EXPECT_EQ(Profile::ReadInt(ini, "link", "Window", 0), 16);
    EXPECT_EQ(Profile::ReadString(ini, "kxloader.exe", "port"), "COM2");

    // A file saved with a byte order mark (as Windows editors save) keeps it,
    // and the line after it keeps its bytes even when they start with another.
    for (const QByteArray& start : {QByteArray("\xEF\xBB\xBF"), QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF")}) {
        ASSERT_TRUE(dir.Write("m.ini", start + "[link]\r\nWindow=16\r\n"));
        const int window = Profile::ReadInt(dir.File("m.ini"), "link", "Window", 0);
        ASSERT_TRUE(Profile::WriteString(dir.File("m.ini"), "kxloader.exe", "port", "COM2"));
        EXPECT_EQ(dir.Read("m.ini"), start + "[link]\r\nWindow=16\r\n[kxloader.exe]\r\nport=COM2\r\n") << start.size();
        EXPECT_EQ(Profile::ReadInt(dir.File("m.ini"), "link", "Window", 0), window) << start.size();
    }
}

TEST(ProfileFile, AWriteThatFailsSaysWhy) {
    CTestDir dir;
    QString error;
    EXPECT_FALSE(Profile::WriteString(dir.File("no/such/folder/x.ini"), "s", "k", "v", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(Profile::WriteString(dir.File("x.ini"), "s", "k", "two\nlines", &error));
    EXPECT_EQ(error, "the value holds a line break");
}

}  // namespace
