// kxupdate_pc's logic against a scripted link component: the arguments, what
// goes over the link, and the exit code of every failure.

#include "components/parlink/protocol/LinkCrc.h"
#include "tests/exchange/FakeParlink.h"
#include "tests/support/TestSupport.h"
#include "tools/kxupdate_pc/Updater.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

namespace {

TEST(CfgUploadUpdaterArguments, TheCallOfTheConfiguratorAndItsVariants) {
    UpdaterArguments a;
    QString error;
    ASSERT_TRUE(ParseUpdaterArguments({"/p", "COM3", "/u", "/tmp/kx_1.tmp", "\\Application\\Orvane\\mainbase.db"}, &a,
                                      &error));
    EXPECT_EQ(a.port, QStringLiteral("COM3"));
    EXPECT_EQ(a.file, QStringLiteral("/tmp/kx_1.tmp"));
    EXPECT_EQ(a.remote, QStringLiteral("\\Application\\Orvane\\mainbase.db"));

    // Switches in any order and case; words split at blanks join again.
    ASSERT_TRUE(ParseUpdaterArguments({"-U", "/tmp/my", "dir/kx.tmp", "\\a.db", "/P", "My", "Port"}, &a, &error));
    EXPECT_EQ(a.port, QStringLiteral("My Port"));
    EXPECT_EQ(a.file, QStringLiteral("/tmp/my dir/kx.tmp"));
    EXPECT_EQ(a.remote, QStringLiteral("\\a.db"));

    const QList<QStringList> bad{
        {},
        {"/p", "COM1"},
        {"/p", "COM1", "/u", "file"},        // no remote path
        {"/p", "/u", "file", "\\r.db"},      // no port
        {"COM1", "/p", "COM1", "/u", "f", "r"},
        {"/p", "COM1", "/u", "f", "r", "/x"},
        {"/p", "COM1", "/p", "COM2", "/u", "f", "r"},
    };
    for (const QStringList& args : bad) {
        error.clear();
        EXPECT_FALSE(ParseUpdaterArguments(args, &a, &error)) << args.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

class CfgUploadUpdater : public ::testing::Test {
protected:
    void SetUp() override {
        content.resize(2 * kUpdaterChunkBytes + 1000);
        for (char& c : content) c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        ASSERT_TRUE(dir.Write(QStringLiteral("db"), content));
        args.port = QStringLiteral("COM2");
        args.file = dir.File(QStringLiteral("db"));
        args.remote = QStringLiteral("\\Application\\Orvane\\mainbase.db");
        link.AnswerAfter(QStringLiteral("FPE"), {QStringLiteral("OK;%1").arg(content.size())});
    }
    int Run() { return RunUpdater(args, &log); }
    QString Check() const {
        const auto crc = Link::Crc32(content.constData(), static_cast<size_t>(content.size()));
        return QStringLiteral("%1;%2").arg(content.size()).arg(crc, 8, 16, QLatin1Char('0'));
    }

    CTestDir dir;
    CFakeClock clock;
    CScopedClock clockScope{clock};
    CFakeParlink link;
    CScopedParlinkProvider providerScope{link};
    QByteArray content;
    UpdaterArguments args;
    QString log;
};

TEST_F(CfgUploadUpdater, SendsTheFileInBase64PiecesWithItsSizeAndChecksum) {
    EXPECT_EQ(Run(), UpdaterExit::kOk) << log.toStdString();
    const QStringList wire = link.Wire();
    ASSERT_GE(wire.size(), 9);
    EXPECT_EQ(wire.mid(0, 4), (QStringList{QStringLiteral("OpenPort(COM2)"), QStringLiteral("WaitLink(3000)"),
                                           QStringLiteral("SendCommand(FPB)"),
                                           QStringLiteral("SendData(\\Application\\Orvane\\mainbase.db)")}));
    QByteArray received;
    qsizetype i = 4;
    for (; i < wire.size() && wire[i].startsWith(QLatin1String("SendData(")); ++i) {
        const QString text = wire[i].mid(9, wire[i].size() - 10);
        EXPECT_LE(text.size(), 4096);
        received += QByteArray::fromBase64(text.toLatin1());
    }
    EXPECT_EQ(i, 4 + 3);  // three pieces
    EXPECT_EQ(received, content);
    EXPECT_EQ(wire.mid(i), (QStringList{QStringLiteral("SendCommand(FPE)"), QStringLiteral("SendData(%1)").arg(Check()),
                                        QStringLiteral("Receive"), QStringLiteral("ClosePort")}));
    EXPECT_TRUE(link.Balanced());
    EXPECT_EQ(link.Count(QStringLiteral("SendCommand(FPA)")), 0);
}

TEST_F(CfgUploadUpdater, UsbIsTheTerminalsUsbDeviceAndAnEmptyFileStillGoes) {
    args.port = QStringLiteral("USB");
    ASSERT_TRUE(dir.Write(QStringLiteral("empty"), QByteArray()));
    args.file = dir.File(QStringLiteral("empty"));
    link.AnswerAfter(QStringLiteral("FPE"), {QStringLiteral("OK;0")});
    EXPECT_EQ(Run(), UpdaterExit::kOk);
    EXPECT_EQ(link.Wire().value(0), QStringLiteral("OpenPort(\\\\.\\WCEUSBSH001)"));
    EXPECT_TRUE(link.Wire().contains(QStringLiteral("SendData(0;00000000)")));
}

TEST_F(CfgUploadUpdater, TheTerminalsAnswerDecides) {
    link.AnswerAfter(QStringLiteral("FPE"), {QStringLiteral("ERR;2;Файл искажен при передаче")});
    EXPECT_EQ(Run(), UpdaterExit::kRefused);
    EXPECT_TRUE(log.contains(QStringLiteral("Файл искажен при передаче")));
    EXPECT_TRUE(link.Balanced());

    link.Reset();
    link.AnswerAfter(QStringLiteral("FPE"), {QStringLiteral("OK;%1").arg(content.size() - 1)});
    EXPECT_EQ(Run(), UpdaterExit::kNoAnswer);  // stored something else

    link.Reset();
    link.AnswerAfter(QStringLiteral("FPE"), {QStringLiteral("Готов к обмену")});
    EXPECT_EQ(Run(), UpdaterExit::kNoAnswer);
    EXPECT_TRUE(link.Balanced());
}

TEST_F(CfgUploadUpdater, EmptyAnswersAreWaitedForOnlyABoundedTime) {
    link.AnswerAfter(QStringLiteral("FPE"), {QString(), QString(), QStringLiteral("OK;%1").arg(content.size())});
    EXPECT_EQ(Run(), UpdaterExit::kOk);
    EXPECT_EQ(link.Count(QStringLiteral("Receive")), 3);

    link.Reset();
    link.AnswerAfter(QStringLiteral("FPE"), {});
    const auto before = clock.Elapsed();
    EXPECT_EQ(Run(), UpdaterExit::kNoAnswer);
    EXPECT_EQ(link.Count(QStringLiteral("Receive")), kUpdaterAnswerTries);
    EXPECT_EQ(clock.Elapsed() - before, std::int64_t(kUpdaterAnswerTries - 1) * kUpdaterAnswerPauseMs);
    EXPECT_TRUE(link.Balanced());
}

TEST_F(CfgUploadUpdater, EveryFailureHasItsCodeAndLeavesNothingOpen) {
    struct Case {
        const char* call;
        int occurrence;
        int code;
    };
    const Case cases[] = {
        {"Find", 1, UpdaterExit::kComponentNotRegistered},
        {"Create", 1, UpdaterExit::kComponentNotCreated},
        {"OpenPort*", 1, UpdaterExit::kPortNotOpened},
        {"WaitLink*", 1, UpdaterExit::kNoAnswer},
        {"SendCommand(FPB)", 1, UpdaterExit::kNoAnswer},
        {"SendData*", 1, UpdaterExit::kNoAnswer},
        {"SendData*", 3, UpdaterExit::kNoAnswer},
        {"SendCommand(FPE)", 1, UpdaterExit::kNoAnswer},
        {"Receive", 1, UpdaterExit::kNoAnswer},
    };
    for (const Case& c : cases) {
        link.Reset();
        link.AnswerAfter(QStringLiteral("FPE"), {QStringLiteral("OK;%1").arg(content.size())});
        link.FailCall(QString::fromLatin1(c.call), c.occurrence);
        log.clear();
        EXPECT_EQ(Run(), c.code) << c.call << " #" << c.occurrence;
        EXPECT_FALSE(log.isEmpty()) << c.call;
        EXPECT_TRUE(link.Balanced()) << c.call;
        // A transfer broken off in the middle is called off.
        const bool midTransfer = QString::fromLatin1(c.call).startsWith(QLatin1String("Send"));
        EXPECT_EQ(link.Count(QStringLiteral("SendCommand(FPA)")), midTransfer ? 1 : 0) << c.call;
    }
}

TEST_F(CfgUploadUpdater, AFileThatCannotBeReadStopsBeforeTheLink) {
    args.file = dir.File(QStringLiteral("missing.db"));
    EXPECT_EQ(Run(), UpdaterExit::kFileUnreadable);
    args.file = dir.Path();  // a folder
    EXPECT_EQ(Run(), UpdaterExit::kFileUnreadable);
    EXPECT_TRUE(link.log.isEmpty());
}

}  // namespace
