// The upload flow with a fake updater: the command line, the port,
// the exit code, the temporary file, the messages; the win.ini key.

#include "exchange/ConfigUpload.h"
#include "exchange/TerminalDatabase.h"
#include "platform/InstallLayout.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "platform/RunProcess.h"
#include "filesafety/TempFiles.h"
#include "tests/cfgupload/CfgUploadSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

class CfgUploadFlow : public UploadFixture {
protected:
    void SetUp() override {
        UploadFixture::SetUp();
        programFolder = dir.File(QStringLiteral("program")) + QLatin1Char('/');
        QDir().mkpath(programFolder);
        SetProgramFolder(programFolder);
        SetWinIniPath(dir.File(QStringLiteral("config/win.ini")));
        OpenProject(QStringLiteral("projects/shop.kxc"));
        WriteOperations(QStringLiteral("1;1;Приемка;1;200\r\n2;2;Отгрузка;1;201;1\r\n"));
    }
    void TearDown() override {
        SetWinIniPath(QString());
        UploadFixture::TearDown();
    }
    QStringList UpdaterArgs() const {
        return QString::fromUtf8(ReadFileBytes(programFolder + QStringLiteral("args.txt")))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString LoaderSettings() const { return programFolder + QStringLiteral("kxloader.ini"); }

    QString programFolder;
};

TEST_F(CfgUploadFlow, AnInstalledProgramKeepsWinIniBesideItsOwnSettings) {
    SetWinIniPath(QString());
    CInstallLayout installed;
    installed.mode = InstallMode::Installed;
    installed.programFolder = ProgramFolder();
    installed.userConfigFolder = dir.File(QStringLiteral("home/.config/kxconfig/"));
    installed.loaderSettings = installed.userConfigFolder + QStringLiteral("kxloader.ini");
    SetInstallLayout(installed);
    const QString winIni = WinIniPath();
    const bool written = WriteParlinkPort(QStringLiteral("COM5"));
    SetInstallLayout(CInstallLayout::Resolve(programFolder, QProcessEnvironment()));
    EXPECT_EQ(winIni, installed.userConfigFolder + QStringLiteral("win.ini"));
    EXPECT_TRUE(written);
    EXPECT_EQ(Profile::ReadString(winIni, QStringLiteral("ZQR"), QStringLiteral("Parlink")), QStringLiteral("COM5"));
}

TEST_F(CfgUploadFlow, SuccessRunsTheUpdaterWithTheBuiltDatabaseAndDeletesIt) {
    WriteFakeUpdater(programFolder, 0);
    const QStringList before = KxTempFiles();
    CConfigUploadFlow flow(model, QStringLiteral("COM3"));
    EXPECT_EQ(flow.Run(), ConfigUploadResult::kLoaded);
    EXPECT_TRUE(prompt.Messages().isEmpty()) << prompt.Texts().join(QLatin1Char('\n')).toStdString();

    const QString updater = programFolder + QStringLiteral("kxupdate_pc");
    EXPECT_EQ(flow.CommandLine(), QStringLiteral("\"%1\" /p COM3 /u %2 \\Application\\Orvane\\mainbase.db")
                                      .arg(updater, flow.DatabaseFile()));
    EXPECT_EQ(UpdaterArgs(), (QStringList{QStringLiteral("/p"), QStringLiteral("COM3"), QStringLiteral("/u"),
                                          flow.DatabaseFile(),
                                          QStringLiteral("\\Application\\Orvane\\mainbase.db")}));
    EXPECT_TRUE(QFileInfo(flow.DatabaseFile()).fileName().startsWith(QLatin1String("kx_")));
    EXPECT_EQ(QFileInfo(flow.DatabaseFile()).absolutePath(), KxTempFolderPath());
    EXPECT_EQ(before.size(), 1);  // the working copy
    EXPECT_FALSE(QFile::exists(flow.DatabaseFile()));
    EXPECT_EQ(KxTempFiles(), before);
    // Its owner lock went with it: only the working copy's is left.
    EXPECT_EQ(QDir(KxTempFolderPath()).entryList({QStringLiteral("kx_*.lock")}, QDir::Files).size(), 1);

    // What the updater was given was the whole terminal database.
    SQLite3::CSQLiteConnection received;
    received.OpenConnection(programFolder + QStringLiteral("received.db"));
    EXPECT_EQ(TableRows(received, QStringLiteral("ps_kxconfig_info")), QStringList{QStringLiteral("1|project_name|shop")});
    EXPECT_EQ(TableRows(received, QStringLiteral("operations")),
              (QStringList{QStringLiteral("1|1|Приемка|1|200|"), QStringLiteral("2|2|Отгрузка|1|201|1")}));
    EXPECT_EQ(TableRows(received, QStringLiteral("ParamsValue")), TableRows(model.Working(), QStringLiteral("ParamsValue")));
}

TEST_F(CfgUploadFlow, ExitCodeThreeIsReportedAndTheDatabaseStillDeleted) {
    WriteFakeUpdater(programFolder, 3);
    const QStringList before = KxTempFiles();
    EXPECT_EQ(LoadConfigurationToTerminal(model, QStringLiteral("USB")), ConfigUploadResult::kFailed);
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0].text, QStringLiteral("Ошибка обновления: 3"));
    EXPECT_EQ(messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_EQ(messages[0].buttons, PromptButtons::Ok);
    EXPECT_TRUE(IsMessage(messages[1],
                          QStringLiteral("Конфигурация не была обновлена\nна терминале!"),
                          QStringLiteral("Конфигуратор прошивки"), PromptIcon::Warning));
    EXPECT_EQ(KxTempFiles(), before);
    // The updater got the port as typed (it maps "USB" itself) and a file that existed then.
    ASSERT_EQ(UpdaterArgs().size(), 5);
    EXPECT_EQ(UpdaterArgs()[1], QStringLiteral("USB"));
    EXPECT_TRUE(QFile::exists(programFolder + QStringLiteral("received.db")));
    // The port went to win.ini before the load.
    EXPECT_EQ(Profile::ReadString(WinIniPath(), QStringLiteral("ZQR"), QStringLiteral("Parlink")), QStringLiteral("USB"));
}

