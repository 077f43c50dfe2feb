// The exchange routines, the component plugin (found through components.ini
// in the program folder) and the emulated terminal over a pseudo-terminal.

#include "directories/DirectoryFiles.h"
#include "exchange/DirectoryUpload.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/InfoTable.h"
#include "exchange/JournalExchange.h"
#include "exchange/TerminalSession.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "platform/Prompt.h"
#include "tests/link/LinkTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <csignal>

#include <atomic>
#include <thread>

namespace {

const char* const kTerminalFiles[] = {"directories/opers.ux3",   "directories/authors.ux4", "directories/address.ux5",
                                      "directories/ndocs.ux6",   "directories/wares.ux7",   "directories/waresl2.ux8",
                                      "directories/ndocsplan.ux9"};

QByteArray Lines(const QStringList& lines) {
    QByteArray b;
    for (const QString& l : lines) b += Cp1251(l) + "\r\n";
    return b;
}

QByteArray Journal() {
    return Lines({QStringLiteral("4600001;1;5;7;3;10;Молоко;20240101 10:00:00;"),
                  QStringLiteral("4600002;2;6;7;3;11;Хлеб;20240101 10:01:00;x"),
                  QStringLiteral("4600003;1;5;8;4;10;Молоко;20240101 10:02:00;")});
}

}  // namespace

class ExchangeEndToEnd : public CLinkFixture {
protected:
    void SetUp() override {
        CLinkFixture::SetUp();
        m_previousFolder = ProgramFolder();
        SetProgramFolder(QStringLiteral(KX_PROGRAM_DIR "/"));
        ASSERT_TRUE(QDir(project.Path()).mkpath(QStringLiteral("files")));
        SetProjectPath(project.File(QStringLiteral("shop.kxc")));
        m_prompt = std::make_unique<CScopedPrompt>(prompt);
    }
    void TearDown() override {
        m_prompt.reset();
        SetProjectPath(QString());
        SetProgramFolder(m_previousFolder);
    }
    QString ProjectFile(int kind) const { return CurrentDirectoryFiles().directories[static_cast<size_t>(kind)]; }
    QString JournalFile() const { return CurrentDirectoryFiles().journalFile; }
    // Writes 5,000 records (`pattern`, the record's number for %1 and %2) as
    // the project's file of directory `kind` and uploads it alone, silently:
    // the code, which must come within seconds whatever the line does.
    int UploadLongDirectory(int kind, const QString& pattern) {
        QStringList lines;
        for (int i = 0; i < 5000; ++i) lines << pattern.arg(i).arg(i);
        EXPECT_TRUE(WriteFileBytes(ProjectFile(kind), Lines(lines)));
        UploadSelection selection;
        selection.showMessages = false;
        selection.Select(kind);
        QElapsedTimer timer;
        timer.start();
        const int code = UploadDirectories(selection, terminal.Port());
        EXPECT_LT(timer.elapsed(), 5000);
        return code;
    }

    CTestDir project;
    CRecordingPrompt prompt;

private:
    QString m_previousFolder;
    std::unique_ptr<CScopedPrompt> m_prompt;
};

TEST_F(ExchangeEndToEnd, TerminalInformationThroughThePlugin) {
    StartTerminal();
    TerminalSession session;
    session.showMessages = false;
    ASSERT_EQ(session.ConnectTerminal(terminal.Port()), 0);
    EXPECT_EQ(session.info.program, QStringLiteral("Orvane"));
    EXPECT_EQ(session.info.programVersion, QStringLiteral("4.4.0"));
    EXPECT_EQ(session.info.terminal, QStringLiteral("KX-T100 emulator"));
    EXPECT_EQ(session.info.deviceId, QStringLiteral("KXE0000001"));
    EXPECT_EQ(session.info.componentVersion, QStringLiteral("1.0.0"));
    EXPECT_EQ(session.info.protocolVersion, QStringLiteral("2"));
}

