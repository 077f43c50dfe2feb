// A lost or noisy link: no call hangs, a lost link fails within seconds and
// frees the port, a damaged frame is sent again and never stored wrong.

#include "tests/link/LinkTestSupport.h"

#include <QDir>
#include <QFile>

namespace {

QString WareLine(int i) {
    return QStringLiteral("%1;Товар номер %2;шт;%3;460%4").arg(i).arg(i).arg(i % 10).arg(i, 10, 10, QLatin1Char('0'));
}

}  // namespace

class ParlinkFailures : public CLinkFixture {
protected:
    // Sends ware lines until a call does not succeed (a lost link makes every
    // call fail sooner or later): that call's status.
    static int SendWaresUntilFailure(CParlinkX2& link) {
        int status = 1;
        for (int i = 0; status == 1 && i < 1000000; ++i) status = link.SendData(WareLine(i));
        return status;
    }
};

TEST_F(ParlinkFailures, TerminalKilledDuringAnUploadFailsWithinSeconds) {
    StartTerminal();
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    BeginUpload(*link, QStringLiteral("151"));
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(link->SendData(WareLine(i)), 1);
    ASSERT_TRUE(link->WaitLink(15000)) << qPrintable(link->Session()->FailureText());
    terminal.Kill();
    QElapsedTimer timer;
    timer.start();
    int status = SendWaresUntilFailure(*link);
    if (status == 1) status = link->EndData();
    if (status == 1) status = link->SendCommand(QStringLiteral("003"));
    QString answer;
    if (status == 1) status = link->Receive(&answer);
    EXPECT_EQ(status, 0);
    EXPECT_LT(timer.elapsed(), 5000);
    // The port closes, but an end the terminal never heard is no confirmed end.
    EXPECT_EQ(link->ClosePort(), 0);
    EXPECT_LT(timer.elapsed(), 5000);
    // Nothing of the broken load became current.
    EXPECT_FALSE(QFile::exists(state.File(QStringLiteral("directories/wares.ux7"))));
}

TEST_F(ParlinkFailures, TerminalKilledDuringAJournalFailsWithinSeconds) {
    QByteArray journal;
    for (int i = 0; i < 20000; ++i) journal += Cp1251(WareLine(i)) + "\r\n";
    state.Write(QStringLiteral("journal.txt"), journal);
    // Slow enough that the journal is still on its way when the terminal dies.
    StartTerminal(WithoutBlocks({QStringLiteral("--pty"), QStringLiteral("--baud"), QStringLiteral("115200")}));
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    link->SendCommand(QStringLiteral("021"));
    QString answer;
    int lines = 0;
    while (lines < 20 && link->Receive(&answer) == 1)
        if (!answer.isEmpty()) ++lines;
    ASSERT_EQ(lines, 20);
    terminal.Kill();
    QElapsedTimer timer;
    timer.start();
    int status = 1;
    bool ended = false;
    while (status == 1) {
        status = link->Receive(&answer);
        if (status == 1 && !answer.isEmpty() && answer[0] == QChar(0x0004)) ended = true;
        if (ended) break;
    }
    EXPECT_FALSE(ended);
    EXPECT_EQ(status, 0);
    EXPECT_LT(timer.elapsed(), 5000);
    // The port closes, but an end the terminal never heard is no confirmed end.
    EXPECT_EQ(link->ClosePort(), 0);
}

TEST_F(ParlinkFailures, DroppedLinkFailsAndThePortCanBeOpenedAgain) {
    StartTerminalWith("DropAfterFrames=3\n");
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    BeginUpload(*link, QStringLiteral("111"));
    QElapsedTimer timer;
    timer.start();
    int status = SendWaresUntilFailure(*link);
    if (status == 1) status = link->WaitLink(15000);
    EXPECT_EQ(status, 0);
    EXPECT_LT(timer.elapsed(), 5000);
    // The port closes, but an end the terminal never heard is no confirmed end.
    EXPECT_EQ(link->ClosePort(), 0);
    link.reset();

    // The line is free again and the terminal, healthy now, answers.
    QFile::remove(state.File(QStringLiteral("scenario.ini")));
    auto again = NewLink();
    ASSERT_TRUE(Connect(*again));
    EXPECT_EQ(Ask(*again, QStringLiteral("998")), QStringLiteral("1;Готов к обмену"));
    again->ClosePort();
    EXPECT_FALSE(QFile::exists(state.File(QStringLiteral("directories/opers.ux3"))));
}

