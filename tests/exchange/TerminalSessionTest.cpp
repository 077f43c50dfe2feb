#include "exchange/ExchangeCodes.h"
#include "exchange/TerminalAnswer.h"
#include "exchange/TerminalSession.h"
#include "tests/exchange/ExchangeFixture.h"

#include <QDateTime>

namespace {

class TerminalSessionTest : public ExchangeTest {
protected:
    void Script(CFakeParlink& f) {
        f.AnswerAfter(QStringLiteral("--s"), {QStringLiteral("A;1.0")});
        f.AnswerAfter(QStringLiteral("--h"), {QStringLiteral("X;T1;123;")});
    }
};

TEST_F(TerminalSessionTest, ReadsIdentityWithExactWireLog) {
    Script(fake);
    TerminalSession session;
    ASSERT_EQ(session.ConnectTerminal(QStringLiteral("COM3")), 0);
    EXPECT_EQ(fake.Wire(), QStringList({"OpenPort(COM3)", "WaitLink(3000)", "SendCommand(--s)", "Receive",
                                        "SendCommand(--h)", "Receive", "GetComponentVersion",
                                        "GetProtocolVersion", "ClosePort"}));
    EXPECT_EQ(session.info.program, "A");
    EXPECT_EQ(session.info.programVersion, "1.0");
    EXPECT_EQ(session.info.firstHField, "X");
    EXPECT_EQ(session.info.terminal, "T1");
    EXPECT_EQ(session.info.deviceId, "123");
    EXPECT_EQ(session.info.componentVersion, "2.1");
    EXPECT_EQ(session.info.protocolVersion, "7");
    EXPECT_TRUE(fake.Balanced());
    EXPECT_EQ(fake.creations, 1);
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(TerminalSessionTest, TheUsbChoiceReachesTheComponentAsItsDeviceInAnyCaseOtherNamesAsTheyStand) {
    // The component reads port names without regard to case: "usb" typed in
    // a settings file is the same device as the window's "USB", and must
    // follow the same [ports] entry of the component.
    const std::pair<QString, QString> ports[] = {{"USB", "\\\\.\\WCEUSBSH001"},
                                                 {"usb", "\\\\.\\WCEUSBSH001"},
                                                 {"Usb", "\\\\.\\WCEUSBSH001"},
                                                 {"ActiveSync", "ActiveSync"},
                                                 {"COM3", "COM3"},
                                                 {"USB2", "USB2"},
                                                 {"/dev/pts/7", "/dev/pts/7"}};
    for (const auto& [given, opened] : ports) {
        fake.Reset();
        Script(fake);
        TerminalSession session;
        EXPECT_EQ(session.ConnectTerminal(given), 0);
        EXPECT_EQ(fake.log.value(2), "OpenPort(" + opened + ")") << given.toStdString();
    }
}

TEST_F(TerminalSessionTest, ShortAnswersLeaveMissingFieldsEmpty) {
    fake.AnswerAfter(QStringLiteral("--s"), {QStringLiteral("OnlyName")});
    fake.AnswerAfter(QStringLiteral("--h"), {QString()});
    TerminalSession session;
    session.info.terminal = "stale";
    ASSERT_EQ(session.ConnectTerminal(QStringLiteral("COM1")), 0);
    EXPECT_EQ(session.info.program, "OnlyName");
    EXPECT_EQ(session.info.programVersion, "");
    EXPECT_EQ(session.info.firstHField, "");
    EXPECT_EQ(session.info.terminal, "");
    EXPECT_EQ(session.info.deviceId, "");
}

TEST_F(TerminalSessionTest, EveryFailingStepGivesItsCodeAndMessage) {
    const auto cases =
        OpeningFailures("Ошибка! Не могу найти компоненту Parlink", "Ошибка! Не удается создать Parlink обьект!",
                        "Ошибка! Не удается открыть порт!"
                        "\n\nПорт: USB", "Ошибка! Терминал не отвечает!") +
        std::vector<FailureCase>{{"SendCommand(--s)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
                                 {"Receive", 1, 4, "Ошибка обмена!"},
                                 {"SendCommand(--h)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
                                 {"Receive", 2, 4, "Ошибка обмена!"}};
    CheckFailures(
        cases, [this](CFakeParlink& f) { Script(f); },
        [](bool show) {
            TerminalSession session;
            session.showMessages = show;
            return session.ConnectTerminal(QStringLiteral("USB"));
        },
        QStringLiteral("KXLoader"));
}

TEST_F(TerminalSessionTest, WaitLinkFailureClosesThePortItOpened) {
    fake.FailCall(QStringLiteral("WaitLink(3000)"));
    TerminalSession session;
    session.showMessages = false;
    EXPECT_EQ(session.ConnectTerminal(QStringLiteral("COM1")), 4);
    EXPECT_EQ(fake.Wire(), QStringList({"OpenPort(COM1)", "WaitLink(3000)", "ClosePort"}));
    EXPECT_EQ(fake.log.last(), "Release");
}

TEST_F(TerminalSessionTest, InformationTexts) {
    TerminalInfo info{"Orvane", "4.3.5", "x", "KX-1", "SN9", "2.1", "7"};
    EXPECT_EQ(TerminalInfoText(info),
              QString::fromUtf8("Программа: Orvane\nВерсия программы: 4.3.5\n\nТерминал: KX-1\nDeviceID: SN9\n\n"
                                "Версия parlink.dll: 2.1\nВерсия протокола parlink: 7"));
    EXPECT_EQ(TerminalCheckText(info),
              QString::fromUtf8("Программа: Orvane\nВерсия программы: 4.3.5\n\nТерминал: KX-1\nСерийный номер: SN9\n\n"
                                "Версия parlink.dll: 2.1\nВерсия протокола parlink: 7"));
    // A field holding a placeholder is not expanded again.
    info.program = "%2";
    EXPECT_TRUE(TerminalInfoText(info).startsWith(QString::fromUtf8("Программа: %2\n")));
}

TEST(AnswerParsing, SplitsAtEverySeparator) {
    EXPECT_EQ(SplitAnswer(""), QStringList());
    EXPECT_EQ(SplitAnswer("a"), QStringList({"a"}));
    EXPECT_EQ(SplitAnswer("a;"), QStringList({"a", ""}));
    EXPECT_EQ(SplitAnswer(";;b"), QStringList({"", "", "b"}));
    EXPECT_EQ(AnswerField({"a"}, 2), "");
    EXPECT_EQ(AnswerField({"a"}, 0), "");
}

TEST(AnswerParsing, TimeStampIsYearMonthDayHourMinuteSecond) {
    // Every part in its place and two digits wide, so a day and a month
    // that could pass for each other are told apart.
    EXPECT_EQ(TerminalTimeStamp(QDateTime(QDate(2026, 3, 7), QTime(9, 5, 4))), "20260307090504");
    EXPECT_EQ(TerminalTimeStamp(QDateTime(QDate(1999, 12, 31), QTime(23, 59, 58))), "19991231235958");
    // Without a time given it is the local time now.
    const QDateTime before = QDateTime::currentDateTime();
    const QString now = TerminalTimeStamp();
    const QDateTime after = QDateTime::currentDateTime();
    const QDateTime read = QDateTime::fromString(now, QStringLiteral("yyyyMMddHHmmss"));
    ASSERT_TRUE(read.isValid()) << now.toStdString();
    EXPECT_GE(read, before.addMSecs(-before.time().msec()));
    EXPECT_LE(read, after);
}

}  // namespace
