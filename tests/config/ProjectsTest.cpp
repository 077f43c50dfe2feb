// Projects: create, open, the start-up load, save, save as, and that only a
// save ever touches the project file.

#include "tests/config/ConfigTestSupport.h"

#include "platform/Clock.h"
#include "platform/ProfileFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

using namespace SQLite3;

namespace {

QString Remembered(const CTestDir& dir) {
    return Profile::ReadString(dir.File("kxloader.ini"), "kxloader.exe", "config");
}

}  // namespace

using Projects = ConfigFixture;

TEST_F(Projects, EditsStayInTheWorkingCopyUntilSaved) {
    const QString id = AddType("Приемка");
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(ProjectValue(id, "listparams_operation", "oper_type"), "");
    ASSERT_TRUE(model.Save());
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(ProjectValue(id, "listparams_operation", "oper_type"), "Приемка");
}

TEST_F(Projects, CreateOverAnExistingFileAfterYesStartsAfresh) {
    AddType("Старая");
    ASSERT_TRUE(model.Save());
    SetProjectPath(projectPath);
    WriteFileBytes(dir.File("other.txt"), "x");

    prompt.QueueFileName(projectPath);
    prompt.QueueAnswer(AnswerYes);
    ASSERT_TRUE(model.CreateConfigFile());
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].text,
              "Конфигурация с таким именем в этой директории уже существует!\nВы уверены, что хотите продолжить и "
              "удалить данные того проекта?");
    EXPECT_EQ(prompt.Messages()[0].caption, "Внимание!");
    EXPECT_EQ(prompt.Messages()[0].buttons, PromptButtons::YesNo);
    ASSERT_EQ(prompt.FileRequests().size(), 1);
    EXPECT_EQ(prompt.FileRequests()[0].title, "Создание конфигурации...");

    CSQLiteConnection project;
    project.OpenConnection(projectPath);
    EXPECT_EQ(Scalar(project, "SELECT count(*) FROM SortOrderOperTypes"), "0");
    EXPECT_EQ(Scalar(project, "SELECT count(*) FROM ParamsValue"), QString::number(kSmallGlobalParams));
    EXPECT_EQ(Remembered(dir), projectPath);
    EXPECT_EQ(CurrentDirectoryFiles().projectPath, projectPath);
    EXPECT_TRUE(QFileInfo(dir.File("files")).isDir());
}

TEST_F(Projects, CreateOverAnExistingFileAfterNoChangesNothing) {
    AddType("Старая");
    ASSERT_TRUE(model.Save());
    prompt.QueueFileName(projectPath);
    prompt.QueueAnswer(AnswerNo);
    EXPECT_FALSE(model.CreateConfigFile());
    EXPECT_TRUE(model.IsConfigurationOpen());
    EXPECT_EQ(ProjectValue("1", "listparams_operation", "oper_type"), "Старая");
}

TEST_F(Projects, CreateThatCannotReplaceTheFileLeavesNoConfigurationOpen) {
    // A folder where the project file should go cannot be deleted as a file.
    const QString blocked = dir.File("blocked.kxc");
    QDir().mkpath(blocked + "/inside");
    prompt.QueueFileName(blocked);
    prompt.QueueAnswer(AnswerYes);
    EXPECT_FALSE(model.CreateConfigFile());
    EXPECT_FALSE(model.IsConfigurationOpen());
    EXPECT_TRUE(CurrentDirectoryFiles().projectPath.isEmpty());
    ASSERT_EQ(prompt.Messages().size(), 2);
    EXPECT_TRUE(IsMessage(prompt.Messages()[1],
                          "Не удалось создать файл конфигурации! Проверьте, возможно файл занят другим процессом.\n\n"
                          "Приложение будет закрыто!",
                          "Ошибка!", PromptIcon::Warning));
    EXPECT_TRUE(QFileInfo(blocked).isDir());
}

