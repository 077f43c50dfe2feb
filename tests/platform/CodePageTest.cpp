#include "platform/CodePage.h"
#include "platform/TextFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(CodePage, CyrillicIsOneByteALetter) {
    const QByteArray bytes = CodePage::ToWindows1251(u"Привет, Ёж! №5");
    EXPECT_EQ(bytes, QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2, \xA8\xE6! \xB9" "5"));
    EXPECT_EQ(CodePage::FromWindows1251(bytes), QString("Привет, Ёж! №5"));
}

TEST(CodePage, EveryByteRoundTrips) {
    QByteArray all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(CodePage::ToWindows1251(CodePage::FromWindows1251(all)), all);
}

TEST(CodePage, UnmappableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(CodePage::ToWindows1251(u"a中b😀c"), QByteArray("a?b?c"));
    // In every other code page too, never a control byte of the converter's
    // own (0x1A, 0x7F: a text-mode reader may stop there); NULs stay NULs.
    const QString text = QStringLiteral("a€Жb😀z") + QChar(0) + QChar(0xFFFD) + QLatin1Char('q');
    EXPECT_EQ(CodePage::CCodec("cp866").Encode(text), QByteArray("a?\x86" "b?z\0?q", 9));
    EXPECT_EQ(CodePage::CCodec("koi8-r").Encode(text), QByteArray("a?\xF6" "b?z\0?q", 9));
}

TEST(CodePage, ConfigurableCodecFallsBackTo1251AndSpeaksOthers) {
    EXPECT_TRUE(CodePage::CCodec("nonsense-codepage").IsWindows1251());
    EXPECT_TRUE(CodePage::CCodec("CP1251").IsWindows1251());
    CodePage::CCodec utf8("utf-8");
    EXPECT_FALSE(utf8.IsWindows1251());
    EXPECT_EQ(utf8.Encode(u"Я"), QByteArray("\xD0\xAF"));
    EXPECT_EQ(utf8.Decode(QByteArray("\xD0\xAF")), QString("Я"));
    // A line or cell decoded on its own keeps a leading U+FEFF: it is text
    // there, not the file's byte-order mark.
    EXPECT_EQ(utf8.Decode(QByteArray("\xEF\xBB\xBFx")), QString(QChar(0xFEFF)) + QLatin1Char('x'));
}

TEST(TextFile, LinesEndInCrLfAndAppendAppends) {
    CTestDir dir;
    const QString path = dir.File("j.txt");
    ASSERT_TRUE(WriteTextFile(path, u"Журнал\n1;2\n", TextFileMode::Replace));
    EXPECT_EQ(dir.Read("j.txt"), Cp1251("Журнал\r\n1;2\r\n"));
    ASSERT_TRUE(WriteTextFile(path, u"57", TextFileMode::Append));
    ASSERT_TRUE(WriteTextFile(path, u"57", TextFileMode::Append));
    EXPECT_EQ(dir.Read("j.txt"), Cp1251("Журнал\r\n1;2\r\n5757"));
    ASSERT_TRUE(WriteTextFile(path, u"x", TextFileMode::Replace));
    EXPECT_EQ(dir.Read("j.txt"), "x");
}

TEST(TextFile, UnwritablePathFails) {
    CTestDir dir;
    EXPECT_FALSE(WriteTextFile(dir.File("none/x.txt"), u"x", TextFileMode::Replace));
    EXPECT_FALSE(WriteTextFile(dir.Path(), u"x", TextFileMode::Replace));  // a folder
}

}  // namespace