TEST_F(ExchangeEndToEnd, UploadOfAllDirectoriesAndTheInfoTableArrivesByteExact) {
    QList<QByteArray> files;
    for (int kind = 0; kind < 7; ++kind) {
        QStringList lines;
        for (int i = 1; i <= 50 + kind; ++i)
            lines << QStringLiteral("%1;Запись %2 справочника %3;x;;").arg(i).arg(i).arg(kind);
        lines << QString(450, QChar(u'Ё')) << QString(400, QChar(u'q')) << QStringLiteral("last;");
        files << Lines(lines);
        ASSERT_TRUE(WriteFileBytes(ProjectFile(kind), files.last()));
    }
    // Blank lines are not sent and a last line without a line end is.
    ASSERT_TRUE(WriteFileBytes(CurrentDirectoryFiles().infoFile, Cp1251(QStringLiteral("a=1\r\n\r\nб=2;3\r\nend"))));
    StartTerminal();
    UploadSelection selection;
    selection.showMessages = false;
    for (int item = 0; item < kUploadItemCount; ++item) selection.Select(item);
    ASSERT_EQ(UploadDirectories(selection, terminal.Port()), 0) << qPrintable(prompt.Texts().join('\n'));
    for (int kind = 0; kind < 7; ++kind) EXPECT_EQ(StateFile(QLatin1String(kTerminalFiles[kind])), files[kind]) << kind;
    EXPECT_EQ(StateFile(QStringLiteral("info.txt")), Cp1251(QStringLiteral("a=1\r\nб=2;3\r\nend\r\n")));
    EXPECT_EQ(selection.SelectedCount(), 0);
    const QString log = CommandLog();
    EXPECT_TRUE(log.contains(QRegularExpression(QStringLiteral("C 303\nD \\d{14}\nC 002\nC 111\n"))));
    EXPECT_TRUE(log.contains(QLatin1String("C 1F1\nE\nC 003\nL committed"))) << qPrintable(log);
    EXPECT_TRUE(log.contains(QLatin1String("info.txt\nC 004\nS bye")));
    EXPECT_TRUE(prompt.Texts().isEmpty());
}

TEST_F(ExchangeEndToEnd, RejectedUploadGivesTheNumberAndTheTerminalsText) {
    ASSERT_TRUE(WriteFileBytes(ProjectFile(4), Lines({QStringLiteral("1;Сыр")})));
    state.Write(QStringLiteral("scenario.ini"),
                QStringLiteral("[scenario]\nRejectNumber=7\nRejectText=Нет места в памяти\n").toUtf8());
    StartTerminal();
    UploadSelection selection;
    selection.showMessages = false;
    selection.Select(Wares);
    EXPECT_EQ(UploadDirectories(selection, terminal.Port()), 207);
    EXPECT_EQ(selection.DiagnosticText, QStringLiteral("Нет места в памяти"));
    EXPECT_FALSE(QFile::exists(state.File(QStringLiteral("directories/wares.ux7"))));
}

TEST_F(ExchangeEndToEnd, DelayedSynchronisationIsWaitedFor) {
    ASSERT_TRUE(WriteFileBytes(ProjectFile(0), Lines({QStringLiteral("1;Приход;1;1;111")})));
    StartTerminalWith("SyncDelayMs=1500\n");
    UploadSelection selection;
    selection.showMessages = false;
    selection.Select(Operations);
    EXPECT_EQ(UploadDirectories(selection, terminal.Port()), 0);
    EXPECT_EQ(StateFile(QStringLiteral("directories/opers.ux3")), Lines({QStringLiteral("1;Приход;1;1;111")}));
}

TEST_F(ExchangeEndToEnd, JournalDownloadCountFiltersClearAndCurrentValues) {
    state.Write(QStringLiteral("journal.txt"), Journal());
    StartTerminal();
    JournalExchange journal;
    journal.showMessages = false;
    const FilterSet none;
    ASSERT_EQ(journal.DownloadJournal(terminal.Port(), false, false, none, true), 0);
    EXPECT_EQ(ReadFileBytes(JournalFile()), Journal());

    ASSERT_EQ(journal.DownloadJournal(terminal.Port(), true, false, none, true), 0);
    EXPECT_EQ(ReadFileBytes(JournalFile()),
              Lines({QStringLiteral("1;4600001;1;5;7;3;10;Молоко;20240101 10:00:00;"),
                     QStringLiteral("2;4600002;2;6;7;3;11;Хлеб;20240101 10:01:00;x"),
                     QStringLiteral("3;4600003;1;5;8;4;10;Молоко;20240101 10:02:00;")}));

    FilterSet filters;
    filters.anySet = true;
    filters.operationId = 5;
    filters.ware = QStringLiteral("Молоко");
    ASSERT_EQ(journal.DownloadJournal(terminal.Port(), true, false, filters, true), 0);
    EXPECT_EQ(ReadFileBytes(JournalFile()),
              Lines({QStringLiteral("1;4600001;1;5;7;3;10;Молоко;20240101 10:00:00;"),
                     QStringLiteral("3;4600003;1;5;8;4;10;Молоко;20240101 10:02:00;")}));
    // The filtered download reset the filters at its end.
    // Where the program keeps copies of wares it uploaded it names them first
    // ("15H"): beside the point here.
    QString log = CommandLog();
    log.remove(QRegularExpression(QStringLiteral("C 15H\nD [0-9a-f,]*\n")));
    EXPECT_TRUE(log.contains(QStringLiteral("C 401\nD 5\nC 408\nD Молоко\nC 020\nC 031\nC 40R\nC 004\nS bye"))) << qPrintable(log);
    ASSERT_EQ(journal.DownloadJournal(terminal.Port(), false, true, none, true), 0);
    EXPECT_EQ(ReadFileBytes(JournalFile()), QByteArray("3"));

    // Filters set on their own stay until reset.
    FilterSet executor;
    executor.anySet = true;
    executor.executorId = 8;
    ASSERT_EQ(journal.ApplyFilters(terminal.Port(), executor), 0);
    ASSERT_EQ(journal.DownloadJournal(terminal.Port(), false, true, none, true), 0);
    EXPECT_EQ(ReadFileBytes(JournalFile()), QByteArray("1"));
    ASSERT_EQ(journal.ApplyFilters(terminal.Port(), none), 0);

    CurrentValues values;
    values.operation = 5;
    values.document = 10;
    ASSERT_EQ(journal.SetCurrentValues(terminal.Port(), values), 0);
    const QString ini = state.File(QStringLiteral("terminal.ini"));
    EXPECT_EQ(Profile::ReadString(ini, QStringLiteral("current"), QStringLiteral("Operation")), QStringLiteral("5"));
    EXPECT_EQ(Profile::ReadString(ini, QStringLiteral("current"), QStringLiteral("Document")), QStringLiteral("10"));

    ASSERT_EQ(journal.ClearJournal(terminal.Port()), 0);
    EXPECT_TRUE(StateFile(QStringLiteral("journal.txt")).isEmpty());
    EXPECT_EQ(journal.DownloadJournal(terminal.Port(), false, false, none, true), ExchangeCode::kJournalEmpty);
}