TEST_F(Projects, CancelledDialogsDoNothing) {
    EXPECT_FALSE(model.CreateConfigFile());
    EXPECT_FALSE(model.OpenConfigFile());
    EXPECT_TRUE(model.IsConfigurationOpen());
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(Projects, OpeningAVanishedFileKeepsTheCurrentConfiguration) {
    prompt.QueueFileName(dir.File("gone.kxc"));
    EXPECT_FALSE(model.OpenConfigFile());
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(IsMessage(prompt.Messages()[0], "Файл не найден!", "Ошибка!", PromptIcon::Error));
    EXPECT_TRUE(model.IsConfigurationOpen());
    EXPECT_EQ(model.ProjectPath(), projectPath);
}

TEST_F(Projects, OpenConfigFileSwitchesProjectsAndRemembersThePath) {
    CConfigModel other;
    ASSERT_TRUE(other.OpenTemplate(templatePath));
    const QString otherPath = dir.File("sub/other.kxc");
    QDir().mkpath(dir.File("sub"));
    ASSERT_TRUE(other.Create(otherPath));
    QString id;
    other.AddOperationType("Отгрузка", &id);
    ASSERT_TRUE(other.Save());
    other.Close();

    const QString oldWorking = model.WorkingPath();
    prompt.QueueFileName(otherPath);
    ASSERT_TRUE(model.OpenConfigFile());
    EXPECT_FALSE(QFileInfo::exists(oldWorking));  // the previous working copy is gone
    EXPECT_EQ(model.ProjectPath(), otherPath);
    EXPECT_EQ(CurrentDirectoryFiles().directories[Operations], dir.File("sub/files/other_opers.ux3"));
    EXPECT_TRUE(QFileInfo(dir.File("sub/files")).isDir());
    EXPECT_EQ(Remembered(dir), otherPath);
    QString name;
    EXPECT_TRUE(model.GetOperationTypeName(id, &name));
    EXPECT_EQ(name, "Отгрузка");
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(prompt.FileRequests()[0].title, "Открытие проекта...");
}

TEST_F(Projects, AFileThatIsNotAConfigurationIsRefusedInWordsAndTheOpenProjectStaysOpen) {
    AddType("Приемка");
    const QString working = model.WorkingPath();
    QDir().mkpath(dir.File("mail"));
    const QString junk = dir.File("mail/junk.kxc");
    WriteFileBytes(junk, QByteArray(4096, 'x'));
    prompt.QueueFileName(junk);
    EXPECT_FALSE(model.OpenConfigFile());
    EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка! Не удалось загрузить конфигурацию!\n" + junk +
                                           "\nФайл не является базой данных SQLite (поврежден или это другой файл)."}));
    EXPECT_EQ(prompt.Messages()[0].caption, "Конфигуратор прошивки");
    EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Error);
    EXPECT_EQ(ReadFileBytes(junk), QByteArray(4096, 'x'));
    // The project that was open is open as it was, unsaved change and all,
    // and nothing was created beside the file.
    EXPECT_TRUE(model.IsConfigurationOpen());
    EXPECT_EQ(model.ProjectPath(), projectPath);
    EXPECT_EQ(model.WorkingPath(), working);
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(Value("1", "listparams_operation", "oper_type"), "Приемка");
    EXPECT_EQ(CurrentDirectoryFiles().projectPath, projectPath);
    EXPECT_EQ(QDir(dir.File("mail")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"junk.kxc"}));

    // A database that is not a configuration, and a folder: the same, with their reason.
    const QString empty = dir.File("mail/empty.kxc");
    {
        CSQLiteConnection other;
        other.OpenConnection(empty);
        other.Exec("CREATE TABLE SortOrderOperTypes(n INTEGER, OperType VARCHAR)");
    }
    const QString folder = dir.File("mail/folder.kxc");
    QDir().mkpath(folder);
    for (const QString& path : {empty, folder}) {
        prompt.Clear();
        prompt.QueueFileName(path);
        EXPECT_FALSE(model.OpenConfigFile());
        EXPECT_EQ(model.ProjectPath(), projectPath);
        EXPECT_TRUE(model.IsModified());
    }
    EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка! Не удалось загрузить конфигурацию!\n" + folder +
                                           "\nЭто папка, а не файл проекта."}));
    EXPECT_EQ(model.OpenProblemText(), "это папка, а не файл проекта");
    prompt.Clear();
    prompt.QueueFileName(empty);
    EXPECT_FALSE(model.OpenConfigFile());
    EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка! Не удалось загрузить конфигурацию!\n" + empty +
                                           "\nФайл не является проектом KXConfig: в нем нет таблицы ParamsValue."}));
    EXPECT_FALSE(QFileInfo::exists(dir.File("mail/files")));
}

