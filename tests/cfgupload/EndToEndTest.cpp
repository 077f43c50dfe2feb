// The whole upload: the demo configuration, the upload flow, the real
// kxupdate_pc with the link plugin, and kxterminal on a pseudo-terminal, which
// stores the database under its remote path in its state folder.

#include "exchange/ConfigUpload.h"
#include "exchange/TerminalDatabase.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "platform/RunProcess.h"
#include "tests/cfgupload/CfgUploadSupport.h"
#include "tools/kxupdate_pc/Updater.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kProgramFolder = QStringLiteral(KX_PROGRAM_DIR "/");
const QString kStored = QStringLiteral("files/Application/Orvane/mainbase.db");

class CfgUploadEndToEnd : public UploadFixture {
protected:
    void SetUp() override {
        UploadFixture::SetUp();
        SetProgramFolder(kProgramFolder);
        SetWinIniPath(dir.File(QStringLiteral("win.ini")));
        state = dir.File(QStringLiteral("terminal"));
        ASSERT_TRUE(terminal.Start(state)) << "kxterminal did not start";
    }
    void TearDown() override {
        terminal.Stop();
        SetWinIniPath(QString());
        UploadFixture::TearDown();
    }
    // Runs the real updater by hand; its exit code.
    int Updater(const QString& port, const QString& file, const QString& remote,
                const QString& program = UpdaterProgramPath(kProgramFolder)) {
        int exitCode = -100;
        EXPECT_EQ(RunProcess(program, UpdaterCommandLine(program, port, file).replace(
                                          QString::fromLatin1(kTerminalDatabaseRemotePath), remote),
                             true, &exitCode),
                  0);
        return exitCode;
    }

    CTerminalProcess terminal;
    QString state;
};

TEST_F(CfgUploadEndToEnd, TheDemoConfigurationArrivesWholeOnTheTerminal) {
    // The demo project with its own files folder, as a user has it.
    OpenProject(QStringLiteral("demo/demo.kxc"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KX_PROGRAM_DIR "/demo/files/demo_opers.ux3"), OperationsFile()));
    EXPECT_TRUE(ValidateOperationsDirectory());

    const QStringList before = KxTempFiles();
    EXPECT_EQ(LoadConfigurationToTerminal(model, terminal.Port()), ConfigUploadResult::kLoaded);
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Загрузка новой конфигурации\nзавершена успешно!")});
    EXPECT_EQ(KxTempFiles(), before);
    EXPECT_EQ(Profile::ReadString(WinIniPath(), QStringLiteral("ZQR"), QStringLiteral("Parlink")), terminal.Port());

    const QString stored = QDir(state).filePath(kStored);
    ASSERT_TRUE(QFileInfo(stored).isFile());
    SQLite3::CSQLiteConnection db;
    db.OpenConnection(stored);
    const QStringList working = TableNames(model.Working());
    QStringList expected = working;
    expected << QStringLiteral("operations") << QStringLiteral("ps_engine_vars")
             << QStringLiteral("ps_kxconfig_info");
    expected.sort();
    EXPECT_EQ(TableNames(db), expected);
    for (const QString& table : working)
        EXPECT_EQ(TableRows(db, table), TableRows(model.Working(), table)) << table.toStdString();
    EXPECT_EQ(TableRows(db, QStringLiteral("ps_kxconfig_info")), QStringList{QStringLiteral("1|project_name|demo")});
    EXPECT_EQ(TableRows(db, QStringLiteral("ps_engine_vars")), QStringList{QStringLiteral("1|-1|-1|-1|-1|")});
    EXPECT_EQ(Rows(db, QStringLiteral("SELECT oper_id, opertype_id, oper_name, multiplier, oper_barcode, "
                                      "quote(popup_advinfo_mode) FROM operations WHERE oper_id IN (1, 4)")),
              (QStringList{QStringLiteral("1|1|Приемка от поставщика|1|2000000000015|NULL"),
                           QStringLiteral("4|2|Списание брака|-1|2000000000046|'1'")}));
    EXPECT_EQ(Query(db, QStringLiteral("SELECT count(*) FROM operations")).Rows[0][0], QStringLiteral("6"));
    // Nothing half-written is left beside it.
    EXPECT_FALSE(QFile::exists(stored + QStringLiteral(".part")));
}

