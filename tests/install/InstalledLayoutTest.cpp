// The program as a package installs it: `cmake --install` into a temporary
// prefix and run from there with a home folder of its own, the installed tree
// never written; --help and --version of every program without any settings,
// and their manual pages; the documentation and the desktop entry; the
// administrator's and the user's link settings; the demo round from the
// installed demo; two runs at once on two emulated terminals, each with its
// own settings file.

#include "components/parlink/session/LinkSession.h"
#include "components/parlink/session/ParlinkSettingsFiles.h"
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

namespace {

// Every file of a tree with its size and time: equal listings mean nothing
// was written there.
QStringList Listing(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries << QString("%1 %2 %3")
                       .arg(QDir(root).relativeFilePath(info.filePath()))
                       .arg(info.isDir() ? -1 : info.size())
                       .arg(info.lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return entries;
}

bool CopyFolder(const QString& from, const QString& to) {
    QDir().mkpath(to);
    for (const QFileInfo& entry : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = to + "/" + entry.fileName();
        if (entry.isDir() ? !CopyFolder(entry.filePath(), target) : !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

// The text of a gzip-compressed file (manual pages, documents).
QString Gunzip(const QString& path) {
    QProcess gzip;
    gzip.start("gzip", {"-dc", path});
    if (!gzip.waitForFinished(30000) || gzip.exitCode() != 0) return QString();
    return QString::fromUtf8(gzip.readAllStandardOutput());
}

// The options a --help text names: "--state", "-r", "/j", "/?".
QStringList OptionsOf(const QString& help) {
    static const QRegularExpression option(R"((?:^|[\s\[|,])(--?[a-z]+|/[a-z?])(?=[\s,.;:)\]|]|$))");
    QStringList found;
    for (auto it = option.globalMatch(help); it.hasNext();) found << it.next().captured(1);
    found.removeDuplicates();
    return found;
}

struct RunResult {
    int code = -1;
    QString out, err;
};

class Installed : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApplication();
        prefix = dir.File("prefix");
        home = dir.File("home");
        work = dir.File("work");
        ASSERT_TRUE(QDir().mkpath(home));
        QProcess install;
        install.start(KX_CMAKE_COMMAND, {"--install", KX_BINARY_DIR, "--prefix", prefix});
        ASSERT_TRUE(install.waitForFinished(180000));
        ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
        // Read-only as a system folder is (root could still write: the
        // listing compared at the end is what shows nothing was).
        QDirIterator it(prefix, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile::setPermissions(path, QFile::permissions(path) & ~(QFile::WriteOwner | QFile::WriteGroup |
                                                                     QFile::WriteOther | QFile::WriteUser));
        }
        before = Listing(prefix);
        ASSERT_FALSE(before.isEmpty());
    }

    void TearDown() override {
        // Let the temporary folder go.
        QDirIterator it(prefix, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner | QFile::WriteUser);
        }
    }

    // What an installed program run by the test sees: the test's home, no
    // display, no settings but those of the home and the tree.
    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                 "KXLOADER_INI"})
            env.remove(name);
        env.insert("HOME", home);
        return env;
    }
    QProcess* Start(const QStringList& args, const QString& settings = QString(), const QString& program = QString()) {
        auto* process = new QProcess;
        QProcessEnvironment env = Environment();
        if (!settings.isEmpty()) env.insert("KXLOADER_INI", settings);
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(dir.Path());
        process->start(program.isEmpty() ? prefix + "/bin/kxloader" : program, args);
        return process;
    }
    static RunResult Finish(QProcess* process) {
        RunResult result;
        if (!process->waitForFinished(60000)) process->kill(), process->waitForFinished();
        result.out = QString::fromUtf8(process->readAllStandardOutput());
        result.err = QString::fromUtf8(process->readAllStandardError());
        result.code = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        delete process;
        return result;
    }
    RunResult Run(const QStringList& args, const QString& settings = QString(), const QString& program = QString()) {
        return Finish(Start(args, settings, program));
    }

    // A copy of the installed demo project to work on.
    QString CopyDemo(const QString& folder) {
        EXPECT_TRUE(CopyFolder(prefix + "/share/kxconfig/demo", folder));
        return folder + "/demo.kxc";
    }
    static bool WriteSettings(const QString& file, const QString& port, const QString& project) {
        QDir().mkpath(QFileInfo(file).absolutePath());
        return WriteFileBytes(file, QString("[kxloader.exe]\nport=%1\nconfig=%2\n").arg(port, project).toUtf8());
    }

    QString UserSettings() const { return home + "/.config/kxconfig/kxloader.ini"; }
    // The link settings the installed component takes: the files its folder
    // in the tree names for the test's home, read as the link reads them.
    CLinkSettings InstalledLinkSettings() const {
        const QString componentFolder = prefix + "/lib/kxconfig/";
        EXPECT_TRUE(QFileInfo(componentFolder + "libparlink.so").isFile()) << componentFolder.toStdString();
        return CLinkSettings::Load(ParlinkSettingsFiles(componentFolder, Environment()));
    }
    QString AdminLinkSettings() const { return prefix + "/etc/kxconfig/parlink.ini"; }
    // Changes a file of the read-only tree as an administrator would, and
    // takes the new tree as the one nothing may write afterwards.
    void WriteAsAdministrator(const QString& file, const QByteArray& bytes) {
        const QFile::Permissions permissions = QFile::permissions(file);
        ASSERT_TRUE(QFile::setPermissions(file, permissions | QFile::WriteOwner));
        ASSERT_TRUE(WriteFileBytes(file, bytes));
        ASSERT_TRUE(QFile::setPermissions(file, permissions));
        before = Listing(prefix);
    }
    QString UserTemplate() const { return home + "/.local/share/kxconfig/KXConfigFMT.db"; }

    CTestDir dir;
    QString prefix, home, work;
    QStringList before;
};

