// The exchange windows driven from the main window against the emulated
// terminal on a pseudo-terminal: the directory upload with its progress
// window, the journal download and its view, the configuration upload
// through its windows and the updater, and a terminal that dies mid-upload.

#include "directories/DirectoryFiles.h"
#include "exchange/ConfigUpload.h"
#include "platform/ProfileFile.h"
#include "storage/SQLite3.h"
#include "tests/link/TerminalProcess.h"
#include "tests/ui/main/UiFixture.h"
#include "ui/directories/EditDirGridDlg.h"
#include "ui/exchange/LoadConfigToTerminalDlg.h"
#include "ui/exchange/RecvJournalDlg.h"
#include "ui/exchange/LoadingConfigToTerminalDlg.h"
#include "ui/exchange/TransferAnimation.h"
#include "ui/exchange/UploadingDirDlg.h"
#include "ui/exchange/WorkerDlg.h"
#include "ui/main/DirsDlg.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Blocks the calling thread (the window's: no event of it runs meanwhile)
// until `file` holds `bytes`. Woken by the system's notices of changes in the
// file's folder, never by a clock; false when none comes for `quietMs`: then
// whatever should write the file stands still.
bool BlockUntilFileHolds(const QString& file, const QByteArray& bytes, int quietMs) {
    const int fd = ::inotify_init1(IN_CLOEXEC);
    if (fd < 0) return false;
    bool holds = false;
    // Watched before the first look, so no change falls between the two.
    if (::inotify_add_watch(fd, QFile::encodeName(QFileInfo(file).absolutePath()).constData(),
                            IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO) >= 0) {
        while (!(holds = ReadFileBytes(file) == bytes)) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, quietMs) != 1) break;
            char notices[4096];
            if (::read(fd, notices, sizeof notices) <= 0) break;
        }
    }
    ::close(fd);
    return holds;
}

// Counts the ticks of a progress window's own pace timer: the one timer that
// is a member of the window object (so lies within its bytes).
class CPaceTicks final : public QObject {
public:
    explicit CPaceTicks(const QObject* window, std::size_t windowSize, std::function<void(int)> onTick = {})
        : m_begin(reinterpret_cast<const char*>(window)), m_end(m_begin + windowSize), m_onTick(std::move(onTick)) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~CPaceTicks() override { QCoreApplication::instance()->removeEventFilter(this); }

    int ticks = 0;
    int intervalMs = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        const char* at = reinterpret_cast<const char*>(object);
        if (event->type() == QEvent::Timer && at >= m_begin && at < m_end) {
            if (auto* timer = qobject_cast<QTimer*>(object)) {
                ++ticks;
                intervalMs = timer->interval();
                if (m_onTick) m_onTick(ticks);
            }
        }
        return false;
    }

private:
    const char* m_begin;
    const char* m_end;
    std::function<void(int)> m_onTick;
};

// A progress window whose work reports as fast as a core allows until it is
// told to stop: progress that comes far faster than any window redraws.
class CFloodedProgressDlg final : public CWorkerDlg {
public:
    CFloodedProgressDlg() : CWorkerDlg(nullptr, QStringLiteral("floodedProgress"), QStringLiteral("KXLoader")) {}

    std::atomic<bool> stop{false};
    std::atomic<qint64> reports{0};
    int shown = 0;

protected:
    void OnFirstShown() override {
        StartWork([this](CWorkerProgress& progress) {
            // Bounded, so that a window that never ticks ends the test too.
            constexpr qint64 kMost = 200'000'000;
            progress.Begin(QStringLiteral("records"), kMost);
            qint64 done = 0;
            while (!stop && done < kMost) progress.Advance(++done);
            progress.Finish();
            reports = done;
            return 1;
        });
    }
    void ShowProgress(const ExchangeProgressState&) override { ++shown; }
};

class ExchangeWindows : public CUiFixture {
protected:
    void StartTerminal(const QByteArray& scenario = {}, const QStringList& args = {QStringLiteral("--pty")}) {
        if (!scenario.isEmpty()) {
            ASSERT_TRUE(state.Write(QStringLiteral("scenario.ini"), scenario));
        }
        ASSERT_TRUE(terminal.Start(state.Path(), args)) << qPrintable(terminal.Diagnostics());
        WriteLoaderSetting(QStringLiteral("port"), terminal.Port());
        RememberProject();
        SetProjectPath(project);
    }
    void OpenMainWindow() {
        window = std::make_unique<CDirsDlg>(QFont(QStringLiteral("Tahoma"), 10));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void Click(int id) const {
        QTest::mouseClick(window->findChild<QAbstractButton*>(QStringLiteral("id%1").arg(id)), Qt::LeftButton);
    }
    QByteArray Stored(const char* file) const { return state.Read(QString::fromLatin1(file)); }

    CTestDir state;
    CTerminalProcess terminal;
    std::unique_ptr<CDirsDlg> window;
};

}  // namespace