TEST_F(Projects, CloseDeletesTheWorkingFile) {
    const QString working = model.WorkingPath();
    EXPECT_TRUE(working.contains("kx_"));
    EXPECT_TRUE(QFileInfo::exists(working));
    model.Close();
    EXPECT_FALSE(QFileInfo::exists(working));
    EXPECT_FALSE(model.IsConfigurationOpen());
    EXPECT_TRUE(model.IsTemplateOpen());
}

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        previous = ProgramFolder();
        SetProgramFolder(dir.Path() + "/");
        SetProjectPath(QString());
    }
    void TearDown() override {
        SetProjectPath(QString());
        SetProgramFolder(previous);
    }
    CTestDir dir;
    CRecordingPrompt prompt;
    CScopedPrompt scope{prompt};
    QString previous;
};

TEST_F(StartUp, WithoutRememberedPathOnlyTheTemplateOpens) {
    WriteSmallTemplate(dir.File("KXConfigFMT.db"));
    CConfigModel model;
    int closeResult = -1;
    EXPECT_FALSE(model.LoadConfigFileFMT(&closeResult));
    EXPECT_EQ(closeResult, 0);
    EXPECT_TRUE(model.IsTemplateOpen());
    EXPECT_EQ(model.TemplatePath(), dir.File("KXConfigFMT.db"));
    EXPECT_FALSE(model.IsConfigurationOpen());
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(StartUp, AMissingTemplateClosesTheMainWindowWithResult2) {
    CConfigModel model;
    int closeResult = -1;
    EXPECT_FALSE(model.LoadConfigFileFMT(&closeResult));
    EXPECT_EQ(closeResult, 2);
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(IsMessage(prompt.Messages()[0],
                          "Не найден необходимый файл KXConfigFMT.db!\nБудет произведен выход из приложения!",
                          "Ошибка!", PromptIcon::Error));
}

TEST_F(StartUp, TheRememberedProjectOpens) {
    WriteSmallTemplate(dir.File("KXConfigFMT.db"));
    const QString path = dir.File("shop.kxc");
    {
        CConfigModel maker;
        ASSERT_TRUE(maker.OpenTemplate(dir.File("KXConfigFMT.db")));
        ASSERT_TRUE(maker.Create(path));
    }
    Profile::WriteString(dir.File("kxloader.ini"), "kxloader.exe", "config", path);
    CConfigModel model;
    int closeResult = -1;
    EXPECT_TRUE(model.LoadConfigFileFMT(&closeResult));
    EXPECT_EQ(closeResult, 0);
    EXPECT_TRUE(model.IsConfigurationOpen());
    EXPECT_EQ(CurrentDirectoryFiles().projectPath, path);
    EXPECT_TRUE(QFileInfo(dir.File("files")).isDir());
}

TEST_F(StartUp, ARememberedProjectThatVanishedIsReportedWithItsPath) {
    WriteSmallTemplate(dir.File("KXConfigFMT.db"));
    const QString path = dir.File("usb/gone.kxc");  // the whole folder is gone
    Profile::WriteString(dir.File("kxloader.ini"), "kxloader.exe", "config", path);
    CConfigModel model;
    int closeResult = -1;
    EXPECT_FALSE(model.LoadConfigFileFMT(&closeResult));
    EXPECT_EQ(closeResult, 0);
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].text, "Ошибка! Не удалось загрузить конфигурацию!\nФайл не найден: " + path);
    EXPECT_EQ(prompt.Messages()[0].caption, "Конфигуратор прошивки");
    EXPECT_FALSE(model.IsConfigurationOpen());
    EXPECT_TRUE(CurrentDirectoryFiles().projectPath.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.File("usb")));
}

