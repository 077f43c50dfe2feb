// The command line as a warehouse system uses it: the real kxloader in its own
// program folder (settings, template, link component), the demo project, and
// kxterminal on a pseudo-terminal. No display is set for these runs.

#include "platform/CodePage.h"
#include "storage/SQLite3.h"
#include "tests/link/TerminalProcess.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

const QString kBin = QStringLiteral(KX_PROGRAM_DIR);

// Puts `name` of the build's program folder into `folder`: a hard link keeps
// the executable's own path in `folder` (so it finds its settings there).
bool Place(const QString& name, const QString& folder) {
    const QString from = kBin + "/" + name;
    const QString to = folder + "/" + name;
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) return true;
    return QFile::copy(from, to) && QFile::setPermissions(to, QFileInfo(from).permissions());
}

// The demo's directory files and its info table, nothing a run left there.
bool CopyDemoFiles(const QString& from, const QString& to) {
    QDir().mkpath(to);
    const QStringList patterns{"demo_*", "info.txt"};
    for (const QFileInfo& entry : QDir(from).entryInfoList(patterns, QDir::Files))
        if (!QFile::copy(entry.filePath(), to + "/" + entry.fileName())) return false;
    return true;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApplication();
        program = dir.File("bin");
        project = dir.File("project/demo.kxc");
        state = dir.File("state");
        ASSERT_TRUE(QDir().mkpath(program));
        ASSERT_TRUE(QDir().mkpath(state));
        for (const char* name : {"kxloader", "libparlink.so", "components.ini", "KXConfigFMT.db"})
            ASSERT_TRUE(Place(name, program)) << name;
        if (QFile::exists(kBin + "/parlink.ini")) ASSERT_TRUE(Place("parlink.ini", program));
        ASSERT_TRUE(QDir().mkpath(dir.File("project")));
        ASSERT_TRUE(QFile::copy(kBin + "/demo/demo.kxc", project));
        ASSERT_TRUE(CopyDemoFiles(kBin + "/demo/files", dir.File("project/files")));
        ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", Cp1251(
            "4603393792901;12;1;1;1;1;Т00001;08.12.2026 09:14:03;\r\n"
            "4602587617372;6;3;2;1;1;Т00002;08.12.2026 09:14:41;\r\n"
            "4608804827692;10;3;1;2;1;Т00003;08.12.2026 09:15:22;\r\n"
            "4603393792901;24;1;2;2;2;Т00001;08.12.2026 09:31:10;партия\r\n")));
    }

    void StartTerminal() { ASSERT_TRUE(terminal.Start(state)) << terminal.Diagnostics().toStdString(); }

    void WriteSettings(const QString& port, const QString& config, int overwrite = 1) {
        ASSERT_TRUE(WriteFileBytes(program + "/kxloader.ini",
                                   QStringLiteral("[kxloader.exe]\nport=%1\nconfig=%2\nOverwriteJournal=%3\n")
                                       .arg(port, config)
                                       .arg(overwrite)
                                       .toUtf8()));
    }
    void UseTerminal() {
        StartTerminal();
        WriteSettings(terminal.Port(), project);
    }

    // Runs kxloader with `args`; the exit code, -1 when it did not end.
    // With `stderrTerminal` (the master side of a pseudo-terminal) standard
    // error goes to that terminal and `err` holds what it showed.
    int Run(const QStringList& args, int stderrTerminal = -1) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
        if (!tempFolder.isEmpty()) env.insert("TMPDIR", tempFolder);
        process.setProcessEnvironment(env);
        if (stderrTerminal >= 0) process.setStandardErrorFile(QString::fromLocal8Bit(ptsname(stderrTerminal)));
        QByteArray shown;
        const auto drain = [&] {
            char buffer[4096];
            ssize_t got;
            while (stderrTerminal >= 0 && (got = ::read(stderrTerminal, buffer, sizeof buffer)) > 0)
                shown.append(buffer, got);
        };
        process.start(program + "/kxloader", args);
        bool finished = false;
        for (int waited = 0; !finished && waited < 60000; waited += 50) {
            finished = process.waitForFinished(50);
            drain();
        }
        if (!finished) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        drain();
        out = QString::fromUtf8(process.readAllStandardOutput());
        err = QString::fromUtf8(stderrTerminal >= 0 ? shown : process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QString Files(const QString& name) const { return dir.File("project/files/" + name); }
    QByteArray Report() const { return ReadFileBytes(Files("errors.txt")); }
    // The commands the terminal logged since the last MarkCommands().
    QStringList Commands() const {
        return QString::fromUtf8(ReadFileBytes(state + "/commands.log").mid(commandsMark))
            .split('\n', Qt::SkipEmptyParts);
    }
    void MarkCommands() { commandsMark = ReadFileBytes(state + "/commands.log").size(); }
    QStringList Received() const { return QDir(state + "/directories").entryList(QDir::Files); }
    void Scenario(const QString& text) { ASSERT_TRUE(WriteFileBytes(state + "/scenario.ini", ("[scenario]\n" + text).toUtf8())); }

    CTestDir dir;
    QString program, project, state;
    CTerminalProcess terminal;
    QString out, err;
    QString tempFolder;  // TMPDIR of the runs when set
    qsizetype commandsMark = 0;
};

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

}  // namespace