TEST_F(ExchangeWindows, ThreeChosenDirectoriesReachTheTerminalByteForByte) {
    StartTerminal();
    const QByteArray operations = Cp1251(QStringLiteral("1;1;Приемка;1;2000000000015\r\n2;2;Отгрузка;-1;\r\n"));
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Operations), operations));
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Executors), Lines(40)));
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Wares), Lines(300, 1000)));
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Addresses), Lines(5)));  // not chosen
    OpenMainWindow();
    for (int id : {1018, 1025, 1028}) Click(id);

    bool refusedToClose = false;
    const auto shown = OnShow<CUploadingDirDlg>([&](CUploadingDirDlg* upload) {
        QTimer::singleShot(0, upload, [&refusedToClose, upload] {
            QTest::keyClick(upload, Qt::Key_Escape);
            upload->close();
            refusedToClose = upload->IsWorking() && upload->isVisible();
        });
    });
    Click(1010);
    EXPECT_TRUE(refusedToClose);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Справочники загружены успешно!")});
    EXPECT_EQ(Stored("directories/opers.ux3"), operations);
    EXPECT_EQ(Stored("directories/authors.ux4"), Lines(40));
    EXPECT_EQ(Stored("directories/wares.ux7"), Lines(300, 1000));
    EXPECT_FALSE(QFile::exists(state.File(QStringLiteral("directories/address.ux5"))));
    EXPECT_EQ(LoaderSetting(QStringLiteral("port")), terminal.Port());
}

TEST_F(ExchangeWindows, ATerminalThatDiesDuringTheUploadEndsTheWindowWithItsMessage) {
    StartTerminal("[scenario]\nSyncDelayMs=60000\n");
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Executors), Lines(3)));
    OpenMainWindow();
    Click(1025);

    bool responsive = false;
    int result = -1;
    const auto shown = OnShow<CUploadingDirDlg>([&](CUploadingDirDlg* upload) {
        QObject::connect(upload, &QDialog::finished, [&result](int r) { result = r; });
        auto* status = upload->findChild<QLabel*>(QStringLiteral("id1033"));
        QTimer::singleShot(0, upload, [&, status] {
            ASSERT_TRUE(QTest::qWaitFor([&] { return status->text() == QStringLiteral("Синхронизация"); }, 30000));
            // The exchange waits on its own thread: timers still fire here.
            QElapsedTimer clock;
            clock.start();
            bool fired = false;
            QTimer::singleShot(20, [&fired] { fired = true; });
            responsive = QTest::qWaitFor([&] { return fired; }, 2000) && clock.elapsed() < 2000;
            terminal.Kill();
        });
    });
    Click(1010);
    EXPECT_TRUE(responsive);
    EXPECT_EQ(result, CUploadingDirDlg::Failed);
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].text, QStringLiteral("Ошибка обмена! Ошибка синхронизации!"));
    EXPECT_EQ(prompt.Messages()[0].caption, QStringLiteral("KXLoader"));
}

TEST_F(ExchangeWindows, NothingChosenEndsTheUploadWindowWithoutTheTerminal) {
    CUploadingDirDlg upload;
    upload.SetPort(dir.File(QStringLiteral("no-such-port")));
    EXPECT_EQ(upload.exec(), CUploadingDirDlg::NothingChosen);
    EXPECT_TRUE(prompt.Texts().isEmpty());
}

