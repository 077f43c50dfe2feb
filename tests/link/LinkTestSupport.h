#pragma once
// Shared pieces of the link tests: an emulator per test with its own state
// folder, and the component object talking to it.

#include "components/parlink/session/ParlinkX2.h"
#include "tests/link/TerminalProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStringList>

#include <memory>

class CLinkFixture : public ::testing::Test {
protected:
    void SetUp() override { EnsureQtApplication(); }

    // Starts the emulator on a pseudo-terminal (or with other arguments).
    void StartTerminal(const QStringList& args = {QStringLiteral("--pty")}) {
        ASSERT_TRUE(terminal.Start(state.Path(), args)) << qPrintable(terminal.Diagnostics());
    }
    // Starts the emulator on a pseudo-terminal with `scenario` (the lines of
    // the "[scenario]" section of its scenario.ini).
    void StartTerminalWith(const char* scenario, const QStringList& args = {QStringLiteral("--pty")}) {
        state.Write(QStringLiteral("scenario.ini"), QByteArray("[scenario]\n") + scenario);
        StartTerminal(args);
    }
    // A terminal that takes records and sends lines one message each, as
    // before record blocks: the tests of frames and units need the volume.
    static QStringList WithoutBlocks(QStringList args = {QStringLiteral("--pty")}) {
        return args << QStringLiteral("--capabilities") << QStringLiteral("sequence,one-program");
    }
    std::unique_ptr<CParlinkX2> NewLink() const {
        return std::make_unique<CParlinkX2>(QStringList{settings.File(QStringLiteral("parlink.ini"))});
    }
    // Opens the port and waits (generously, the machine may be loaded) for the terminal.
    bool Connect(CParlinkX2& link) const {
        return link.OpenPort(terminal.Port()) == 1 && link.WaitLink(15000) == 1;
    }
    // Receives until a non-empty answer (the terminal may still be busy).
    static QString ReceiveAnswer(CParlinkX2& link, int timeoutMs = 15000) {
        QElapsedTimer t;
        t.start();
        QString answer;
        while (t.elapsed() < timeoutMs) {
            if (link.Receive(&answer) != 1) return QStringLiteral("<receive failed>");
            if (!answer.isEmpty()) return answer;
        }
        return QStringLiteral("<no answer>");
    }
    // Begins the upload of a directory: "002", then its `command`.
    static void BeginUpload(CParlinkX2& link, const QString& command) {
        link.SendCommand(QStringLiteral("002"));
        link.SendCommand(command);
    }
    // Sends `command` and receives its answer.
    static QString Ask(CParlinkX2& link, const QString& command) {
        if (link.SendCommand(command) != 1) return QStringLiteral("<send failed>");
        return ReceiveAnswer(link);
    }
    // Receives a stream of lines up to the end marker.
    static QStringList ReceiveLines(CParlinkX2& link, bool* ended = nullptr) {
        QStringList lines;
        QString answer;
        if (ended) *ended = false;
        while (link.Receive(&answer) == 1) {
            if (!answer.isEmpty() && answer[0] == QChar(0x0004)) {
                if (ended) *ended = true;
                break;
            }
            if (!answer.isEmpty()) lines << answer;
        }
        return lines;
    }
    QByteArray StateFile(const QString& name) const { return state.Read(name); }
    QString CommandLog() const { return QString::fromUtf8(state.Read(QStringLiteral("commands.log"))); }

    CTestDir state;     // the emulator's state folder
    CTestDir settings;  // where the component's parlink.ini would be
    CTerminalProcess terminal;
};