TEST_F(Installed, SettingsAndTemplateLiveInTheUsersFoldersAndTheTreeIsNeverWritten) {
    for (const char* file : {"bin/kxloader", "bin/kxterminal", "bin/kxupdate_pc", "bin/kxsync", "lib/kxconfig/libparlink.so",
                             "lib/kxconfig/components.ini", "share/kxconfig/KXConfigFMT.db",
                             "share/kxconfig/demo/demo.kxc", "share/kxconfig/demo/files/demo_opers.ux3",
                             "share/icons/hicolor/scalable/apps/kxconfig.svg"})
        EXPECT_TRUE(QFileInfo(prefix + "/" + file).isFile()) << file;
    const QString desktop = QString::fromUtf8(ReadFileBytes(prefix + "/share/applications/kxconfig.desktop"));
    EXPECT_TRUE(desktop.contains("\nExec=kxloader\n") && desktop.contains("\nIcon=kxconfig\n")) << desktop.toStdString();

    // A first run without settings: why there is no configuration, and where to set one.
    RunResult run = Run({"/x", "/j"});
    EXPECT_EQ(run.code, 150);
    EXPECT_TRUE(run.err.contains("kxloader: конфигурация не задана") && run.err.contains(UserSettings()))
        << run.err.toStdString();
    // A run that ends with 150 makes nothing: no folder, no template copy.
    EXPECT_TRUE(QDir(home).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));

    // The settings the user writes, an installed demo copy and an emulated
    // terminal: the link component is found in lib/kxconfig.
    const QString project = CopyDemo(work);
    CTerminalProcess terminal;
    ASSERT_TRUE(QDir().mkpath(dir.File("state")));
    ASSERT_TRUE(terminal.Start(dir.File("state"))) << terminal.Diagnostics().toStdString();
    ASSERT_TRUE(WriteSettings(UserSettings(), terminal.Port(), project));
    run = Run({"/x", "/o", "demo_opers.ux3"});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(ReadFileBytes(work + "/files/errors.txt"), Cp1251("0;Нет ошибок;\r\n"));
    EXPECT_EQ(ReadFileBytes(dir.File("state/directories/opers.ux3")), ReadFileBytes(work + "/files/demo_opers.ux3"));
    // The user's template copy comes with the first project that opened.
    EXPECT_EQ(ReadFileBytes(UserTemplate()), ReadFileBytes(prefix + "/share/kxconfig/KXConfigFMT.db"));
    // The installed updater finds the same component.
    QProcess updater;
    updater.start(prefix + "/bin/kxupdate_pc", {"/p", terminal.Port(), "/u", project, "\\Application\\x.db"});
    ASSERT_TRUE(updater.waitForFinished(60000));
    EXPECT_EQ(updater.exitCode(), 0) << updater.readAllStandardError().toStdString();
    EXPECT_EQ(ReadFileBytes(dir.File("state/files/Application/x.db")), ReadFileBytes(project));

    // The template is copied once: the copy the program rewrites is kept.
    {
        SQLite3::CSQLiteConnection copy;
        copy.OpenConnection(UserTemplate());
        copy.Exec("CREATE TABLE kept(x)");
    }
    const QByteArray copy = ReadFileBytes(UserTemplate());
    EXPECT_EQ(Run({"/x"}).code, 0);
    EXPECT_EQ(ReadFileBytes(UserTemplate()), copy);

    EXPECT_EQ(Listing(prefix), before);
}