TEST_F(ExchangeWindows, TheCheckShowsTheTerminalAndTheJournalIsDownloadedAndShownInTheViewer) {
    const QString first = QStringLiteral("4600001;1;5;7;3;10;Молоко;20240101 10:00:00;");
    const QString second = QStringLiteral("4600002;2;6;7;3;11;Хлеб;20240101 10:01:00;x");
    ASSERT_TRUE(state.Write(QStringLiteral("journal.txt"), Cp1251(first + "\r\n" + second + "\r\n")));
    StartTerminal();
    OpenMainWindow();
    Click(1020);
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].caption, QStringLiteral("Сведения о терминале"));
    EXPECT_TRUE(prompt.Messages()[0].text.contains(QStringLiteral("\nDeviceID: KXE0000001\n")));
    prompt.Clear();

    Click(1013);
    const QString file = CurrentDirectoryFiles().journalFile;
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Журнал выгружен в %1!").arg(file)});
    // The demo configuration asks for the terminal's record numbers.
    EXPECT_EQ(ReadFileBytes(file), Cp1251("1;" + first + "\r\n2;" + second + "\r\n"));

    int rows = -1;
    QString secondWare;
    EXPECT_TRUE(DriveModalOf<CEditDirGridDlg>(
        [&] { Click(1017); },
        [&](CEditDirGridDlg* viewer) {
            rows = viewer->RowCount();
            secondWare = viewer->Model().headerData(8, Qt::Horizontal).toString() + '=' +
                         viewer->Model().Table().Cell(1, 8);
            viewer->reject();
        },
        window.get()));
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(secondWare, QStringLiteral("Товар=Хлеб"));
}

TEST_F(ExchangeWindows, TheConfigurationGoesThroughTheUploadWindowsAndTheUpdater) {
    StartTerminal();
    // A line with too few fields: the window warns as it opens, the load goes on.
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Operations),
                               ReadFileBytes(QStringLiteral(KX_PROGRAM_DIR "/demo/files/demo_opers.ux3")) +
                                   Cp1251(QStringLiteral("9;1;Без множителя\r\n"))));
    OpenMainWindow();

    bool animated = false;
    const auto waitShown = OnShow<CLoadingConfigToTerminalDlg>([&](CLoadingConfigToTerminalDlg* wait) {
        auto* upload = qobject_cast<CLoadConfigToTerminalDlg*>(wait->parentWidget());
        animated = upload && upload->findChild<CTransferAnimation*>()->IsPlaying();
    });
    QStringList shownOnOpening;
    EXPECT_TRUE(DriveModalOf<CLoadConfigToTerminalDlg>(
        [&] { Click(1016); },
        [&](CLoadConfigToTerminalDlg* upload) {
            EXPECT_EQ(upload->Port(), terminal.Port());
            EXPECT_TRUE(QTest::qWaitFor([&] { return !prompt.Texts().isEmpty(); }, 5000));
            shownOnOpening = prompt.Texts();
            prompt.Clear();
            upload->findChild<QPushButton*>(QStringLiteral("checkButton"))->click();
            upload->findChild<QPushButton*>(QStringLiteral("loadButton"))->click();
            upload->reject();
        },
        window.get()));
    EXPECT_EQ(shownOnOpening,
              QStringList{QStringLiteral("Справочник операций содержит неправильного формата данные!")});
    ASSERT_EQ(prompt.Messages().size(), 2);
    EXPECT_EQ(prompt.Messages()[0].caption, QStringLiteral("Сведения о терминале"));
    EXPECT_TRUE(prompt.Messages()[0].text.contains(QStringLiteral("Серийный номер: KXE0000001")));
    EXPECT_EQ(prompt.Messages()[1].text, QStringLiteral("Загрузка новой конфигурации\nзавершена успешно!"));
    EXPECT_TRUE(animated);
    EXPECT_EQ(Profile::ReadString(WinIniPath(), QStringLiteral("ZQR"), QStringLiteral("Parlink")), terminal.Port());

    // The terminal holds a database with the project's name and operations.
    const QString stored = state.File(QStringLiteral("files/Application/Orvane/mainbase.db"));
    ASSERT_TRUE(QFile::exists(stored));
    SQLite3::CSQLiteConnection db;
    db.OpenConnection(stored);
    const auto query = [&db](const char* sql) {
        SQLite3::CSQLiteStatement statement(db, QString::fromLatin1(sql));
        SQLite3::CSQLiteTable table;
        statement.StepAll(&table);
        return table.Rows.isEmpty() ? QString() : table.Rows[0][0];
    };
    EXPECT_EQ(query("SELECT group_concat(value) FROM ps_kxconfig_info"), QStringLiteral("demo"));
    EXPECT_EQ(query("SELECT count(*) FROM operations"), QStringLiteral("6"));
}

TEST_F(ExchangeWindows, TheUploadGoesOnWhileTheWindowIsBusy) {
    StartTerminal();
    const QByteArray wares = Lines(3000, 1000);
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Wares), wares));
    OpenMainWindow();
    Click(1028);

    bool storedWhileBusy = false;
    ASSERT_TRUE(QDir().mkpath(state.File(QStringLiteral("directories"))));
    const auto shown = OnShow<CUploadingDirDlg>([&](CUploadingDirDlg* upload) {
        QTimer::singleShot(0, upload, [&] {
            // The window's own thread runs no events here until the terminal
            // holds every record: an upload that waited for the window to
            // draw its progress would stand still, and the terminal's folder
            // would fall quiet.
            storedWhileBusy = BlockUntilFileHolds(state.File(QStringLiteral("directories/wares.ux7")), wares, 30000);
        });
    });
    Click(1010);
    EXPECT_TRUE(storedWhileBusy);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Справочники загружены успешно!")});
}