TEST_F(CfgUploadFlow, SuccessfulLoadSaysSo) {
    WriteFakeUpdater(programFolder, 0);
    EXPECT_EQ(LoadConfigurationToTerminal(model, QStringLiteral("COM2")), ConfigUploadResult::kLoaded);
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(IsMessage(messages[0],
                          QStringLiteral("Загрузка новой конфигурации\nзавершена успешно!"),
                          QStringLiteral("Конфигуратор прошивки"), PromptIcon::Information));
}

TEST_F(CfgUploadFlow, TheUpdaterGetsThePortItWasGivenWhateverTheSettingsSay) {
    WriteFakeUpdater(programFolder, 0);
    ASSERT_TRUE(Profile::WriteString(LoaderSettings(), QStringLiteral("kxloader.exe"), QStringLiteral("port"),
                                     QStringLiteral("COM7")));
    CConfigUploadFlow flow(model, QStringLiteral("COM4"));
    EXPECT_EQ(flow.Run(), ConfigUploadResult::kLoaded);
    EXPECT_EQ(flow.Port(), QStringLiteral("COM4"));
    EXPECT_EQ(UpdaterArgs().value(1), QStringLiteral("COM4"));
}

TEST_F(CfgUploadFlow, DuplicateOperationIdsEndWith103WithoutRunningTheUpdater) {
    WriteFakeUpdater(programFolder, 0);
    WriteOperations(QStringLiteral("5;1;A;1;200\r\n5;1;B;1;201\r\n"));
    const QStringList before = KxTempFiles();
    EXPECT_EQ(LoadConfigurationToTerminal(model, QStringLiteral("COM1")), ConfigUploadResult::kNotBuilt);
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Error SQLite.[]"));
    EXPECT_TRUE(messages[0].text.contains(QLatin1String("UNIQUE")));
    EXPECT_EQ(messages[1].text, QStringLiteral("Конфигурация не была обновлена\nна терминале!"));
    EXPECT_FALSE(QFile::exists(programFolder + QStringLiteral("args.txt")));
    EXPECT_EQ(KxTempFiles(), before);
}