TEST_F(StartUp, AProjectThatIsThereButCannotBeOpenedIsNeverReportedAsNotFound) {
    WriteSmallTemplate(dir.File("KXConfigFMT.db"));
    // Not a database at all, a project cut short after its first page, and a
    // database of another program.
    QDir().mkpath(dir.File("projects"));
    const QString junk = dir.File("projects/junk.kxc");
    ASSERT_TRUE(WriteFileBytes(junk, QByteArray(4096, 'x')));
    const QString cut = dir.File("projects/cut.kxc");
    {
        CConfigModel maker;
        ASSERT_TRUE(maker.OpenTemplate(dir.File("KXConfigFMT.db")));
        ASSERT_TRUE(maker.Create(cut));
        for (int i = 0; i < 200; ++i) maker.SetChoiceName(1, QString(100, QChar(0x0410 + i % 32)));
        QString id;
        for (int i = 0; i < 20; ++i) maker.AddOperationType(QString("Тип %1").arg(i), &id);
        ASSERT_TRUE(maker.Save());
    }
    QFile file(cut);
    ASSERT_TRUE(file.resize(4096));
    const QString foreign = dir.File("projects/foreign.kxc");
    {
        CSQLiteConnection other;
        other.OpenConnection(foreign);
        other.Exec("CREATE TABLE ParamsValue(a, b)");
    }
    const QList<QPair<QString, QString>> cases = {
        {junk, "Файл не является базой данных SQLite (поврежден или это другой файл)."},
        {cut, "Файл поврежден (database disk image is malformed)."},
        {foreign, "Файл не является проектом KXConfig: в таблице ParamsValue нет столбца OperTypeID."},
    };
    for (const auto& [path, reason] : cases) {
        prompt.Clear();
        const QByteArray bytes = ReadFileBytes(path);
        Profile::WriteString(dir.File("kxloader.ini"), "kxloader.exe", "config", path);
        CConfigModel model;
        int closeResult = -1;
        EXPECT_FALSE(model.LoadConfigFileFMT(&closeResult));
        EXPECT_EQ(closeResult, 0) << path.toStdString();  // the main window stays open
        EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка! Не удалось загрузить конфигурацию!\n" + path + "\n" + reason}));
        ASSERT_EQ(prompt.Messages().size(), 1);
        EXPECT_EQ(prompt.Messages()[0].caption, "Конфигуратор прошивки");
        EXPECT_EQ(prompt.Messages()[0].icon, PromptIcon::Error);
        EXPECT_TRUE(model.IsTemplateOpen());
        EXPECT_FALSE(model.IsConfigurationOpen());
        EXPECT_TRUE(CurrentDirectoryFiles().projectPath.isEmpty());
        EXPECT_EQ(ReadFileBytes(path), bytes);
    }
    // Nothing was created beside the files that did not open.
    EXPECT_EQ(QDir(dir.File("projects")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({"cut.kxc", "foreign.kxc", "junk.kxc"}));
}

TEST_F(StartUp, AProjectLockedLongerThanTheBusyTimeOutIsReportedAsBusyAndCreatesNothing) {
    WriteSmallTemplate(dir.File("KXConfigFMT.db"));
    QDir().mkpath(dir.File("shared"));
    const QString path = dir.File("shared/shop.kxc");
    {
        CConfigModel maker;
        ASSERT_TRUE(maker.OpenTemplate(dir.File("KXConfigFMT.db")));
        ASSERT_TRUE(maker.Create(path));
    }
    const QByteArray bytes = ReadFileBytes(path);
    Profile::WriteString(dir.File("kxloader.ini"), "kxloader.exe", "config", path);
    CSQLiteConnection other;  // another program in the middle of a long write
    other.OpenConnection(path);
    other.Exec("BEGIN EXCLUSIVE");
    other.Exec("UPDATE ChoiceNames SET point_name = 'x'");

    CConfigModel model;
    EXPECT_FALSE(model.LoadConfigFileFMT());
    EXPECT_EQ(model.OpenProblem(), ProjectProblem::Busy);
    EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка! Не удалось загрузить конфигурацию!\n" + path +
                                           "\nФайл занят другой программой и не освободился за 3 с."}));
    EXPECT_FALSE(QFileInfo::exists(dir.File("shared/files")));
    other.Exec("ROLLBACK");
    EXPECT_EQ(ReadFileBytes(path), bytes);

    // Free again: the same file opens.
    prompt.Clear();
    CConfigModel again;
    EXPECT_TRUE(again.LoadConfigFileFMT());
    EXPECT_TRUE(prompt.Messages().isEmpty());
    EXPECT_TRUE(QFileInfo(dir.File("shared/files")).isDir());
}

