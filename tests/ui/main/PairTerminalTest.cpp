// The pairing dialog against the emulator on the network.

#include "components/parlink/session/Pairing.h"
#include "tests/link/TerminalProcess.h"
#include "tests/support/TestSupport.h"
#include "ui/main/PairTerminalDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cstdio>

namespace {

// Runs the event loop until `done` holds or the time is up.
template <typename F>
bool ProcessUntil(F done, int timeoutMs = 30000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) QTest::qWait(20);
    return done();
}

}  // namespace

TEST(PairTerminalDialog, PairsWithTheCodeTheTerminalShowsWithoutBlockingTheWindow) {
    CTestDir state, settings;
    CTerminalProcess terminal;
    ASSERT_TRUE(terminal.Start(state.Path(), {QStringLiteral("--listen-tcp"), QStringLiteral("127.0.0.1:0"),
                                              QStringLiteral("--pairing-window")}))
        << terminal.Diagnostics().toStdString();
    const QString code = terminal.PairingCode();
    ASSERT_EQ(code.size(), 6);
    const QStringList files{settings.File(QStringLiteral("parlink.ini"))};
    std::atomic<bool> onUiThread{false};
    auto pair = [&](const QString& port, const QString& typed) {
        if (QThread::currentThread() == QApplication::instance()->thread()) onUiThread = true;
        return PairWithTerminal(port, typed, files);
    };
    CPairTerminalDlg dialog(terminal.Port(), nullptr, pair);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("pairingCode"));
    auto* button = dialog.findChild<QPushButton*>(QStringLiteral("pair"));
    auto* result = dialog.findChild<QLabel*>(QStringLiteral("pairingResult"));
    ASSERT_TRUE(field && button && result);
    EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("pairingPort"))->text().contains(terminal.Port()));

    const QString wrong = QStringLiteral("%1").arg((code.toInt() + 1) % 1000000, 6, 10, QLatin1Char('0'));
    QTest::keyClicks(field, wrong);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(button->isEnabled());
    ASSERT_TRUE(ProcessUntil([&] { return button->isEnabled(); }));
    EXPECT_TRUE(result->text().startsWith(QStringLiteral("Не удалось"))) << result->text().toStdString();
    EXPECT_FALSE(dialog.Paired());
    // The reason is in the window's language: nothing but the terminal's
    // address is left in Latin letters.
    QString words = result->text();
    words.remove(terminal.Port().mid(4));
    EXPECT_FALSE(words.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2,}")))) << words.toStdString();
    EXPECT_TRUE(words.contains(QStringLiteral("неверный код"))) << words.toStdString();
    // The whole result shows: the window grew for its lines.
    EXPECT_GE(result->height(), result->heightForWidth(result->width())) << result->text().toStdString();
    // The code field has the focus back with the wrong code selected, so
    // what is typed next replaces it.
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(field->selectedText(), wrong);

    // The terminal holds the next attempt back for a while after a wrong
    // one; that wait is not what this test is about.
    QString ini = QString::fromLatin1(ReadFileBytes(state.File(QStringLiteral("pairing.ini"))));
    ini.replace(QRegularExpression(QStringLiteral("NotBefore=\\d+")), QStringLiteral("NotBefore=0"));
    // Replaced whole: half a file read by the terminal would close pairing.
    ASSERT_TRUE(WriteFileBytes(state.File(QStringLiteral("pairing.ini.new")), ini.toLatin1()));
    ASSERT_EQ(std::rename(QFile::encodeName(state.File(QStringLiteral("pairing.ini.new"))).constData(),
                          QFile::encodeName(state.File(QStringLiteral("pairing.ini"))).constData()), 0);
    QTest::keyClicks(QApplication::focusWidget(), code.left(3) + QStringLiteral("-") + code.mid(3));
    EXPECT_EQ(field->text(), code.left(3) + QStringLiteral("-") + code.mid(3));
    // Enter pairs; it never closes the dialog.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_TRUE(ProcessUntil([&] { return dialog.Paired(); }));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(result->text(), QStringLiteral("Терминал сопряжён с этим компьютером."));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(onUiThread);
    EXPECT_FALSE(ReadFileBytes(settings.File(QStringLiteral("link-pins.txt"))).isEmpty());
    EXPECT_FALSE(ReadFileBytes(state.File(QStringLiteral("pins.txt"))).isEmpty());
}

TEST(PairTerminalDialog, TellsTheLinksReasonInRussianAndKeepsEnterForPairing) {
    CPairTerminalDlg dialog(QStringLiteral("/dev/pts/2"), nullptr, [](const QString& port, const QString&) {
        return CPairOutcome{EPairResult::NotNetworkPort,
                            QStringLiteral("%1 is not a network port (tcp:HOST:PORT): only terminals on "
                                           "the network are paired").arg(port), {}};
    });
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("pairingCode"));
    auto* result = dialog.findChild<QLabel*>(QStringLiteral("pairingResult"));
    ASSERT_EQ(QApplication::focusWidget(), field);
    QTest::keyClicks(field, QStringLiteral("123456"));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(ProcessUntil([&] { return result->text().startsWith(QStringLiteral("Не удалось")); }));
    EXPECT_EQ(result->text(), QStringLiteral("Не удалось: /dev/pts/2 - не сетевой порт (нужен порт вида "
                                             "tcp:адрес:порт): сопряжение нужно только для терминалов в сети"));
    EXPECT_GE(result->height(), result->heightForWidth(result->width()));
    // Enter again tries again (the dialog stays), the focus on the code.
    EXPECT_EQ(QApplication::focusWidget(), field);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_TRUE(ProcessUntil([&] { return field->isEnabled(); }));
}

TEST(PairTerminalDialog, SaysThatOnlyNetworkPortsArePaired) {
    CPairTerminalDlg dialog(QStringLiteral("COM1"), nullptr, [](const QString&, const QString&) {
        return CPairOutcome{EPairResult::NotNetworkPort, QStringLiteral("not a network port"), {}};
    });
    EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("pairingResult"))->text().contains(QStringLiteral("tcp:")));
}
