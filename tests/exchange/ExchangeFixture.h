#pragma once
// Common set-up of the exchange tests: the fake component installed as the
// provider, a prompt recorder, a fake clock, and a project in a temporary
// folder whose files folder exists.

#include "directories/DirectoryFiles.h"
#include "exchange/ExchangeProgress.h"
#include "tests/exchange/FakeParlink.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

#include <functional>
#include <vector>

// Keeps the progress notifications as "1025:n", "1026", "1027:n", "1028", "1029:text".
class CRecordingProgress : public IExchangeProgress {
public:
    void SetItemRange(int count) override { calls << QStringLiteral("1025:%1").arg(count); }
    void StepItem() override { calls << QStringLiteral("1026"); }
    void SetStageRange(int count) override { calls << QStringLiteral("1027:%1").arg(count); }
    void StepStage() override { calls << QStringLiteral("1028"); }
    void SetStageText(const QString& text) override { calls << QStringLiteral("1029:") + text; }
    QStringList calls;
};

// One row of a failure table: make `call` fail (its `occurrence`-th time) and
// expect `code` with `message` (nullptr: no message at all) shown with `icon`;
// with `messageGoesOn` the message only starts with `message` (a file name or
// other detail of the run follows).
struct FailureCase {
    const char* call;
    int occurrence;
    int code;
    const char* message;
    PromptIcon icon = PromptIcon::Error;
    bool messageGoesOn = false;
};

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProjectPath(dir.File(QStringLiteral("shop.kxc")));
        ASSERT_TRUE(QDir(dir.Path()).mkpath(QStringLiteral("files")));
    }
    void TearDown() override { SetProjectPath(QString()); }

    QString FilesFolder() const { return CurrentDirectoryFiles().filesFolder; }
    QString DirectoryFile(int kind) const { return CurrentDirectoryFiles().directories[kind]; }

    // Runs `run(showMessages)` once per row and per flag value, with the fake
    // scripted by `script` and the row's call made to fail; checks the code,
    // the message (only with messages on), that the failing call was really
    // reached, and that nothing was left open or unreleased.
    void CheckFailures(const std::vector<FailureCase>& cases, const std::function<void(CFakeParlink&)>& script,
                       const std::function<int(bool)>& run, const QString& caption) {
        for (const FailureCase& row : cases) {
            for (const bool show : {true, false}) {
                SCOPED_TRACE(::testing::Message() << row.call << " #" << row.occurrence
                                                  << (show ? " shown" : " silent"));
                fake.Reset();
                script(fake);
                fake.FailCall(QString::fromUtf8(row.call), row.occurrence);
                prompt.Clear();
                EXPECT_EQ(run(show), row.code);
                const QString failing = QString::fromUtf8(row.call);
                const qsizetype reached = failing.endsWith(QLatin1Char('*'))
                    ? std::count_if(fake.log.begin(), fake.log.end(),
                                    [&](const QString& e) { return e.startsWith(failing.chopped(1)); })
                    : fake.log.count(failing);
                EXPECT_GE(reached, row.occurrence) << "the failing call was never made";
                const auto messages = prompt.Messages();
                if (show && row.message) {
                    ASSERT_EQ(messages.size(), 1);
                    if (row.messageGoesOn)
                        EXPECT_TRUE(messages[0].text.startsWith(QString::fromUtf8(row.message)))
                            << messages[0].text.toStdString();
                    else
                        EXPECT_EQ(messages[0].text, QString::fromUtf8(row.message));
                    EXPECT_EQ(messages[0].caption, caption);
                    EXPECT_EQ(messages[0].icon, row.icon);
                } else {
                    EXPECT_TRUE(messages.isEmpty()) << messages.value(0).text.toStdString();
                }
                EXPECT_TRUE(fake.Balanced()) << "creations " << fake.creations << " releases "
                                             << fake.releases << " opens " << fake.opens << " closes "
                                             << fake.closes;
            }
        }
    }

    CTestDir dir;
    CFakeParlink fake;
    CRecordingPrompt prompt;
    CFakeClock clock;
    CScopedParlinkProvider scopedProvider{fake};
    CScopedPrompt scopedPrompt{prompt};
    CScopedClock scopedClock{clock};
};

// The opening failures every routine shares, with its own texts.
inline std::vector<FailureCase> OpeningFailures(const char* notRegistered, const char* notCreated,
                                                const char* portNotOpened, const char* noAnswer) {
    return {{"Find", 1, 1, notRegistered},
            {"Create", 1, 2, notCreated},
            {"OpenPort*", 1, 3, portNotOpened},
            {"WaitLink(3000)", 1, 4, noAnswer}};
}

// The opening failures with the texts the journal and info routines show, on COM1.
inline std::vector<FailureCase> OpeningFailuresOnCom1() {
    return OpeningFailures("Ошибка! Не могу найти компоненту Parlink", "Ошибка! Не могу создать Parlink обьект!",
                           "Ошибка! Не могу открыть порт!"
                           "\n\nПорт: COM1", "Ошибка! Терминал не отвечает!");
}

// The failures of setting the terminal's clock as a load begins ("303", then
// the time stamp), with the texts of the routines that share that step.
inline std::vector<FailureCase> TerminalClockFailures() {
    return {{"SendCommand(303)", 1, 4, "Ошибка обмена! Терминал не отвечает!"},
            {"SendData*", 1, 4, "Ошибка обмена! Терминал не отвечает на команду 303(2)!"}};
}

inline std::vector<FailureCase> operator+(std::vector<FailureCase> a, const std::vector<FailureCase>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