TEST_F(ExchangeEndToEnd, TerminalConditionsBecomeTheirCodes) {
    state.Write(QStringLiteral("journal.txt"), Journal());
    StartTerminalWith("JournalLimit=2\nProgramVersion=4.3.4\n");
    JournalExchange journal;
    journal.showMessages = false;
    EXPECT_EQ(journal.DownloadJournal(terminal.Port(), false, false, FilterSet(), true), ExchangeCode::kJournalShort);
    EXPECT_EQ(ReadFileBytes(JournalFile()), Journal().left(Journal().indexOf('\n', Journal().indexOf('\n') + 1) + 1));
    FilterSet filters;
    filters.anySet = true;
    filters.barcode = QStringLiteral("4600001");
    EXPECT_EQ(journal.ApplyFilters(terminal.Port(), filters), ExchangeCode::kFirmwareTooOld);

    state.Write(QStringLiteral("scenario.ini"), QStringLiteral("[scenario]\nNotReady=Идет сканирование\n").toUtf8());
    JournalExchange shown;
    shown.caption = QStringLiteral("KXLoader");
    EXPECT_EQ(shown.DownloadJournal(terminal.Port(), false, false, FilterSet(), true), ExchangeCode::kTerminalNotReady);
    EXPECT_TRUE(prompt.Texts().contains(QStringLiteral("Идет сканирование")));
}

TEST_F(ExchangeEndToEnd, InfoTableDownloadReplacesTheInfoFile) {
    const QByteArray info = Lines({QStringLiteral("Склад;Главный"), QStringLiteral("Смена;2")});
    state.Write(QStringLiteral("info.txt"), info);
    ASSERT_TRUE(WriteFileBytes(CurrentDirectoryFiles().infoFile, "old content\r\n"));
    StartTerminal();
    UploadSelection selection;
    selection.showMessages = false;
    ASSERT_EQ(DownloadInfoTable(selection, terminal.Port()), 0);
    EXPECT_EQ(ReadFileBytes(CurrentDirectoryFiles().infoFile), info);
}

TEST_F(ExchangeEndToEnd, UploadOverALinkThatDropsFailsWithCode4AndFreesThePort) {
    StartTerminalWith("DropAfterFrames=5\n", WithoutBlocks());
    EXPECT_EQ(UploadLongDirectory(Wares, QStringLiteral("%1;Товар %2;шт")), ExchangeCode::kNoAnswer);
    EXPECT_FALSE(QFile::exists(state.File(QStringLiteral("directories/wares.ux7"))));
    // The port was closed: the next session opens it and the terminal answers.
    QFile::remove(state.File(QStringLiteral("scenario.ini")));
    TerminalSession session;
    session.showMessages = false;
    EXPECT_EQ(session.ConnectTerminal(terminal.Port()), 0);
}

TEST_F(ExchangeEndToEnd, TerminalSwitchedOffDuringAnUploadGivesCode4) {
    StartTerminalWith("ExitAfterFrames=6\n", WithoutBlocks());
    EXPECT_EQ(UploadLongDirectory(Addresses, QStringLiteral("%1;Адрес %2")), ExchangeCode::kNoAnswer);
    EXPECT_TRUE(terminal.WaitForExit(10000));
    EXPECT_FALSE(QFile::exists(state.File(QStringLiteral("directories/address.ux5"))));
}