TEST_F(Installed, HelpAndVersionNeedNoSettings) {
    const RunResult version = Run({"--version"});
    EXPECT_EQ(version.code, 0);
    const QString special = KX_VERSION_SPECIAL_BUILD;
    EXPECT_EQ(version.out, QString("kxloader (KXConfig) %1%2%3\n")
                               .arg(KX_VERSION_TEXT, KX_VERSION_BUILD ? QString(".%1").arg(KX_VERSION_BUILD) : "",
                                    special.isEmpty() ? "" : " " + special));
    EXPECT_TRUE(version.err.isEmpty()) << version.err.toStdString();

    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains("/j filename - выгрузка журнала в указанный файл\n")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--version"));
    EXPECT_TRUE(help.out.contains(UserSettings()));
    EXPECT_TRUE(help.out.contains("KXLOADER_INI"));
    // Neither made a folder or a file anywhere.
    EXPECT_TRUE(QDir(home).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));

    // The program's own /h still needs its configuration; standard error says
    // which settings file to edit.
    const RunResult slashH = Run({"/h"});
    EXPECT_EQ(slashH.code, 150);
    EXPECT_TRUE(slashH.out.isEmpty()) << slashH.out.toStdString();
    EXPECT_TRUE(slashH.err.contains(UserSettings())) << slashH.err.toStdString();
    EXPECT_TRUE(QDir(home).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));  // no template copy

    // A project that cannot be opened: the reason and the file to change.
    const QString damaged = dir.File("damaged.kxc");
    ASSERT_TRUE(WriteFileBytes(damaged, QByteArray(4096, 'x')));
    ASSERT_TRUE(WriteSettings(UserSettings(), "COM1", damaged));
    const RunResult broken = Run({"/j"});
    EXPECT_EQ(broken.code, 150);
    EXPECT_TRUE(broken.err.contains("kxloader: не удалось открыть конфигурацию " + damaged +
                                    ": файл не является базой данных SQLite"))
        << broken.err.toStdString();
    EXPECT_TRUE(broken.err.contains("файла настроек " + UserSettings()));
    EXPECT_FALSE(broken.err.contains("не найден")) << broken.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(UserTemplate()));

    // The same in a bare portable program folder.
    const QString portable = dir.File("portable");
    ASSERT_TRUE(QDir().mkpath(portable));
    ASSERT_TRUE(QFile::copy(prefix + "/bin/kxloader", portable + "/kxloader"));
    ASSERT_TRUE(QFile::setPermissions(portable + "/kxloader", QFile::permissions(prefix + "/bin/kxloader")));
    EXPECT_EQ(Run({"--version"}, QString(), portable + "/kxloader").out, version.out);
    const RunResult portableHelp = Run({"--help"}, QString(), portable + "/kxloader");
    EXPECT_EQ(portableHelp.code, 0);
    EXPECT_TRUE(portableHelp.out.contains(portable + "/kxloader.ini")) << portableHelp.out.toStdString();
    EXPECT_EQ(QDir(portable).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"kxloader"}));

    EXPECT_EQ(Listing(prefix), before);
}

TEST_F(Installed, EveryProgramAnswersHelpAndVersionAndHasAManualPageThatSaysAsMuch) {
    for (const QString program : {"kxloader", "kxterminal", "kxupdate_pc", "kxsync"}) {
        SCOPED_TRACE(program.toStdString());
        const RunResult version = Run({"--version"}, QString(), prefix + "/bin/" + program);
        EXPECT_EQ(version.code, 0);
        EXPECT_TRUE(version.out.startsWith(program + " (KXConfig) " + KX_VERSION_TEXT)) << version.out.toStdString();
        EXPECT_TRUE(version.err.isEmpty()) << version.err.toStdString();
        const RunResult help = Run({"--help"}, QString(), prefix + "/bin/" + program);
        EXPECT_EQ(help.code, 0);
        EXPECT_TRUE(help.err.isEmpty()) << help.err.toStdString();

        const QString page = Gunzip(prefix + "/share/man/man1/" + program + ".1.gz");
        ASSERT_TRUE(page.startsWith(".TH " + program.toUpper() + " 1 ")) << page.left(80).toStdString();
        // Every option --help names, the manual page names too (roff writes "-" as "\-").
        const QString text = QString(page).replace("\\-", "-");
        const QStringList options = OptionsOf(help.out);
        EXPECT_GE(options.size(), 3) << help.out.toStdString();
        for (const QString& option : options) EXPECT_TRUE(text.contains(option)) << option.toStdString();
        for (const char* section : {".SH SYNOPSIS", ".SH OPTIONS", ".SH EXIT STATUS", ".SH EXAMPLES", ".SH SEE ALSO"})
            EXPECT_TRUE(page.contains(section)) << section;
    }
    EXPECT_TRUE(Gunzip(prefix + "/share/man/man1/kxloader.1.gz").contains(".SH ENVIRONMENT"));
    // None of them made or wrote anything.
    EXPECT_TRUE(QDir(home).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"home", "prefix"}));
    EXPECT_EQ(Listing(prefix), before);
}