TEST_F(ExchangeWindows, TheUploadBarCountsTheRecordsAndRedrawsAFewDozenTimesASecond) {
    // Paced as a fast serial line: more records than the link buffers, so the
    // upload takes a second or so and the window draws while records go.
    StartTerminal({}, {QStringLiteral("--pty"), QStringLiteral("--baud"), QStringLiteral("921600")});
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Executors), Lines(40)));
    // Wares as a shop has them (random EAN-13 codes, varied names): a
    // compressed stream of repeated lines would be gone before the first redraw.
    QRandomGenerator random(20261208);
    const QStringList words{QStringLiteral("Молоко"), QStringLiteral("Хлеб"),   QStringLiteral("Сыр"),
                            QStringLiteral("Чай"),    QStringLiteral("Кофе"),   QStringLiteral("Масло"),
                            QStringLiteral("Сок"),    QStringLiteral("Печенье"), QStringLiteral("Крупа")};
    QByteArray wares;
    for (int id = 1000; id < 21000; ++id) {
        QString code = QStringLiteral("46") + QString::number(random.bounded(1000000000, 2000000000)).mid(0, 10);
        int sum = 0;
        for (int d = 0; d < 12; ++d) sum += (code[d].unicode() - '0') * (d % 2 ? 3 : 1);
        code += QString::number((10 - sum % 10) % 10);
        wares += Cp1251(QStringLiteral("%1;%2 %3 %4 г;%5\r\n")
                            .arg(id)
                            .arg(words[random.bounded(words.size())], words[random.bounded(words.size())])
                            .arg(random.bounded(50, 2000))
                            .arg(code));
    }
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Wares), wares));
    OpenMainWindow();
    for (int id : {1025, 1028}) Click(id);

    QStringList counted;  // the upper bar's texts while records go
    int countedRange = 0;
    int lowerRange = 0;
    int redraws = 0;
    std::unique_ptr<CPaceTicks> pace;
    const auto shown = OnShow<CUploadingDirDlg>([&](CUploadingDirDlg* upload) {
        pace = std::make_unique<CPaceTicks>(upload, sizeof(CUploadingDirDlg));
        auto* upper = upload->findChild<QProgressBar*>(QStringLiteral("id1026"));
        auto* lower = upload->findChild<QProgressBar*>(QStringLiteral("id1025"));
        QObject::connect(upper, &QProgressBar::valueChanged, [&, upper](int) {
            ++redraws;
            if (upper->isTextVisible()) {
                counted << upper->text();
                countedRange = upper->maximum();
            }
        });
        QObject::connect(lower, &QProgressBar::valueChanged,
                         [&, lower](int) { lowerRange = qMax(lowerRange, lower->maximum()); });
    });
    Click(1010);
    ASSERT_TRUE(pace);
    const int ticks = pace->ticks;
    const int intervalMs = pace->intervalMs;
    pace.reset();
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Справочники загружены успешно!")});
    ASSERT_FALSE(counted.isEmpty()) << redraws << " redraws on " << ticks << " ticks";
    EXPECT_EQ(countedRange, 20040);
    EXPECT_TRUE(counted.last().endsWith(QStringLiteral(" из ") + QLocale().toString(20040))) << counted.last().toStdString();
    EXPECT_EQ(lowerRange, 3);  // two directories and the synchronisation
    // Never more often than the window's pace, however many records a second:
    // a redraw on a tick of its timer (a few dozen a second) and one at the end.
    EXPECT_LE(redraws, ticks + 1) << redraws << " redraws on " << ticks << " ticks";
    EXPECT_GE(intervalMs, 20);
}

TEST(ProgressWindow, RedrawsOnItsOwnTicksHoweverFastTheWorkReports) {
    CFloodedProgressDlg window;
    // The work floods the window with progress for five ticks of its pace
    // timer, then ends.
    CPaceTicks pace(&window, sizeof(window), [&window](int ticks) {
        if (ticks >= 5) window.stop = true;
    });
    EXPECT_EQ(window.exec(), 1);
    EXPECT_GE(pace.ticks, 5);
    EXPECT_GT(window.reports, pace.ticks);
    // A redraw on a tick and one at the end, never one a report.
    EXPECT_LE(window.shown, pace.ticks + 1) << window.shown << " redraws on " << pace.ticks << " ticks, "
                                           << window.reports << " reports";
    EXPECT_GE(pace.intervalMs, 20);  // a few dozen a second at the most
}