TEST_F(CfgUploadEndToEnd, TheCheckShowsTheTerminalsIdentity) {
    TerminalInfo info;
    EXPECT_EQ(CheckTerminalConnection(terminal.Port(), &info), 0);
    const auto messages = prompt.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Сведения о терминале"));
    EXPECT_EQ(messages[0].icon, PromptIcon::Information);
    EXPECT_EQ(messages[0].text, TerminalCheckText(info));
    EXPECT_FALSE(info.program.isEmpty());
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("Серийный номер: ") + info.deviceId));
    EXPECT_EQ(Profile::ReadString(WinIniPath(), QStringLiteral("ZQR"), QStringLiteral("Parlink")), terminal.Port());

    // A port nobody listens on: the session's own message, no identity box.
    prompt.Clear();
    EXPECT_EQ(CheckTerminalConnection(dir.File(QStringLiteral("no-such-port"))), 3);
    ASSERT_EQ(prompt.Texts().size(), 1);
    EXPECT_TRUE(prompt.Texts()[0].startsWith(QStringLiteral("Ошибка! Не удается открыть порт!\n\nПорт: ") +
                                            dir.File(QStringLiteral("no-such-port"))))
        << prompt.Texts()[0].toStdString();
}

TEST_F(CfgUploadEndToEnd, TheUpdatersExitCodes) {
    ASSERT_TRUE(dir.Write(QStringLiteral("file.db"), QByteArray("SQLite format 3\0 and more", 25)));
    const QString file = dir.File(QStringLiteral("file.db"));

    EXPECT_EQ(Updater(terminal.Port(), file, QStringLiteral("\\Application\\x.db")), UpdaterExit::kOk);
    EXPECT_EQ(ReadFileBytes(QDir(state).filePath(QStringLiteral("files/Application/x.db"))), ReadFileBytes(file));
    // The terminal refuses a path outside its files.
    EXPECT_EQ(Updater(terminal.Port(), file, QStringLiteral("\\..\\..\\outside.db")), UpdaterExit::kRefused);
    EXPECT_EQ(Updater(dir.File(QStringLiteral("no-such-port")), file, QStringLiteral("\\a.db")),
              UpdaterExit::kPortNotOpened);
    EXPECT_EQ(Updater(terminal.Port(), dir.File(QStringLiteral("missing.db")), QStringLiteral("\\a.db")),
              UpdaterExit::kFileUnreadable);
    int exitCode = -100;
    const QString updater = UpdaterProgramPath(kProgramFolder);
    ASSERT_EQ(RunProcess(updater, QStringLiteral("\"%1\" /p COM1").arg(updater), true, &exitCode), 0);
    EXPECT_EQ(exitCode, UpdaterExit::kBadArguments);

    // Copied into a folder without components.ini, it finds no component.
    const QString alone = dir.File(QStringLiteral("alone")) + QLatin1Char('/');
    ASSERT_TRUE(QDir().mkpath(alone));
    ASSERT_TRUE(QFile::copy(updater, UpdaterProgramPath(alone)));
    EXPECT_EQ(Updater(terminal.Port(), file, QStringLiteral("\\a.db"), UpdaterProgramPath(alone)),
              UpdaterExit::kComponentNotRegistered);
    // A registry entry whose library is not there: the component cannot be made.
    ASSERT_TRUE(WriteFileBytes(alone + QStringLiteral("components.ini"), "[KXC.ParlinkX2]\nlibrary=libnothing.so\n"));
    EXPECT_EQ(Updater(terminal.Port(), file, QStringLiteral("\\a.db"), UpdaterProgramPath(alone)),
              UpdaterExit::kComponentNotCreated);
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

}  // namespace