TEST_F(CfgUploadFlow, AnUpdaterThatCannotBeStartedFailsTheLoad) {
    // No kxupdate_pc in the program folder.
    const QStringList before = KxTempFiles();
    CConfigUploadFlow flow(model, QStringLiteral("COM1"));
    EXPECT_EQ(flow.Run(), ConfigUploadResult::kFailed);
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].text,
              QStringLiteral("Error! Cannot execute: %1!").arg(programFolder + QStringLiteral("kxupdate_pc")));
    EXPECT_EQ(messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_EQ(KxTempFiles(), before);

    // A file that is there but cannot run is the same.
    prompt.Clear();
    ASSERT_TRUE(WriteFileBytes(programFolder + QStringLiteral("kxupdate_pc"), "not a program"));
    EXPECT_EQ(flow.Run(), ConfigUploadResult::kFailed);
    EXPECT_EQ(prompt.Texts().size(), 1);
    EXPECT_TRUE(prompt.Texts().value(0).startsWith(QLatin1String("Error! Cannot execute: ")));
}

TEST_F(CfgUploadFlow, AnUpdaterKilledBySignalIsAFailure) {
    const QString script = programFolder + QStringLiteral("kxupdate_pc");
    ASSERT_TRUE(WriteFileBytes(script, "#!/bin/sh\nkill -9 $$\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    CConfigUploadFlow flow(model, QStringLiteral("COM1"));
    EXPECT_EQ(flow.Run(), ConfigUploadResult::kFailed);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Ошибка обновления: -1")});
}

TEST(CfgUploadRunProcess, CommandLineWordsAndExitCode) {
    EnsureQtApplication();
    EXPECT_EQ(CommandLineArguments(QStringLiteral("\"C:\\Program Files\\kx\\kxupdate_pc.exe\" /p COM1 /u "
                                                  "C:\\tmp\\kx_1.tmp \\Application\\Orvane\\mainbase.db")),
              (QStringList{QStringLiteral("/p"), QStringLiteral("COM1"), QStringLiteral("/u"),
                           QStringLiteral("C:\\tmp\\kx_1.tmp"), QStringLiteral("\\Application\\Orvane\\mainbase.db")}));
    CRecordingPrompt prompt;
    CScopedPrompt scope(prompt);
    int exitCode = -100;
    EXPECT_EQ(RunProcess(QStringLiteral("/bin/sh"), QStringLiteral("\"/bin/sh\" -c \"exit 42\""), true, &exitCode), 0);
    EXPECT_EQ(exitCode, 42);
    exitCode = -100;
    EXPECT_EQ(RunProcess(QStringLiteral("/nonexistent/updater"), QStringLiteral("\"/nonexistent/updater\" /p X"), true,
                         &exitCode),
              -1);
    EXPECT_EQ(exitCode, -100);  // nothing stored
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Error! Cannot execute: /nonexistent/updater!")});
}

TEST(CfgUploadWinIni, TheParlinkPortGoesToTheUsersConfigurationFolder) {
    CTestDir dir;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.File(QStringLiteral("xdg"))));
    SetWinIniPath(QString());
    EXPECT_EQ(WinIniPath(), dir.File(QStringLiteral("xdg/win.ini")));
    ASSERT_TRUE(QDir().mkpath(dir.File(QStringLiteral("xdg"))));
    ASSERT_TRUE(dir.Write(QStringLiteral("xdg/win.ini"), "[other]\r\nkey=kept\r\n"));
    ASSERT_TRUE(WriteParlinkPort(QStringLiteral("COM5")));
    ASSERT_TRUE(WriteParlinkPort(QStringLiteral("USB")));
    EXPECT_EQ(Profile::ReadString(WinIniPath(), QStringLiteral("ZQR"), QStringLiteral("Parlink")), QStringLiteral("USB"));
    EXPECT_EQ(Profile::ReadString(WinIniPath(), QStringLiteral("other"), QStringLiteral("key")), QStringLiteral("kept"));
    if (previous.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", previous);
}

}  // namespace
