#include "app/ReportFile.h"
#include "app/ResultCodes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(ResultCodes, TextsOfKnownAndUnknownCodes) {
    EXPECT_EQ(ResultCodeText(0), "Нет ошибок");
    EXPECT_EQ(ResultCodeText(4), "Ошибка обмена - терминал не отвечает");
    EXPECT_EQ(ResultCodeText(150), "Ошибка открытия/чтения конфигурации");
    EXPECT_EQ(ResultCodeText(200), "Ошибка в формате справочника");
    EXPECT_EQ(ResultCodeText(203), "Неизвестный код ошибки");
    EXPECT_EQ(ResultCodeText(-1), "Неизвестный код ошибки");
    EXPECT_EQ(ResultCodeText(6), "Неизвестный код ошибки");
}

TEST(ResultCodes, ReportLineIsNotEscaped) {
    EXPECT_EQ(FormatReportLine(0, ""), "0;Нет ошибок;\n");
    EXPECT_EQ(FormatReportLine(203, "T;x"), "203;Неизвестный код ошибки;T;x\n");
}

TEST(ReportFile, Windows1251WithCrLfReplacingTheOldFile) {
    CTestDir dir;
    ASSERT_TRUE(dir.Write("errors.txt", "old contents that are longer\r\n"));
    ASSERT_TRUE(WriteReportFile(dir.File("errors.txt"), 0, ""));
    EXPECT_EQ(dir.Read("errors.txt"), Cp1251("0;Нет ошибок;\r\n"));
    ASSERT_TRUE(WriteReportFile(dir.File("errors.txt"), 207, "Нет товара 'X'"));
    EXPECT_EQ(dir.Read("errors.txt"), Cp1251("207;Неизвестный код ошибки;Нет товара 'X'\r\n"));
}

TEST(ReportFile, LongDiagnosticIsWrittenWhole) {
    CTestDir dir;
    const QString longText(5000, QChar(u'Ж'));
    ASSERT_TRUE(WriteReportFile(dir.File("r.txt"), 201, longText));
    EXPECT_EQ(dir.Read("r.txt").size(), QByteArray("201;Неизвестный код ошибки;").size() -
                                             QByteArray("Неизвестный код ошибки").size() +
                                             Cp1251("Неизвестный код ошибки").size() + 5000 + 2);
}

TEST(ReportFile, UncreatableFileIsSkipped) {
    CTestDir dir;
    EXPECT_FALSE(WriteReportFile(dir.File("no/such/errors.txt"), 0, ""));
    EXPECT_FALSE(WriteReportFile("", 0, ""));
}

}  // namespace