TEST_F(Projects, SaveAsCopiesTheEightFilesAndCreatesTheFilesFolder) {
    const DirectoryFiles old = CurrentDirectoryFiles();
    QStringList oldFiles{old.journalFile};
    for (const QString& f : old.directories) oldFiles << f;
    for (int i = 0; i < oldFiles.size(); ++i)
        if (i != 3) WriteFileBytes(oldFiles[i], "line " + QByteArray::number(i) + "\r\n");  // one missing
    WriteFileBytes(old.infoFile, "info");
    AddType("Приемка");

    const QString target = dir.File("copy/new.kxc");
    QDir().mkpath(dir.File("copy"));
    prompt.QueueFileName(target);
    QString title;
    ASSERT_TRUE(model.OnSaveAsProject(&title));
    EXPECT_EQ(title, target + " - KXConfig конфигуратор");
    EXPECT_EQ(prompt.FileRequests()[0].title, "Сохранение конфигурации...");
    EXPECT_EQ(model.ProjectPath(), target);
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(Remembered(dir), target);

    const DirectoryFiles now = CurrentDirectoryFiles();
    EXPECT_EQ(now.filesFolder, dir.File("copy/files/"));
    EXPECT_TRUE(QFileInfo(now.filesFolder).isDir());
    QStringList newFiles{now.journalFile};
    for (const QString& f : now.directories) newFiles << f;
    EXPECT_EQ(newFiles[1], dir.File("copy/files/new_opers.ux3"));
    for (int i = 0; i < newFiles.size(); ++i) {
        if (i == 3)
            EXPECT_FALSE(QFileInfo::exists(newFiles[i]));
        else
            EXPECT_EQ(ReadFileBytes(newFiles[i]), "line " + QByteArray::number(i) + "\r\n") << newFiles[i].toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(now.infoFile));  // the info table belongs to the terminal, not the project
    // The new file holds the configuration; the old one was never saved.
    CSQLiteConnection saved;
    saved.OpenConnection(target);
    EXPECT_EQ(Scalar(saved, "SELECT value FROM ParamsValue WHERE param_id = 'oper_type'"), "Приемка");
    EXPECT_EQ(ProjectValue("1", "listparams_operation", "oper_type"), "");
    // Later saves go to the new file.
    model.SetChoiceName(1, "Новое имя");
    ASSERT_TRUE(model.Save());
    EXPECT_EQ(Scalar(saved, "SELECT point_name FROM ChoiceNames WHERE point_id = '1'"), "Новое имя");
}

TEST_F(Projects, SaveAsUnderTheSameNameKeepsTheDirectoryFiles) {
    const QString ops = CurrentDirectoryFiles().directories[Operations];
    WriteFileBytes(ops, "1;1;Приемка;1;;\r\n");
    prompt.QueueFileName(projectPath);
    prompt.QueueAnswer(AnswerYes);
    ASSERT_TRUE(model.OnSaveAsProject());
    EXPECT_EQ(ReadFileBytes(ops), "1;1;Приемка;1;;\r\n");
}

TEST_F(Projects, SaveAndSaveAsWithoutAConfigurationAreRefused) {
    model.Close();
    EXPECT_FALSE(model.SaveConfiguration());
    EXPECT_FALSE(model.OnSaveAsProject());
    ASSERT_EQ(prompt.Messages().size(), 2);
    EXPECT_TRUE(IsMessage(prompt.Messages()[0], "Не открыта конфигурация!", "Ошибка!", PromptIcon::Warning));
    EXPECT_TRUE(prompt.FileRequests().isEmpty());
}

// ------------------------------------------------------------ failed saves