TEST_F(Installed, TheDocumentationTheAdministratorsSettingsAndTheDesktopEntryAreInPlace) {
    for (const char* file : {"share/doc/kxconfig/copyright", "share/doc/kxconfig/README",
                             "share/doc/kxconfig/link-protocol.md.gz", "share/doc/kxconfig/images/main_window.png",
                             "share/doc/kxconfig/examples/kxsync-nightly.service",
                             "share/lintian/overrides/kxconfig", "share/kxconfig/demo/terminal/journal.txt"})
        EXPECT_TRUE(QFileInfo(prefix + "/" + file).isFile()) << file;
    EXPECT_TRUE(Gunzip(prefix + "/share/doc/kxconfig/changelog.gz").startsWith(QString("kxconfig (%1) ").arg(KX_VERSION_TEXT)));
    EXPECT_TRUE(Gunzip(prefix + "/share/doc/kxconfig/user-guide.md.gz").contains("## Portable and installed"));
    EXPECT_TRUE(Gunzip(prefix + "/share/doc/kxconfig/command-line.md.gz").startsWith("# The command line"));
    EXPECT_TRUE(QString::fromUtf8(ReadFileBytes(prefix + "/share/doc/kxconfig/copyright"))
                    .startsWith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"));
    // The administrator's link settings, every line a comment until one is set.
    const QString admin = QString::fromUtf8(ReadFileBytes(AdminLinkSettings()));
    EXPECT_TRUE(admin.contains("\n[ports]\n") && admin.contains("\n[link]\n")) << admin.toStdString();
    EXPECT_FALSE(QFileInfo::exists(prefix + "/lib/kxconfig/parlink.ini"));

    const QString desktop = QString::fromUtf8(ReadFileBytes(prefix + "/share/applications/kxconfig.desktop"));
    EXPECT_TRUE(desktop.contains("\nStartupWMClass=kxloader\n")) << desktop.toStdString();
    EXPECT_TRUE(desktop.contains("\nCategories=Utility;\n")) << desktop.toStdString();
}

TEST_F(Installed, TheUsersLinkSettingsAreReadOverTheAdministratorsKeyByKey) {
    const QString project = CopyDemo(work);
    CTerminalProcess terminal;
    terminal.SetProgram(prefix + "/bin/kxterminal");
    ASSERT_TRUE(QDir().mkpath(dir.File("state")));
    ASSERT_TRUE(terminal.Start(dir.File("state"))) << terminal.Diagnostics().toStdString();
    ASSERT_TRUE(WriteSettings(UserSettings(), "COM8", project));

    // The administrator maps COM8 to the terminal for every user.
    WriteAsAdministrator(AdminLinkSettings(), QString("[ports]\nCOM8=%1\n[link]\nLinkTimeoutMs=4000\n")
                                                   .arg(terminal.Port()).toUtf8());
    RunResult run = Run({"/x", "/i"});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(ReadFileBytes(work + "/files/id_term.txt").contains("KX-T100 emulator"));
    const CLinkSettings adminOnly = InstalledLinkSettings();
    EXPECT_EQ(adminOnly.linkTimeoutMs, 4000);
    EXPECT_NE(adminOnly.endpoint.window, 8);

    // A user's own file changes only the keys it sets: its window, and the
    // administrator's time-out still holds.
    const QString user = home + "/.config/kxconfig/parlink.ini";
    ASSERT_TRUE(WriteFileBytes(user, "[link]\nWindow=8\n"));
    const CLinkSettings layered = InstalledLinkSettings();
    EXPECT_EQ(layered.endpoint.window, 8);
    EXPECT_EQ(layered.linkTimeoutMs, 4000);
    run = Run({"/x", "/i"});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    ASSERT_TRUE(WriteFileBytes(user, "[ports]\nCOM8=/dev/kx-no-such-device\n"));
    run = Run({"/x", "/i"});
    EXPECT_EQ(run.code, 3);
    EXPECT_TRUE(run.err.contains("cannot open the port COM8 (/dev/kx-no-such-device)")) << run.err.toStdString();
    EXPECT_EQ(Listing(prefix), before);
}

TEST_F(Installed, TheDemoRoundOfTheUserGuideRunsFromTheInstalledDemo) {
    // cp -r /usr/share/kxconfig/demo ~/kxdemo; the installed emulator on its state.
    const QString demo = home + "/kxdemo";
    const QString project = CopyDemo(demo);
    CTerminalProcess terminal;
    terminal.SetProgram(prefix + "/bin/kxterminal");
    ASSERT_TRUE(terminal.Start(demo + "/terminal")) << terminal.Diagnostics().toStdString();
    ASSERT_TRUE(WriteSettings(UserSettings(), terminal.Port(), project));

    EXPECT_EQ(Run({"/x", "/i"}).code, 0);
    EXPECT_TRUE(ReadFileBytes(demo + "/files/id_term.txt").contains("KX-T100 emulator"));
    const RunResult upload =
        Run({"/x", "/o", "demo_opers.ux3", "/e", "demo_authors.ux4", "/w", "demo_wares.ux7", "demo_waresl2.ux8"});
    EXPECT_EQ(upload.code, 0) << upload.err.toStdString();
    EXPECT_EQ(QDir(demo + "/terminal/directories").entryList(QDir::Files),
              QStringList({"authors.ux4", "opers.ux3", "wares.ux7", "waresl2.ux8"}));
    const int lines = static_cast<int>(ReadFileBytes(prefix + "/share/kxconfig/demo/terminal/journal.txt").count('\n'));
    EXPECT_GT(lines, 10);
    EXPECT_EQ(Run({"/x", "/n"}).code, 0);
    EXPECT_EQ(ReadFileBytes(demo + "/files/j_count.txt"), QByteArray::number(lines));
    EXPECT_EQ(Run({"/x", "/j"}).code, 0);
    EXPECT_EQ(ReadFileBytes(demo + "/files/journal.txt").count('\n'), lines);
    EXPECT_EQ(ReadFileBytes(demo + "/files/errors.txt"), Cp1251("0;Нет ошибок;\r\n"));
    EXPECT_EQ(Listing(prefix), before);
}

TEST_F(Installed, TwoRunsAtOnceOnTwoTerminalsEachKeepTheirOwnSettings) {
    const QString project = CopyDemo(work);
    CTerminalProcess terminals[2];
    QString settings[2];
    for (int t = 0; t < 2; ++t) {
        const QString state = dir.File(QString("state%1").arg(t + 1));
        ASSERT_TRUE(QDir().mkpath(state));
        ASSERT_TRUE(WriteFileBytes(
            state + "/journal.txt",
            Cp1251(QString("46000000000%1%1;1;1;1;1;1;Т0000%1;08.12.2026 09:14:03;\r\n").arg(t + 1))));
        ASSERT_TRUE(terminals[t].Start(state)) << terminals[t].Diagnostics().toStdString();
        settings[t] = dir.File(QString("term%1.ini").arg(t + 1));
        ASSERT_TRUE(WriteSettings(settings[t], terminals[t].Port(), project));
    }
    QProcess* first = Start({"/x", "r1.txt", "/j", "j1.txt", "/o", "demo_opers.ux3"}, settings[0]);
    QProcess* second = Start({"/x", "r2.txt", "/j", "j2.txt", "/e", "demo_authors.ux4"}, settings[1]);
    const RunResult one = Finish(first);
    const RunResult two = Finish(second);
    EXPECT_EQ(one.code, 0) << one.err.toStdString();
    EXPECT_EQ(two.code, 0) << two.err.toStdString();
    EXPECT_EQ(ReadFileBytes(work + "/files/r1.txt"), Cp1251("0;Нет ошибок;\r\n"));
    EXPECT_EQ(ReadFileBytes(work + "/files/r2.txt"), Cp1251("0;Нет ошибок;\r\n"));
    // Each run talked to its own terminal only.
    EXPECT_TRUE(ReadFileBytes(work + "/files/j1.txt").contains("4600000000011;"));
    EXPECT_TRUE(ReadFileBytes(work + "/files/j2.txt").contains("4600000000022;"));
    EXPECT_EQ(QDir(dir.File("state1/directories")).entryList(QDir::Files), QStringList({"opers.ux3"}));
    EXPECT_EQ(QDir(dir.File("state2/directories")).entryList(QDir::Files), QStringList({"authors.ux4"}));
    // And neither touched the settings a run without the variable would use.
    EXPECT_FALSE(QFileInfo::exists(UserSettings()));
    EXPECT_EQ(Listing(prefix), before);
}

}  // namespace
