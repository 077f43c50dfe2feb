#include "app/ReportFile.h"
#include "app/ResultCodes.h"
#include "directories/DirectoryKind.h"
#include "exchange/ExchangeCodes.h"
#include "tests/support/TestSupport.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

TEST(ResultCodes, EveryCodeARunCanEndWithHasItsOwnText) {
    const QString unknown = QStringLiteral("Неизвестный код ошибки");
    QList<int> codes = {ExchangeCode::kOk,
                        ExchangeCode::kComponentNotRegistered,
                        ExchangeCode::kComponentNotCreated,
                        ExchangeCode::kPortNotOpened,
                        ExchangeCode::kNoAnswer,
                        ExchangeCode::kSyncTimeout,
                        ExchangeCode::kTerminalBusy,
                        ExchangeCode::kJournalFileNotCreated,
                        ExchangeCode::kTerminalFileNotCreated,
                        ExchangeCode::kJournalShort,
                        ExchangeCode::kReadInfo,
                        ExchangeCode::kOpenInfo,
                        ExchangeCode::kJournalEmpty,
                        ExchangeCode::kTerminalNotReady,
                        ExchangeCode::kFirmwareTooOld,
                        ExchangeCode::kInfoFileNotCreated,
                        ExchangeCode::kBadSyncAnswer,
                        ExchangeCode::kRejectedBase,
                        100,   // command-line syntax
                        105,   // unknown switch
                        150};  // configuration not opened
    for (const DirectoryKindInfo& kind : kDirectoryKinds) codes << kind.upload.openCode << kind.upload.readCode;
    QSet<QString> texts;
    for (int code : codes) {
        const QString text = ResultCodeText(code);
        EXPECT_NE(text, unknown) << code;
        EXPECT_FALSE(text.isEmpty()) << code;
        texts.insert(text);
    }
    // No two codes share a text: a person reading the report tells the
    // failures apart by it.
    EXPECT_EQ(texts.size(), codes.size());

    // The texts of a directory's file, as report files have always had them.
    EXPECT_EQ(ResultCodeText(20), "Ошибка открытия файла");
    EXPECT_EQ(ResultCodeText(23), "Ошибка открытия файла товаров");
    EXPECT_EQ(ResultCodeText(26), "Ошибка открытия файла документов - план");
    EXPECT_EQ(ResultCodeText(30), "Ошибка чтения файла операций");
    EXPECT_EQ(ResultCodeText(34), "Ошибка чтения файла товаров - S/N");
    EXPECT_EQ(ResultCodeText(36), "Ошибка чтения файла документов - план");
    // A terminal rejection has no text of its own; nor has a code no run ends with.
    EXPECT_EQ(ResultCodeText(203), unknown);
    EXPECT_EQ(ResultCodeText(-1), unknown);
    EXPECT_EQ(ResultCodeText(27), unknown);
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