TEST_F(Projects, ASaveThatFailsHalfwayLeavesTheProjectFileAsItWas) {
    const QString id = AddType("Приемка");
    ASSERT_TRUE(model.Save());
    const QByteArray before = ReadFileBytes(projectPath);

    model.SetChoiceName(1, "Изменено");
    QString newId;
    model.AddOperationType("Отгрузка", &newId);
    {
        // Another program put a view where the menu table was: the copy gets as
        // far as that table and fails there.
        CSQLiteConnection other;
        other.OpenConnection(projectPath);
        other.Exec("DROP TABLE m_mainmenu");
        other.Exec("CREATE VIEW m_mainmenu AS SELECT 1 AS id");
    }
    const QByteArray broken = ReadFileBytes(projectPath);
    // That is a change by another program: a plain save stops before writing,
    // and the user's "replace it" gets as far as the view.
    EXPECT_EQ(model.SaveProject(SaveMode::KeepOtherSaves), SaveResult::ChangedByOther);
    EXPECT_TRUE(prompt.Messages().isEmpty());
    EXPECT_EQ(model.SaveProject(SaveMode::ReplaceOtherSaves), SaveResult::Failed);
    EXPECT_TRUE(model.IsModified());
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].caption, "Error SQLite.[]");
    EXPECT_EQ(ReadFileBytes(projectPath), broken);
    EXPECT_EQ(ProjectValue(newId, "listparams_operation", "oper_type"), "");
    EXPECT_EQ(ProjectValue(id, "listparams_operation", "oper_type"), "Приемка");
    EXPECT_NE(before, QByteArray());
}

TEST_F(Projects, ASaveIntoALockedProjectFileFailsAndChangesNothing) {
    AddType("Приемка");
    ASSERT_TRUE(model.Save());
    const QByteArray before = ReadFileBytes(projectPath);
    AddType("Отгрузка");

    CSQLiteConnection other;
    other.OpenConnection(projectPath);
    other.Exec("BEGIN EXCLUSIVE");  // another program holds the file
    EXPECT_FALSE(model.SaveConfiguration());
    EXPECT_TRUE(model.IsModified());
    EXPECT_EQ(prompt.Messages().size(), 1);
    other.Exec("ROLLBACK");
    EXPECT_EQ(ReadFileBytes(projectPath), before);

    // Once the file is free again the same save goes through.
    prompt.Clear();
    EXPECT_TRUE(model.SaveConfiguration());
    EXPECT_EQ(ProjectValue("2", "listparams_operation", "oper_type"), "Отгрузка");
}

TEST_F(Projects, ASaveAsThatFailsStaysWithThePreviousProjectFile) {
    AddType("Приемка");
    const QString target = dir.File("locked.kxc");
    CSQLiteConnection other;
    other.OpenConnection(target);
    other.Exec("CREATE TABLE x(a)");
    other.Exec("BEGIN EXCLUSIVE");
    const QString before = CurrentDirectoryFiles().projectPath;

    prompt.QueueFileName(target);
    prompt.QueueAnswer(AnswerYes);
    EXPECT_FALSE(model.OnSaveAsProject());
    other.Exec("ROLLBACK");
    EXPECT_EQ(model.ProjectPath(), projectPath);
    EXPECT_EQ(CurrentDirectoryFiles().projectPath, before);
    EXPECT_NE(Remembered(dir), target);
    EXPECT_TRUE(model.IsModified());
    ASSERT_TRUE(model.Save());
    EXPECT_EQ(ProjectValue("1", "listparams_operation", "oper_type"), "Приемка");
    EXPECT_EQ(Scalar(other, "SELECT count(*) FROM sqlite_master WHERE name = 'ParamsValue'"), "0");
}

// ------------------------------------------- a project file that went away