TEST_F(ParlinkFailures, PowerOffInTheMiddleFailsTheCallNotTheProgram) {
    StartTerminalWith("ExitAfterFrames=4\n");
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    BeginUpload(*link, QStringLiteral("121"));
    QElapsedTimer timer;
    timer.start();
    int status = SendWaresUntilFailure(*link);
    EXPECT_EQ(status, 0);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(terminal.WaitForExit(10000));
    EXPECT_EQ(terminal.ExitCode(), 3);
    // The port closes, but an end the terminal never heard is no confirmed end.
    EXPECT_EQ(link->ClosePort(), 0);
}

TEST_F(ParlinkFailures, ClosePortConfirmsOnlyWhatTheTerminalCarriedOut) {
    const QByteArray journal = Cp1251(WareLine(1)) + "\r\n" + Cp1251(WareLine(2)) + "\r\n";
    state.Write(QStringLiteral("journal.txt"), journal);
    // Healthy: once ClosePort says 1, the command has been carried out.
    StartTerminal();
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    ASSERT_EQ(link->SendCommand(QStringLiteral("001")), 1);
    EXPECT_EQ(link->ClosePort(), 1);
    EXPECT_TRUE(StateFile(QStringLiteral("journal.txt")).isEmpty());
    terminal.Stop();

    // Switched off as the command arrives: the command was only queued.
    state.Write(QStringLiteral("journal.txt"), journal);
    StartTerminalWith("ExitAfterFrames=2\n");
    link = NewLink();
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(link->SendCommand(QStringLiteral("001")), 1);
    EXPECT_EQ(link->ClosePort(), 0);
    EXPECT_TRUE(terminal.WaitForExit(10000));
    EXPECT_EQ(StateFile(QStringLiteral("journal.txt")), journal);

    // Hung in the command: the line acknowledges every frame, but the
    // terminal never says it carried the command out. That is no
    // confirmation either, and the wait is bounded.
    settings.Write(QStringLiteral("parlink.ini"), "[link]\nCloseTimeoutMs=1500\n");
    StartTerminalWith("HoldAtCommand=001\n");
    link = NewLink();
    ASSERT_TRUE(Connect(*link));
    EXPECT_EQ(link->SendCommand(QStringLiteral("001")), 1);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(link->ClosePort(), 0);
    EXPECT_GE(timer.elapsed(), 1400);
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_TRUE(CommandLog().contains(QStringLiteral("C 001\nS hold")));
    EXPECT_EQ(StateFile(QStringLiteral("journal.txt")), journal);
}

TEST_F(ParlinkFailures, DamagedFrameFromTheTerminalIsSentAgain) {
    QByteArray journal;
    QStringList expected;
    for (int i = 0; i < 3000; ++i) {
        journal += Cp1251(WareLine(i)) + "\r\n";
        expected << WareLine(i);
    }
    state.Write(QStringLiteral("journal.txt"), journal);
    StartTerminalWith("DamageSentFrame=3\n", WithoutBlocks());
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    link->SendCommand(QStringLiteral("021"));
    bool ended = false;
    EXPECT_EQ(ReceiveLines(*link, &ended), expected);
    EXPECT_TRUE(ended);
    ASSERT_NE(link->Session(), nullptr);
    EXPECT_GE(link->Session()->Stats().damagedFrames, 1u);
    link->ClosePort();
}

TEST_F(ParlinkFailures, DamagedFrameToTheTerminalIsSentAgain) {
    StartTerminalWith("DamageReceivedFrame=4\n", WithoutBlocks());
    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    BeginUpload(*link, QStringLiteral("131"));
    QByteArray expected;
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(link->SendData(WareLine(i)), 1);
        expected += Cp1251(WareLine(i)) + "\r\n";
    }
    link->EndData();
    EXPECT_EQ(Ask(*link, QStringLiteral("003")), QStringLiteral("SYNC"));
    EXPECT_GE(link->Session()->Stats().dataFramesResent, 1u);
    link->SendCommand(QStringLiteral("004"));
    link->ClosePort();
    EXPECT_EQ(StateFile(QStringLiteral("directories/address.ux5")), expected);
}
