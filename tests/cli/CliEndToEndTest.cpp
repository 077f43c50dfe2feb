// The command line as a warehouse system uses it (tests/cli/CliFixture.h):
// exit codes, report, switches, uploads, journal, info table, identity.

#include "platform/CodePage.h"
#include "platform/ProfileFile.h"
#include "storage/SQLite3.h"
#include "tests/cli/CliFixture.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <stdlib.h>
#include <unistd.h>

namespace {

TEST_F(Cli, ReportAndExitCodeWithoutATerminal) {
    WriteSettings(dir.File("no-such-device"), project);
    EXPECT_EQ(Run({"/x", "/j"}), 3);
    EXPECT_EQ(Report(), Cp1251("3;Ошибка открытия порта;\r\n"));
    QFile::remove(Files("errors.txt"));
    EXPECT_EQ(Run({"/j", "/x"}), 3);
    EXPECT_FALSE(QFile::exists(Files("errors.txt")));
    // No message box in this mode, but one line that names the port and the reason.
    EXPECT_EQ(err, "kxloader: 3 Ошибка открытия порта: cannot open the port " + dir.File("no-such-device") +
                       ": No such file or directory\n");

    EXPECT_EQ(Run({"/x"}), 0);
    EXPECT_EQ(Report(), Cp1251("0;Нет ошибок;\r\n"));
    EXPECT_EQ(Run({"/J"}), 105);
    EXPECT_EQ(Run({"/x", "/s"}), 100);
    EXPECT_EQ(Report(), Cp1251("100;Ошибка в параметрах командной строки KXLoader;\r\n"));
    EXPECT_EQ(Run({"/q"}), 100);
    EXPECT_EQ(Run({"/j", "filter:"}), 100);
}

TEST_F(Cli, EmptyOrUnopenableConfigurationEndsWith150BeforeAnySwitch) {
    WriteSettings("COM1", "");
    EXPECT_EQ(Run({"/x", "/h"}), 150);
    EXPECT_TRUE(out.isEmpty());  // not even the help
    EXPECT_FALSE(QFile::exists(Files("errors.txt")));
    EXPECT_FALSE(QDir(program).exists("files"));
    EXPECT_FALSE(QDir(program).exists("Files"));

    WriteSettings("COM1", dir.File("gone/missing.kxc"));
    EXPECT_EQ(Run({"/x"}), 150);
    EXPECT_TRUE(err.contains("Конфигуратор прошивки")) << err.toStdString();  // its box goes to stderr
}

TEST_F(Cli, AProjectThatIsThereButCannotBeOpenedEndsWith150WithItsReasonAndChangesNothing) {
    // Every file and folder under the test folder, with size and time.
    const auto listing = [&] {
        QStringList entries;
        QDirIterator it(dir.Path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            entries << QString("%1 %2 %3").arg(info.filePath()).arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
        }
        entries.sort();
        return entries.join('\n').toStdString();
    };
    tempFolder = dir.File("tmp");
    ASSERT_TRUE(QDir().mkpath(tempFolder));
    ASSERT_TRUE(QDir().mkpath(dir.File("shared")));
    const QString shared = dir.File("shared/demo.kxc");
    ASSERT_TRUE(QFile::copy(project, shared));

    // Held by another program longer than the busy time-out.
    WriteSettings("COM1", shared);
    {
        SQLite3::CSQLiteConnection other;
        other.OpenConnection(shared);
        other.Exec("BEGIN EXCLUSIVE");
        other.Exec("UPDATE ChoiceNames SET point_name = point_name");
        const std::string before = listing();
        EXPECT_EQ(Run({"/x", "/j"}), 150);
        EXPECT_EQ(listing(), before);
        other.Exec("ROLLBACK");
    }
    EXPECT_FALSE(err.contains("не найден")) << err.toStdString();
    EXPECT_TRUE(err.contains("kxloader: не удалось открыть конфигурацию " + shared +
                             ": файл занят другой программой и не освободился за 3 с\n"
                             "kxloader: повторите запуск, когда другая программа освободит файл\n"))
        << err.toStdString();

    // Not a database, and a database of another program.
    const QString junk = dir.File("shared/junk.kxc");
    ASSERT_TRUE(WriteFileBytes(junk, QByteArray(4096, 'x')));
    const QString foreign = dir.File("shared/foreign.kxc");
    {
        SQLite3::CSQLiteConnection other;
        other.OpenConnection(foreign);
        other.Exec("CREATE TABLE orders(id INTEGER)");
    }
    const QList<QPair<QString, QString>> cases = {
        {junk, "файл не является базой данных SQLite (поврежден или это другой файл)"},
        {foreign, "файл не является проектом KXConfig: в нем нет таблицы ParamsValue"},
    };
    for (const auto& [path, reason] : cases) {
        WriteSettings("COM1", path);
        const std::string before = listing();
        EXPECT_EQ(Run({"/x", "/h"}), 150);
        EXPECT_EQ(listing(), before) << path.toStdString();
        EXPECT_FALSE(err.contains("не найден")) << err.toStdString();
        EXPECT_TRUE(err.contains("kxloader: не удалось открыть конфигурацию " + path + ": " + reason + "\n"))
            << err.toStdString();
    }
    EXPECT_TRUE(QDir(tempFolder).isEmpty());
}

TEST_F(Cli, UploadAtTheEndOnlyWhenEverythingBeforeSucceeded) {
    UseTerminal();
    Scenario("NotReady=1\nNotReadyText=Идет инвентаризация\n");
    EXPECT_EQ(Run({"/o", "demo_opers.ux3", "/j"}), 55);
    EXPECT_TRUE(Received().isEmpty());

    EXPECT_EQ(Run({"/o", "demo_opers.ux3", "/h"}), 0);
    EXPECT_TRUE(out.contains("/j filename - выгрузка журнала в указанный файл")) << out.toStdString();
    EXPECT_TRUE(out.contains("Справка по параметрам командной строки"));
    EXPECT_TRUE(Received().isEmpty());

    ASSERT_TRUE(QFile::remove(state + "/scenario.ini"));
    EXPECT_EQ(Run({"/o", "demo_opers.ux3", "/w", "wares.ux7", "demo_waresl2.ux8"}), 23);
    EXPECT_EQ(err, "kxloader: 23 Ошибка открытия файла товаров: cannot open the file " + Files("wares.ux7") +
                       ": No such file or directory\n");
    EXPECT_TRUE(Received().isEmpty());

    EXPECT_EQ(Run({"/x", "/o", "demo_opers.ux3", "/w", "demo_wares.ux7", "demo_waresl2.ux8"}), 0);
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_EQ(Report(), Cp1251("0;Нет ошибок;\r\n"));
    EXPECT_EQ(Received(), QStringList({"opers.ux3", "wares.ux7", "waresl2.ux8"}));
    EXPECT_EQ(ReadFileBytes(state + "/directories/wares.ux7"), ReadFileBytes(Files("demo_wares.ux7")));
}

TEST_F(Cli, RejectionsGiveTwoHundredPlusTheirNumber) {
    UseTerminal();
    Scenario("Reject=1\nRejectNumber=3\nRejectText=Нет товара Т00009\n");
    EXPECT_EQ(Run({"/x", "/e", "demo_authors.ux4"}), 203);
    EXPECT_EQ(Report(), Cp1251("203;Неизвестный код ошибки;Нет товара Т00009\r\n"));
    EXPECT_TRUE(Received().isEmpty());

    Scenario("Reject=1\nRejectNumber=0\nRejectText=Формат\n");
    EXPECT_EQ(Run({"/x", "/a", "demo_address.ux5"}), 200);
    EXPECT_EQ(Report(), Cp1251("200;Ошибка в формате справочника;Формат\r\n"));
}

TEST_F(Cli, CodesAbove255ExitWithAStatusOfTheirOwnAndKeepTheirNumberInTheReport) {
    UseTerminal();
    struct Case {
        int number;
        const char* report;
    };
    for (const Case& c : {Case{56, "256;Неизвестный код ошибки;Склад закрыт\r\n"},
                          Case{57, "257;Неизвестный код ошибки;Склад закрыт\r\n"},
                          Case{112, "312;Неизвестный код ошибки;Склад закрыт\r\n"}}) {
        SCOPED_TRACE(c.number);
        Scenario(QStringLiteral("Reject=1\nRejectNumber=%1\nRejectText=Склад закрыт\n").arg(c.number));
        // Never 0 (success), never another code's number (1 is "not registered").
        EXPECT_EQ(Run({"/x", "/e", "demo_authors.ux4"}), 199);
        EXPECT_EQ(Report(), Cp1251(c.report));
        EXPECT_TRUE(err.contains("the terminal rejected the upload with number " + QString::number(c.number) +
                                 ": Склад закрыт"))
            << err.toStdString();
    }
    // 255 itself still fits: rejection 55 exits with 255.
    Scenario("Reject=1\nRejectNumber=55\nRejectText=x\n");
    EXPECT_EQ(Run({"/e", "demo_authors.ux4"}), 255);
}

TEST_F(Cli, ProgressOnlyWhenStandardErrorIsATerminal) {
    UseTerminal();
    EXPECT_EQ(Run({"/j"}), 0);
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();  // a pipe: a log stays clean

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    EXPECT_EQ(Run({"/j"}, master), 0);
    EXPECT_TRUE(err.contains("journal: 0 of 4 records")) << err.toStdString();
    EXPECT_TRUE(err.endsWith("\r\x1b[K")) << err.toStdString();  // erased at the end
    EXPECT_FALSE(err.contains('\n'));

    // A failure is erased first, then told on a line of its own.
    WriteSettings(dir.File("no-such-device"), project);
    EXPECT_EQ(Run({"/j"}, master), 3);
    EXPECT_TRUE(err.startsWith("kxloader: 3 ")) << err.toStdString();
    ::close(master);
}

TEST_F(Cli, FiltersAndCurrentValues) {
    UseTerminal();
    EXPECT_EQ(Run({"/f"}), 0);
    EXPECT_TRUE(Commands().contains("C 40R"));

    EXPECT_EQ(Run({"/f", "o=3", "b=123"}), 0);
    QStringList log = Commands();
    EXPECT_TRUE(log.contains("C 401") && log.contains("D 3"));
    EXPECT_TRUE(log.contains("C 409") && log.contains("D 123"));

    MarkCommands();
    EXPECT_EQ(Run({"/s", "o", "=", "3"}), 100);
    EXPECT_EQ(Run({"/s", "o=3", "e=7"}), 0);
    log = Commands();
    EXPECT_TRUE(log.contains("C 881") && log.contains("C 883"));
    EXPECT_FALSE(log.contains("C 885") || log.contains("C 887"));
    EXPECT_EQ(Run({"/s"}), 100);
}

TEST_F(Cli, JournalDownloadsCountsAndFilters) {
    UseTerminal();
    EXPECT_EQ(Run({"/j"}), 0);  // the demo project has the journal ids on
    const QList<QByteArray> all = ReadFileBytes(Files("journal.txt")).split('\n');
    EXPECT_EQ(all.size(), 5);  // four lines and the empty rest
    EXPECT_TRUE(all[0].startsWith("1;4603393792901;12;"));

    EXPECT_EQ(Run({"/j", "filter:", "o=3"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("journal.txt")),
              "2;4602587617372;6;3;2;1;1;\xD2" "00002;08.12.2026 09:14:41;\r\n"
              "3;4608804827692;10;3;1;2;1;\xD2" "00003;08.12.2026 09:15:22;\r\n");

    EXPECT_EQ(Run({"/j", "mine.txt", "filter:", "e=2"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("mine.txt")).count('\n'), 2);

    EXPECT_EQ(Run({"/n", "filter:", "o=3"}), 100);
    EXPECT_EQ(Run({"/n", "c.txt", "filter:", "o=1"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("c.txt")), "2");
    EXPECT_EQ(Run({"/n"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("j_count.txt")), "4");

    EXPECT_EQ(Run({"/c"}), 0);
    QFile::remove(Files("j_count.txt"));
    EXPECT_EQ(Run({"/x", "/n"}), 50);
    EXPECT_FALSE(QFile::exists(Files("j_count.txt")));
    EXPECT_EQ(Report(), Cp1251("50;Ошибка - журнал пуст;\r\n"));
}

TEST_F(Cli, CountsFollowEachOtherWhenAppending) {
    StartTerminal();
    WriteSettings(terminal.Port(), project, 0);
    EXPECT_EQ(Run({"/n"}), 0);
    EXPECT_EQ(Run({"/n"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("j_count.txt")), "44");
}

TEST_F(Cli, InfoTableDownloadAndUpload) {
    UseTerminal();
    ASSERT_TRUE(WriteFileBytes(state + "/info.txt", Cp1251("Склад;Центральный\r\nСмена;1\r\n")));
    EXPECT_EQ(Run({"/q", "got.txt"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("got.txt")), Cp1251("Склад;Центральный\r\nСмена;1\r\n"));
    EXPECT_EQ(Run({"/q", "got2.txt", "/x"}), 0);
    EXPECT_EQ(ReadFileBytes(Files("got2.txt")), ReadFileBytes(Files("got.txt")));
    EXPECT_EQ(Report(), Cp1251("0;Нет ошибок;\r\n"));

    EXPECT_EQ(Run({"/q", "info.txt", "-s", "/e", "demo_authors.ux4"}), 0);
    EXPECT_TRUE(Commands().contains("C 1F1"));
    EXPECT_EQ(ReadFileBytes(state + "/info.txt"), ReadFileBytes(Files("info.txt")));
    EXPECT_TRUE(Received().contains("authors.ux4"));
}

TEST_F(Cli, TerminalInformationFile) {
    UseTerminal();
    EXPECT_EQ(Run({"/i"}), 0);
    const QString text = CodePage::FromWindows1251(ReadFileBytes(Files("id_term.txt")));
    EXPECT_TRUE(text.startsWith("Программа: ")) << text.toStdString();
    EXPECT_TRUE(text.contains("\r\nDeviceID: "));
    EXPECT_FALSE(text.contains(QRegularExpression("[^\r]\n")));
}

TEST_F(Cli, ComponentMissingOrBroken) {
    const QString kBin = ProgramBinFolder();
    UseTerminal();
    ASSERT_TRUE(QFile::remove(program + "/components.ini"));
    EXPECT_EQ(Run({"/x", "/i"}), 1);
    EXPECT_EQ(Report(), Cp1251("1;Компонента Parlink.dll не зарегистрирована;\r\n"));

    ASSERT_TRUE(WriteFileBytes(program + "/components.ini", "[KXC.ParlinkX2]\nlibrary=KXConfigFMT.db\n"));
    EXPECT_EQ(Run({"/x", "/i"}), 2);
    EXPECT_EQ(Report(), Cp1251("2;Ошибка создания объекта Parlink;\r\n"));

    // A library cut short in copying fails the same way instead of killing the program.
    const QByteArray library = ReadFileBytes(kBin + "/libparlink.so");
    ASSERT_TRUE(WriteFileBytes(program + "/cut.so", library.left(20000)));
    ASSERT_TRUE(WriteFileBytes(program + "/components.ini", "[KXC.ParlinkX2]\nlibrary=cut.so\n"));
    EXPECT_EQ(Run({"/x", "/i"}), 2);
    EXPECT_EQ(Report(), Cp1251("2;Ошибка создания объекта Parlink;\r\n"));
    EXPECT_TRUE(err.contains(program + "/cut.so: the library is damaged")) << err.toStdString();
}

// The terminal's state after commands it may or may not have carried out. It
// listens on a local socket of a fixed name, so it can be switched off and on
// again between runs and keep its port (a noted filter reset belongs to a port).
class CliTerminalState : public Cli {
protected:
    void SetUp() override {
        Cli::SetUp();
        socket = dir.File("t.sock");
        // Long link time-outs: a run the emulator holds waits for the test's kill.
        QFile::remove(program + "/parlink.ini");
        ASSERT_TRUE(WriteFileBytes(program + "/parlink.ini",
                                   "[link]\nLinkTimeoutMs=60000\nAnswerTimeoutMs=60000\nCloseTimeoutMs=60000\n"));
        WriteSettings("local:" + socket, project, 0);
        // 2,000 scans with real EAN-13 barcodes; a third of them on operation 3.
        QRandomGenerator random(20261208);
        for (int i = 0; i < 2000; ++i) {
            QString code = QString::number(460) + QString::number(random.bounded(100000000, 999999999));
            int sum = 0;
            for (int d = 0; d < 12; ++d) sum += (code[d].unicode() - '0') * (d % 2 ? 3 : 1);
            code += QString::number((10 - sum % 10) % 10);
            scans << QStringLiteral("%1;%2;%3;%4;%5;%6;Т%7;08.12.2026 %8:%9:00;")
                         .arg(code)
                         .arg(1 + random.bounded(24))
                         .arg(i % 3 + 1)
                         .arg(1 + i % 4)
                         .arg(1 + i % 5)
                         .arg(1 + i % 7)
                         .arg(random.bounded(1, 99999), 5, 10, QLatin1Char('0'))
                         .arg(8 + i / 240, 2, 10, QLatin1Char('0'))
                         .arg(i / 4 % 60, 2, 10, QLatin1Char('0'));
        }
        ResetTerminal();
    }
    void TearDown() override {
        if (device) device->Stop();
    }

    QByteArray TerminalJournal() const {
        QByteArray bytes;
        for (const QString& scan : scans) bytes += Cp1251(scan) + "\r\n";
        return bytes;
    }
    // The PC's journal file as a download of the whole journal writes it (the
    // demo project asks for record numbers).
    QByteArray WholeDownload() const {
        QByteArray bytes;
        for (int i = 0; i < scans.size(); ++i) bytes += QByteArray::number(i + 1) + ";" + Cp1251(scans[i]) + "\r\n";
        return bytes;
    }
    // All scans on the terminal, no filter, no note, no journal on the PC.
    void ResetTerminal() {
        ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", TerminalJournal()));
        QFile::remove(state + "/terminal.ini");
        QFile::remove(Marker());
        QFile::remove(Record());
        QFile::remove(Files("journal.txt"));
        QFile::remove(Files("journal.txt.partial"));
    }
    void SwitchOn(const QString& scenario = QString()) {
        if (device) device->Stop();
        if (scenario.isEmpty())
            QFile::remove(state + "/scenario.ini");
        else
            Scenario(scenario + "\n");
        device = std::make_unique<CTerminalProcess>();
        // A terminal that keeps a download's filters beyond its session: the
        // program owes it their reset when a run cannot see it done.
        ASSERT_TRUE(device->Start(state, {"--listen", socket, "--capabilities", "none"}))
            << device->Diagnostics().toStdString();
        MarkCommands();
    }
    // An earlier version's note of the reset owed on a port.
    QString Marker() const { return program + "/kxloader.ini.filter-reset"; }
    // What the program keeps for the emulator's identity.
    QString Record() const { return program + "/state/terminals/KXE0000001.terminal"; }
    // A reset owed to the terminal: in its record, or in an earlier version's note.
    bool Owed() const { return ReadFileBytes(Record()).contains("reset-owed") || QFile::exists(Marker()); }
    QString TerminalFilter(const char* key) const {
        return Profile::ReadString(state + "/terminal.ini", "filters", QLatin1String(key));
    }
    bool AnyTerminalFilter() const {
        for (const char* key : {"Operation", "Executor", "Address", "Document", "Ware", "Barcode"})
            if (!TerminalFilter(key).isEmpty()) return true;
        return false;
    }
    bool SwitchedOff() const { return Commands().contains("S power off"); }
    // A filter the terminal still holds is noted, for the next run to reset.
    void ExpectLeftFilterNoted() const {
        if (AnyTerminalFilter()) {
            EXPECT_TRUE(Owed());
        }
    }
    // The next plain download (the terminal on, no scenario) resets first if
    // a reset was noted and takes every scan; nothing stays noted or filtered.
    void ExpectPlainDownloadTakesEveryScan() {
        SwitchOn();
        EXPECT_EQ(Run({"/x", "/j"}), 0) << err.toStdString();
        EXPECT_EQ(ReadFileBytes(Files("journal.txt")), WholeDownload());
        EXPECT_FALSE(Owed());
        EXPECT_FALSE(AnyTerminalFilter());
    }
    QByteArray LinkErrorReport() const { return Cp1251("4;Ошибка обмена - терминал не отвечает;\r\n"); }

    QString socket;
    QStringList scans;
    std::unique_ptr<CTerminalProcess> device;
};

TEST_F(CliTerminalState, SwitchedOffAsACommandArrivesIsTheLinkErrorAndNothingIsCountedThatWasNotDone) {
    // ExitAfterFrames=K: the terminal goes off as the K-th data frame of the
    // session arrives, before it carries out anything in it (frame 1 is the
    // link check of the opening). Whatever the framing, a run that succeeds
    // left the terminal in the state it asked for, and a run the terminal
    // went off in is the link error, never 0 and never "too old" (57).
    struct Case {
        const char* name;
        QStringList args;
        std::function<void()> arrange;
        std::function<bool()> done;  // the terminal is in the state the run asked for
    };
    const std::vector<Case> cases = {
        {"clear", {"/c"}, [] {}, [&] { return ReadFileBytes(state + "/journal.txt").isEmpty(); }},
        {"filter reset", {"/f"},
         [&] { Profile::WriteString(state + "/terminal.ini", "filters", "Operation", "3"); },
         [&] { return !AnyTerminalFilter(); }},
        {"filter set", {"/f", "e=4"}, [] {}, [&] { return TerminalFilter("Executor") == "4"; }},
        // A reset noted by an earlier run, with its filter still on the terminal.
        {"noted reset", {"/n"},
         [&] {
             Profile::WriteString(state + "/terminal.ini", "filters", "Operation", "3");
             ASSERT_TRUE(WriteFileBytes(Marker(), ("local:" + socket + "\n").toUtf8()));
         },
         [&] { return !AnyTerminalFilter() && ReadFileBytes(Files("j_count.txt")) == "2000"; }},
    };
    for (int frames = 1; frames <= 3; ++frames) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << c.name << ", ExitAfterFrames=" << frames);
            ResetTerminal();
            QFile::remove(Files("j_count.txt"));
            c.arrange();
            SwitchOn(QStringLiteral("[scenario]\nExitAfterFrames=%1").arg(frames));
            const int code = Run(QStringList{"/x"} + c.args);
            const bool off = SwitchedOff();
            if (code == 0) {
                EXPECT_TRUE(c.done());
            }
            if (off) {
                EXPECT_EQ(code, 4) << err.toStdString();
                EXPECT_EQ(Report(), LinkErrorReport());
            }
            // The frame after the link check always holds the command (or the
            // version question before it): never carried out.
            if (frames == 2) {
                EXPECT_TRUE(off);
                EXPECT_FALSE(c.done());
            }
            // A filter left from a download stays noted until its reset is confirmed.
            if (QString(c.name) == "noted reset" && AnyTerminalFilter()) {
                EXPECT_TRUE(Owed());
            }
        }
    }
    // The noted reset stayed: the next plain download resets first and gets
    // every scan, not the third under the filter.
    ResetTerminal();
    Profile::WriteString(state + "/terminal.ini", "filters", "Operation", "3");
    ASSERT_TRUE(WriteFileBytes(Marker(), ("local:" + socket + "\n").toUtf8()));
    SwitchOn("[scenario]\nExitAfterFrames=2");
    EXPECT_EQ(Run({"/x", "/j"}), 4);
    EXPECT_TRUE(Owed());
    ExpectPlainDownloadTakesEveryScan();
}

TEST_F(CliTerminalState, LostLinkDuringAFilteredDownloadIsTheLinkErrorWhereverItHappens) {
    // The frames of a filtered /n: the link check, "998" and its poll, "999",
    // "303", the stamp, the version question and its poll, the filter, ...
    // (pauses keep most of them apart). Wherever the terminal goes off, the
    // run says 4, and the count file is untouched.
    for (int frames = 3; frames <= 9; ++frames) {
        SCOPED_TRACE(::testing::Message() << "ExitAfterFrames=" << frames);
        ResetTerminal();
        ASSERT_TRUE(WriteFileBytes(Files("j_count.txt"), "17"));
        SwitchOn(QStringLiteral("[scenario]\nExitAfterFrames=%1").arg(frames));
        const int code = Run({"/x", "/n", "j_count.txt", "filter:", "o=3"});
        if (SwitchedOff()) {
            EXPECT_EQ(code, 4) << err.toStdString();
            EXPECT_EQ(Report(), LinkErrorReport());
            EXPECT_EQ(ReadFileBytes(Files("j_count.txt")), "17");
        } else {
            EXPECT_EQ(code, 0) << err.toStdString();
            EXPECT_EQ(ReadFileBytes(Files("j_count.txt")), "17666");
        }
        ExpectLeftFilterNoted();
    }
}

TEST_F(CliTerminalState, KilledFilteredDownloadLeavesItsResetNotedAndNoScanIsLost) {
    // kxloader is killed by its process id while the terminal holds at a
    // command of a filtered download: from the first filter to its end.
    for (const char* at : {"401", "020", "031", "40R", "004"}) {
        SCOPED_TRACE(at);
        ResetTerminal();
        SwitchOn(QStringLiteral("[scenario]\nHoldAtCommand=%1").arg(QLatin1String(at)));
        QProcess loader;
        loader.setProcessEnvironment(Environment());
        loader.start(program + "/kxloader", {"/x", "/j", "filter:", "o=3"});
        ASSERT_TRUE(loader.waitForStarted(30000));
        QDeadlineTimer deadline(60000);
        while (!Commands().contains("S hold") && !deadline.hasExpired() && loader.state() == QProcess::Running)
            QThread::msleep(10);
        ASSERT_TRUE(Commands().contains("S hold")) << Commands().join('\n').toStdString();
        ::kill(static_cast<pid_t>(loader.processId()), SIGKILL);
        ASSERT_TRUE(loader.waitForFinished(30000));

        // Nothing counts as downloaded, and a filter still on the terminal is noted.
        EXPECT_FALSE(QFile::exists(Files("journal.txt")));
        ExpectLeftFilterNoted();
        if (QString(at) != "004") {
            EXPECT_TRUE(Owed());
        }

        // The next plain download takes every scan; a clear after it loses nothing.
        ExpectPlainDownloadTakesEveryScan();
        EXPECT_EQ(Run({"/x", "/c"}), 0) << err.toStdString();
        EXPECT_TRUE(ReadFileBytes(state + "/journal.txt").isEmpty());
    }
}

TEST_F(CliTerminalState, InfoRecordBeginningWithTheEndCharacterComesBackAndOneThatCannotIsRefused) {
    const QByteArray table = Cp1251("Склад;Центральный\r\n\x04Смена;1\r\nДата;08.12.2026\r\nКасса;3\r\n");
    ASSERT_TRUE(WriteFileBytes(state + "/info.txt", table));
    SwitchOn();
    EXPECT_EQ(Run({"/x", "/q", "back.txt", "-r"}), 0) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(Files("back.txt")), table);

    // Sent back, the table arrives as it was.
    ASSERT_TRUE(WriteFileBytes(state + "/info.txt", ""));
    EXPECT_EQ(Run({"/x", "/q", "back.txt", "-s"}), 0) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(state + "/info.txt"), table);

    // A record that is the end character alone would end the table on its
    // way back: its upload is refused and the terminal keeps its table.
    ASSERT_TRUE(WriteFileBytes(Files("bad.txt"), "a;1\r\n\x04\r\nb;2\r\n"));
    EXPECT_EQ(Run({"/x", "/q", "bad.txt", "-s"}), 40);
    EXPECT_EQ(Report(), Cp1251("40;Ошибка чтения файла информационной таблицы;\r\n"));
    EXPECT_TRUE(err.contains("record 2 of the file " + Files("bad.txt") + " cannot be uploaded")) << err.toStdString();
    EXPECT_EQ(ReadFileBytes(state + "/info.txt"), table);
}

}  // namespace