TEST_F(ExchangeEndToEnd, TerminalKilledDuringAJournalGivesCode4WithinSeconds) {
    QStringList lines;
    for (int i = 0; i < 20000; ++i) lines << QStringLiteral("46%1;1;5;7;3;10;Товар;20240101 10:00:00;").arg(i, 8, 10, QLatin1Char('0'));
    state.Write(QStringLiteral("journal.txt"), Lines(lines));
    // The terminal stops after 4,000 lines (more than the link lets go
    // unacknowledged, so the program has taken lines by then) and dies there.
    state.Write(QStringLiteral("scenario.ini"), "[scenario]\nHoldJournalAfter=4000\n");
    StartTerminal({QStringLiteral("--pty"), QStringLiteral("--baud"), QStringLiteral("115200")});
    std::atomic<qint64> killedAt{-1};
    QElapsedTimer clock;
    clock.start();
    // Lines have reached the program once its staging file beside the
    // journal holds some.
    const auto staged = [&] {
        const QFileInfo journalFile(JournalFile());
        for (const QFileInfo& file :
             QDir(journalFile.absolutePath())
                 .entryInfoList({QStringLiteral(".") + journalFile.fileName() + QStringLiteral(".*.kxtmp")},
                                QDir::Files | QDir::Hidden))
            if (file.size() > 0) return true;
        return false;
    };
    std::thread killer([&] {
        for (int i = 0; i < 6000 && !(CommandLog().contains(QLatin1String("J held after 4000")) && staged()); ++i)
            QThread::msleep(10);
        ::kill(static_cast<pid_t>(terminal.Pid()), SIGKILL);
        killedAt = clock.elapsed();
    });
    JournalExchange journal;
    journal.showMessages = false;
    const int code = journal.DownloadJournal(terminal.Port(), false, false, FilterSet(), true);
    const qint64 returnedAt = clock.elapsed();
    killer.join();
    EXPECT_EQ(code, ExchangeCode::kNoAnswer);
    ASSERT_GE(killedAt.load(), 0);
    EXPECT_LT(returnedAt - killedAt.load(), 5000);
    // The journal file is left as it was (there was none); whatever arrived
    // is kept beside it, whole lines of the journal, in order.
    EXPECT_FALSE(QFile::exists(JournalFile()));
    const QByteArray got = ReadFileBytes(JournalFile() + QStringLiteral(".partial"));
    EXPECT_GT(got.count('\n'), 0);
    EXPECT_LE(got.count('\n'), 4000);
    EXPECT_TRUE(Lines(lines).startsWith(got));
}

TEST_F(ExchangeEndToEnd, DamagedFramesAreSentAgainInBothDirections) {
    QStringList wares;
    for (int i = 0; i < 3000; ++i) wares << QStringLiteral("%1;Товар %2;шт;1").arg(i).arg(i);
    ASSERT_TRUE(WriteFileBytes(ProjectFile(4), Lines(wares)));
    QStringList journalLines;
    for (int i = 0; i < 3000; ++i) journalLines << QStringLiteral("%1;1;5;7;3;10;Товар;d;").arg(i);
    state.Write(QStringLiteral("journal.txt"), Lines(journalLines));
    StartTerminalWith("DamageReceivedFrame=5\nDamageSentFrame=4\n");
    UploadSelection selection;
    selection.showMessages = false;
    selection.Select(Wares);
    ASSERT_EQ(UploadDirectories(selection, terminal.Port()), 0);
    EXPECT_EQ(StateFile(QStringLiteral("directories/wares.ux7")), Lines(wares));
    JournalExchange journal;
    journal.showMessages = false;
    ASSERT_EQ(journal.DownloadJournal(terminal.Port(), false, false, FilterSet(), true), 0);
    EXPECT_EQ(ReadFileBytes(JournalFile()), Lines(journalLines));
}

TEST_F(ExchangeEndToEnd, CorruptCompressedJournalGivesCode4AndKeepsNoWrongLine) {
    QStringList lines;
    for (int i = 0; i < 20000; ++i) lines << QStringLiteral("46%1;1;5;7;3;10;Товар;20240101 10:00:00;").arg(i, 8, 10, QLatin1Char('0'));
    state.Write(QStringLiteral("journal.txt"), Lines(lines));
    StartTerminalWith("CorruptSentStream=5\n", WithoutBlocks());
    JournalExchange journal;
    journal.showMessages = false;
    EXPECT_EQ(journal.DownloadJournal(terminal.Port(), false, false, FilterSet(), true), ExchangeCode::kNoAnswer);
    const QByteArray got = ReadFileBytes(JournalFile());
    EXPECT_LT(got.count('\n'), 20000);
    EXPECT_TRUE(Lines(lines).startsWith(got));
}