TEST_F(ExchangeWindows, TheJournalBarCountsTheLinesAndAFailedDownloadNamesTheKeptFile) {
    QByteArray journal;
    for (int i = 0; i < 3000; ++i)
        journal += Cp1251(QStringLiteral("46%1;1;5;7;3;10;Товар %2;20240101 10:00:00;\r\n").arg(i, 11, 10, QLatin1Char('0')).arg(i));
    ASSERT_TRUE(state.Write(QStringLiteral("journal.txt"), journal));
    // Lines one message each (no record blocks), so they come in over seconds.
    StartTerminal({}, {QStringLiteral("--pty"), QStringLiteral("--baud"), QStringLiteral("115200"),
                       QStringLiteral("--capabilities"), QStringLiteral("sequence,one-program")});
    OpenMainWindow();

    QString counted;
    const auto shown = OnShow<CRecvJournalDlg>([&](CRecvJournalDlg* download) {
        auto* bar = download->findChild<QProgressBar*>(QStringLiteral("id1025"));
        QObject::connect(bar, &QProgressBar::valueChanged, [&, bar](int) {
            if (!bar->isTextVisible() || !counted.isEmpty()) return;
            counted = bar->text();
            terminal.Kill();  // the link goes half-way
        });
    });
    Click(1013);
    EXPECT_TRUE(counted.endsWith(QStringLiteral(" из ") + QLocale().toString(3000))) << counted.toStdString();
    const QString partial = CurrentDirectoryFiles().journalFile + QStringLiteral(".partial");
    ASSERT_EQ(prompt.Messages().size(), 1);
    const QString text = prompt.Messages()[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Ошибка обмена! Команда построчное получение журнала"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(partial))) << text.toStdString();
    EXPECT_TRUE(QFile::exists(partial));
    EXPECT_FALSE(QFile::exists(CurrentDirectoryFiles().journalFile));
}

TEST_F(ExchangeWindows, APortThatWillNotOpenIsNamedWithTheReason) {
    StartTerminal();
    const QString missing = dir.File(QStringLiteral("no-such-port"));
    WriteLoaderSetting(QStringLiteral("port"), missing);
    OpenMainWindow();
    Click(1020);  // "Проверка"
    ASSERT_EQ(prompt.Messages().size(), 1);
    const QString text = prompt.Messages()[0].text;
    EXPECT_TRUE(text.contains(QStringLiteral("Порт: ") + missing)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Причина: "))) << text.toStdString();
}

// A terminal on the network that was never paired: each exchange button says
// its own first line, and all of them the same reason, in Russian.
TEST_F(ExchangeWindows, EveryButtonGivesThePortsReasonInRussianAndTheSameWords) {
    StartTerminal({}, {QStringLiteral("--listen-tcp"), QStringLiteral("127.0.0.1:0")});
    const QString port = terminal.Port();
    ASSERT_TRUE(port.startsWith(QStringLiteral("tcp:")));
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Executors), Lines(3)));
    OpenMainWindow();
    Click(1020);  // "Проверка"
    Click(1025);
    Click(1010);  // "Загрузка в терминал"
    Click(1013);  // "Выгрузка"
    const QStringList texts = prompt.Texts();
    ASSERT_EQ(texts.size(), 3) << texts.join(QStringLiteral("\n--\n")).toStdString();
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Ошибка! Не удается открыть порт!\n"))) << texts[0].toStdString();
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("Ошибка! Не могу открыть порт %1!\n").arg(port))) << texts[1].toStdString();
    EXPECT_TRUE(texts[2].startsWith(QStringLiteral("Ошибка! Не могу открыть порт!\n"))) << texts[2].toStdString();
    QStringList reasons;
    for (const QString& text : texts) {
        const qsizetype at = text.indexOf(QStringLiteral("\nПричина: "));
        ASSERT_GE(at, 0) << text.toStdString();
        reasons << text.mid(at + 1);
    }
    EXPECT_EQ(reasons[1], reasons[0]);
    EXPECT_EQ(reasons[2], reasons[0]);
    QString words = reasons[0];
    words.remove(port.mid(4));
    EXPECT_FALSE(words.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2,}")))) << reasons[0].toStdString();
}