TEST_F(Projects, ASaveAfterTheProjectFileWentAwayOffersSaveAs) {
    const QString id = AddType("Приемка");
    const QString question = "\n" + projectPath + "\n\nСохранить конфигурацию в другой файл (\"Сохранить как\")?";

    // Renamed by another program: the renamed file is left as it was.
    const QString renamed = dir.File("renamed.kxc");
    ASSERT_TRUE(QFile::rename(projectPath, renamed));
    const QByteArray renamedBytes = ReadFileBytes(renamed);
    prompt.QueueAnswer(AnswerNo);
    QString title;
    EXPECT_FALSE(model.SaveConfiguration(&title));
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(IsMessage(prompt.Messages()[0],
                          "Файл конфигурации не найден: он удален, переименован или перемещен другой программой." +
                              question,
                          "Внимание!", PromptIcon::Warning));
    EXPECT_EQ(prompt.Messages()[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(ReadFileBytes(renamed), renamedBytes);
    EXPECT_FALSE(QFileInfo::exists(projectPath));
    EXPECT_TRUE(model.IsModified());
    EXPECT_TRUE(title.isEmpty());

    // Another file put in its place: not written over without asking.
    ASSERT_TRUE(QFile::copy(renamed, projectPath));
    const QByteArray replacement = ReadFileBytes(projectPath);
    prompt.Clear();
    prompt.QueueAnswer(AnswerNo);
    EXPECT_FALSE(model.SaveConfiguration(&title));
    EXPECT_EQ(prompt.Texts(), QStringList({"Файл конфигурации заменен другим файлом." + question}));
    EXPECT_EQ(ReadFileBytes(projectPath), replacement);
    EXPECT_TRUE(model.IsModified());

    // Deleted: "Сохранить как" under a new name makes that file the project.
    ASSERT_TRUE(QFile::remove(projectPath));
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    const QString moved = dir.File("moved.kxc");
    prompt.QueueFileName(moved);
    EXPECT_TRUE(model.SaveConfiguration(&title));
    ASSERT_EQ(prompt.FileRequests().size(), 1);
    EXPECT_EQ(prompt.FileRequests()[0].title, "Сохранение конфигурации...");
    EXPECT_EQ(prompt.FileRequests()[0].initialName, projectPath);
    EXPECT_EQ(title, moved + " - KXConfig конфигуратор");
    EXPECT_EQ(model.ProjectPath(), moved);
    EXPECT_EQ(Remembered(dir), moved);
    EXPECT_FALSE(model.IsModified());
    CSQLiteConnection saved;
    saved.OpenConnection(moved);
    EXPECT_EQ(Scalar(saved, "SELECT value FROM ParamsValue WHERE OperTypeID = '" + id + "' AND param_id = 'oper_type'"),
              "Приемка");

    // The new file is the project now: the next save goes there without a word.
    prompt.Clear();
    model.SetChoiceName(1, "Приход");
    EXPECT_TRUE(model.SaveConfiguration(&title));
    EXPECT_TRUE(prompt.Messages().isEmpty());
    EXPECT_EQ(Scalar(saved, "SELECT point_name FROM ChoiceNames WHERE point_id = '1'"), "Приход");
}

// ------------------------------------------------- a project sent by anyone

namespace {

// About 216 KB of a project as someone could send it: a real configuration,
// plus a table of its own whose rows are words, and expressions of its own
// that run for every row written: a CHECK on that table that takes
// milliseconds a row, and a CHECK on ParamsValue that fails whenever it runs.
// The expressions are put into the schema after the rows, as such a file is
// made, so making it costs nothing.
void MakeHostileProject(const QString& path, const QString& templatePath) {
    {
        CConfigModel maker;
        ASSERT_TRUE(maker.OpenTemplate(templatePath));
        ASSERT_TRUE(maker.Create(path));
        QString id;
        ASSERT_TRUE(maker.AddOperationType("Приемка", &id));
        ASSERT_TRUE(maker.Save());
    }
    const QStringList words = {"склад", "приемка", "товар", "ячейка", "партия", "накладная", "остаток", "поставщик"};
    CSQLiteConnection db;
    db.OpenConnection(path);
    db.Exec("BEGIN");
    db.Exec("CREATE TABLE notes(line TEXT)");
    CSQLiteStatement insert(db, "INSERT INTO notes VALUES(?)");
    for (int i = 0; i < 1700; ++i) {
        QStringList line;
        for (int w = 0; w < 7; ++w) line << words[(i * 7 + w * 3) % words.size()];
        insert.BindText(1, line.join(' '));
        insert.StepAll();
    }
    db.Exec("COMMIT");
    db.Exec("PRAGMA writable_schema = ON");
    db.Exec("UPDATE sqlite_master SET sql = 'CREATE TABLE notes(line TEXT CHECK (length(hex(zeroblob(4000000))) > "
            "length(line)))' WHERE name = 'notes'");
    db.Exec("UPDATE sqlite_master SET sql = 'CREATE TABLE ParamsValue(OperTypeID INTEGER, place_id VARCHAR, "
            "param_id VARCHAR, value VARCHAR CHECK (abs(-9223372036854775807 - 1) > 0))' WHERE name = 'ParamsValue'");
    db.Exec("PRAGMA writable_schema = OFF");
}

// Time that runs a second every time anyone looks at it.
class CRunningClock : public IClock {
public:
    std::int64_t NowMs() override { return m_now += 1000; }
    void SleepMs(int ms) override { m_now += ms; }

private:
    std::int64_t m_now = 0;
};

}  // namespace

TEST_F(Projects, AHostileProjectRunsNoneOfItsOwnExpressionsAndOpensAtOnce) {
    const QString hostile = dir.File("hostile.kxc");
    MakeHostileProject(hostile, templatePath);
    EXPECT_GT(QFileInfo(hostile).size(), 200 * 1024);
    const QByteArray bytes = ReadFileBytes(hostile);

    QElapsedTimer clock;
    clock.start();
    prompt.QueueFileName(hostile);
    ASSERT_TRUE(model.OpenConfigFile()) << prompt.Texts().join('\n').toStdString();
    // Running the CHECK for every row of its own table took half a minute.
    EXPECT_LT(clock.elapsed(), CConfigModel::kOpenTimeLimitMs);
    EXPECT_TRUE(prompt.Messages().isEmpty()) << prompt.Texts().join('\n').toStdString();
    QString name;
    EXPECT_TRUE(model.GetOperationTypeName("1", &name));
    EXPECT_EQ(name, "Приемка");
    // The working copy holds the project tables in the program's own form, nothing else.
    EXPECT_EQ(Rows(model.Working(), "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
              QStringList({"ChoiceNames", "ParamsValue", "SortOrderOperTypes", "m_mainmenu"}));
    EXPECT_FALSE(Scalar(model.Working(), "SELECT sql FROM sqlite_master WHERE name = 'ParamsValue'").contains("CHECK"));
    EXPECT_EQ(ReadFileBytes(hostile), bytes);

    // Saving writes the project tables in that form; the file's own table stays as it was.
    model.SetChoiceName(1, "Приход");
    ASSERT_TRUE(model.Save());
    CSQLiteConnection saved;
    saved.OpenConnection(hostile);
    EXPECT_EQ(Scalar(saved, "SELECT point_name FROM ChoiceNames WHERE point_id = '1'"), "Приход");
    EXPECT_EQ(Scalar(saved, "SELECT count(*) FROM notes"), "1700");
    EXPECT_FALSE(Scalar(saved, "SELECT sql FROM sqlite_master WHERE name = 'ParamsValue'").contains("CHECK"));
}

TEST_F(Projects, AProjectThatCannotBeReadWithinTheTimeLimitIsRefusedWithTheReason) {
    const QString big = dir.File("big.kxc");
    {
        CConfigModel maker;
        ASSERT_TRUE(maker.OpenTemplate(templatePath));
        ASSERT_TRUE(maker.Create(big));
    }
    {
        CSQLiteConnection db;
        db.OpenConnection(big);
        db.Exec("BEGIN");
        CSQLiteStatement insert(db, "INSERT INTO ParamsValue VALUES('1', 'listparams_x', ?, 'value')");
        for (int i = 0; i < 5000; ++i) {
            insert.BindText(1, QString("p_%1").arg(i));
            insert.StepAll();
        }
        db.Exec("COMMIT");
    }
    // The same file opens when time runs as usual ...
    CConfigModel reader;
    ASSERT_TRUE(reader.OpenTemplate(templatePath));
    ASSERT_TRUE(reader.Open(big));
    reader.Close();

    // ... and is refused when reading it takes longer than the limit.
    CRunningClock running;
    CScopedClock scope(running);
    prompt.QueueFileName(big);
    EXPECT_FALSE(model.OpenConfigFile());
    EXPECT_EQ(model.OpenProblem(), ProjectProblem::TooSlow);
    EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка! Не удалось загрузить конфигурацию!\n" + big +
                                           "\nФайл не удалось прочитать за 5 с: он слишком велик или поврежден."}));
    EXPECT_EQ(model.ProjectPath(), projectPath);
    EXPECT_TRUE(model.IsConfigurationOpen());
}
