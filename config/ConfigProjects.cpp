// Projects: the template, the project file and its working copy, and the
// user-level create / open / start-up load / save / save-as.

#include "config/ConfigInternal.h"
#include "config/ConfigModel.h"
#include "config/ProjectTables.h"
#include "directories/DirectoryFiles.h"
#include "platform/Clock.h"
#include "platform/InstallLayout.h"
#include "platform/ProfileFile.h"
#include "platform/Prompt.h"
#include "filesafety/TempFiles.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace SQLite3;
using namespace ConfigInternal;

namespace {

const QString kCaptionError = QStringLiteral("Ошибка!");
const QString kCaptionLoader = QStringLiteral("Конфигуратор прошивки");
const QString kNotOpen = QStringLiteral("Не открыта конфигурация!");

FileDialogRequest ProjectDialog(const QString& title) {
    FileDialogRequest request;
    request.title = title;
    request.filter = QStringLiteral("Конфигурация (*.kxc)| *.kxc|");
    request.defaultExt = QStringLiteral("kxc");  // the prompt interface takes it without "*."
    // The program asks its own question about an existing file.
    request.overwritePrompt = false;
    return request;
}

// The folder of the project's reference directories, beside the project file.
// One spelling, "files", everywhere: the file system may tell case apart.
// Only beside an existing folder: a remembered project on a vanished drive
// must not bring its folders back to life.
void CreateProjectFolder(const QString& projectPath) {
    const QDir folder = QFileInfo(projectPath).absoluteDir();
    if (folder.exists()) folder.mkdir(QStringLiteral("files"));
}

bool AskOverwrite() {
    return Prompt().Message(
               QStringLiteral("Конфигурация с таким именем в этой директории уже существует!\nВы уверены, "
                              "что хотите продолжить и удалить данные того проекта?"),
               QStringLiteral("Внимание!"), PromptIcon::Warning, PromptButtons::YesNo) == AnswerYes;
}

// Before "Сохранить как" writes into an existing file: what it replaces
// there and what it leaves. Saving as another project replaces the project
// tables of the file and the directory files this project has, nothing more.
bool AskReplaceOnSaveAs(const QString& path, bool savedByOther) {
    QString text = QStringLiteral("Файл конфигурации уже существует:\n%1\n\n").arg(QDir::toNativeSeparators(path));
    if (savedByOther)
        text += QStringLiteral("Это файл, который другая программа изменила после того, как он был открыт или сохранен "
                               "здесь: ее изменения будут потеряны.\n\n");
    text += QStringLiteral("Заменить его этой конфигурацией? В файле будут заменены параметры, типы операций и меню "
                           "терминала. Справочники и журнал этой конфигурации будут скопированы в папку files рядом с "
                           "ним поверх файлов с теми же именами; остальные файлы этой папки останутся.");
    return Prompt().Message(text, QStringLiteral("Внимание!"), PromptIcon::Warning, PromptButtons::YesNoDefaultNo) ==
           AnswerYes;
}

// "<name> (2).kxc" beside `path`, or the next number that is free.
QString FreeProjectName(const QString& path) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath() + QLatin1Char('/');
    const QString base = info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    for (int n = 2; n < 10000; ++n) {
        const QString candidate = folder + QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix);
        if (!QFileInfo::exists(candidate)) return candidate;
    }
    return QString();
}

bool SameFile(const QString& a, const QString& b) {
    const QFileInfo fa(a), fb(b);
    const QString ca = fa.canonicalFilePath(), cb = fb.canonicalFilePath();
    return !ca.isEmpty() && ca == cb;
}

}  // namespace

bool CConfigModel::IsConfigurationOpen() const { return m_working.IsOpen() && !m_projectPath.isEmpty(); }

QString CConfigModel::TemplateLocation() const {
    return m_templateLocation.isEmpty() ? TemplateFile() : m_templateLocation;
}

bool CConfigModel::RequireConfiguration() {
    if (IsConfigurationOpen()) return true;
    Prompt().Warning(kNotOpen, kCaptionError);
    return false;
}

void CConfigModel::RememberProject(const QString& path) {
    Profile::WriteString(LoaderSettingsFile(), QStringLiteral("kxloader.exe"),
                         QStringLiteral("config"), path);
}

void CConfigModel::ForgetProject() {
    m_projectPath.clear();
    SetProjectPath(QString());
}

void CConfigModel::AdoptProject(const QString& path) {
    CreateProjectFolder(path);
    SetProjectPath(path);
    RememberProject(path);
}

void CConfigModel::AbandonProject(const CSQLiteException& failure, const QString& step) {
    failure.Show(step);
    Close();
    ForgetProject();
}

void CConfigModel::OpenWorking() {
    m_working.OpenConnection(m_workingPath);
    m_working.SetSynchronous(0);
    // The working copy is this process's own temporary file: no other program
    // reads it, and a crash loses it whatever its journal. So it keeps its lock
    // for the whole session and its rollback journal in memory, instead of
    // taking a file lock and writing a journal file for every statement.
    m_working.Exec(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE"));
    Query(m_working, QStringLiteral("PRAGMA journal_mode = MEMORY"));
}

bool CConfigModel::OpenTemplate(const QString& path) {
    if (!QFileInfo(path).isFile()) return false;
    if (m_template.IsOpen()) m_template.CloseConnection();
    m_templatePath = path;
    m_template.OpenConnection(path);
    m_template.SetSynchronous(0);
    return true;
}

bool CConfigModel::Create(const QString& path) {
    Close();
    m_projectPath = path;
    if (QFileInfo::exists(path) && !QFile::remove(path)) {
        m_projectPath.clear();
        return false;
    }
    m_workingPath = CreateKxTempFile();
    if (m_workingPath.isEmpty()) {
        m_projectPath.clear();
        return false;
    }
    OpenWorking();
    if (!CreateSchema()) {
        Close();
        return false;
    }
    m_project.OpenConnection(path);
    m_project.SetSynchronous(0);
    if (SaveProject(SaveMode::ReplaceOtherSaves) != SaveResult::Saved) {
        // The error has been shown; a project that was never written is not open.
        Close();
        QFile::remove(path);
        return false;
    }
    return true;
}

bool CConfigModel::Refuse(ProjectProblem problem, const QString& detail) {
    m_openProblem = problem;
    m_openProblemDetail = detail;
    return false;
}

namespace {

ProjectProblem ProblemOf(const CSQLiteException& e) {
    if (e.ErrorCode() == ProjectTables::kNotAProject) return ProjectProblem::NotProject;
    switch (e.ErrorCode() & 0xff) {
    case SQLITE_NOTADB: return ProjectProblem::NotDatabase;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ProjectProblem::Busy;
    case SQLITE_INTERRUPT: return ProjectProblem::TooSlow;
    case SQLITE_CORRUPT: return ProjectProblem::Damaged;
    case SQLITE_PERM:
    case SQLITE_AUTH: return ProjectProblem::Unreadable;
    default: return ProjectProblem::Failed;
    }
}

// Reads the project tables of the file at `path`. The file is held in one
// read transaction, so a save another program commits meanwhile is read whole
// or not at all; a statement still running at `deadline` stops.
ProjectTables::CProjectData ReadProjectFile(const QString& path, std::int64_t deadline) {
    CSQLiteConnection project;
    project.OpenConnection(path);
    project.SetSynchronous(0);
    project.DistrustSchema();
    CStatementDeadline limit(project, deadline);
    // Nothing is written: the transaction ends by rollback, which only gives
    // up the read lock.
    CSQLiteTransaction snapshot(project);
    return ProjectTables::Read(project);
}

// Writes what was read into the new working file at `workingPath`.
void WriteWorkingFile(const QString& workingPath, const ProjectTables::CProjectData& data, std::int64_t deadline) {
    CSQLiteConnection working;
    working.OpenConnection(workingPath);
    working.SetSynchronous(0);
    // A copy that fails is thrown away whole: it needs no journal.
    working.Exec(QStringLiteral("PRAGMA journal_mode = OFF"));
    CStatementDeadline limit(working, deadline);
    CSQLiteTransaction write(working);
    ProjectTables::Write(data, working);
    write.Commit();
}

}  // namespace

bool CConfigModel::Open(const QString& path) {
    m_openProblem = ProjectProblem::None;
    m_openProblemDetail.clear();
    const QFileInfo info(path);
    if (!info.exists()) return Refuse(ProjectProblem::Missing);
    if (info.isDir()) return Refuse(ProjectProblem::Folder);
    if (!info.isReadable()) return Refuse(ProjectProblem::Unreadable);
    // The file is read whole before anything is made: a file that does not
    // open leaves no trace, not even in the temporary folder.
    const std::int64_t deadline = Clock().NowMs() + kOpenTimeLimitMs;
    ProjectTables::CProjectData data;
    try {
        data = ReadProjectFile(path, deadline);
    } catch (const CSQLiteException& e) {
        return Refuse(ProblemOf(e), e.Message());
    }
    const QString staged = CreateKxTempFile();
    if (staged.isEmpty()) {
        // A folder that is not the user's own is the reason worth naming.
        QString problem;
        return Refuse(ProjectProblem::WorkingCopy, PrepareKxTempFolder(KxTempFolderPath(), &problem)
                                                       ? QStringLiteral("файл не создается")
                                                       : problem);
    }
    try {
        WriteWorkingFile(staged, data, deadline);
    } catch (const CSQLiteException& e) {
        RemoveFileQuietly(staged);
        const ProjectProblem problem = ProblemOf(e);
        return Refuse(problem == ProjectProblem::TooSlow ? problem : ProjectProblem::WorkingCopy, e.Message());
    }
    // Only a file that has been read whole replaces the project that was open.
    Close();
    m_projectPath = path;
    m_workingPath = staged;
    try {
        OpenWorking();
        m_project.OpenConnection(path);
        m_project.SetSynchronous(0);
        m_project.DistrustSchema();
    } catch (const CSQLiteException& e) {
        Close();
        return Refuse(ProblemOf(e), e.Message());
    }
    CreateWorkingIndex();
    m_savedDigest = data.digest;
    m_modified = false;
    return true;
}

QString CConfigModel::OpenProblemText() const {
    const QString detail = m_openProblemDetail;
    switch (m_openProblem) {
    case ProjectProblem::None: return QString();
    case ProjectProblem::Missing: return QStringLiteral("файл не найден");
    case ProjectProblem::Folder: return QStringLiteral("это папка, а не файл проекта");
    case ProjectProblem::Unreadable:
        return detail.isEmpty() ? QStringLiteral("нет прав на чтение файла")
                                : QStringLiteral("нет доступа к файлу (%1)").arg(detail);
    case ProjectProblem::NotDatabase:
        return QStringLiteral("файл не является базой данных SQLite (поврежден или это другой файл)");
    case ProjectProblem::NotProject: return QStringLiteral("файл не является проектом KXConfig: %1").arg(detail);
    case ProjectProblem::Busy:
        return QStringLiteral("файл занят другой программой и не освободился за %1 с").arg(kBusyTimeoutMs / 1000);
    case ProjectProblem::TooSlow:
        return QStringLiteral("файл не удалось прочитать за %1 с: он слишком велик или поврежден")
            .arg(kOpenTimeLimitMs / 1000);
    case ProjectProblem::Damaged: return QStringLiteral("файл поврежден (%1)").arg(detail);
    case ProjectProblem::Failed: return QStringLiteral("ошибка чтения файла (%1)").arg(detail);
    case ProjectProblem::WorkingCopy:
        return QStringLiteral("не удалось создать рабочую копию в папке %1 (%2)")
            .arg(QDir::toNativeSeparators(KxTempFolderPath()), detail);
    }
    return QString();
}

QString CConfigModel::OpenFailureMessage(const QString& path) const {
    const QString head = QStringLiteral("Ошибка! Не удалось загрузить конфигурацию!\n");
    if (m_openProblem == ProjectProblem::Missing) return head + QStringLiteral("Файл не найден: %1").arg(path);
    const QString reason = OpenProblemText();
    return head + path + QLatin1Char('\n') + reason.left(1).toUpper() + reason.mid(1) + QLatin1Char('.');
}

ProjectFileState CConfigModel::CheckProjectFile() {
    if (!IsConfigurationOpen() || (m_project.IsOpen() && !m_project.HasFileMoved())) return ProjectFileState::InPlace;
    return QFileInfo::exists(m_projectPath) ? ProjectFileState::Replaced : ProjectFileState::Missing;
}

SaveResult CConfigModel::SaveProject(SaveMode mode) {
    try {
        // The write lock first: from here no other program can save until
        // this save has committed or rolled back, so what is compared below
        // is what is written over.
        CSQLiteTransaction save(m_project, CSQLiteTransaction::Lock::Immediate);
        if (mode == SaveMode::KeepOtherSaves) {
            QByteArray now;
            try {
                now = ProjectTables::Read(m_project).digest;
            } catch (const CSQLiteException& e) {
                // A file that no longer holds the project tables has
                // been written by someone else too.
                if (e.ErrorCode() != ProjectTables::kNotAProject) throw;
            }
            if (now != m_savedDigest) return SaveResult::ChangedByOther;
        }
        const ProjectTables::CProjectData written = ProjectTables::Read(m_working);
        ProjectTables::Write(written, m_project);
        // What the file holds now, the mark of this save: the tables just
        // written read back exactly as they were read here (same table
        // definitions on both sides); read from the file only when it
        // keeps a table of its own that the working copy lacks.
        const QByteArray saved =
            written.present.contains(false) ? ProjectTables::Read(m_project).digest : written.digest;
        save.Commit();
        m_savedDigest = saved;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return SaveResult::Failed;
    }
    m_modified = false;
    return SaveResult::Saved;
}

bool CConfigModel::Save() { return SaveProject(SaveMode::KeepOtherSaves) == SaveResult::Saved; }

bool CConfigModel::SaveAs(const QString& path) {
    const QString previous = m_projectPath;
    const QByteArray previousDigest = m_savedDigest;
    m_projectPath = path;
    if (m_project.IsOpen()) m_project.CloseConnection();
    bool saved = false;
    try {
        m_project.OpenConnection(path);
        m_project.SetSynchronous(0);
        m_project.DistrustSchema();
        // The user chose this file and agreed to write over it.
        saved = SaveProject(SaveMode::ReplaceOtherSaves) == SaveResult::Saved;
    } catch (const CSQLiteException&) {
        ReturnToProjectFile(previous);
        m_savedDigest = previousDigest;
        throw;
    }
    // The new file could not be written: stay with the previous project file.
    if (!saved) {
        ReturnToProjectFile(previous);
        m_savedDigest = previousDigest;
    }
    return saved;
}

void CConfigModel::ReturnToProjectFile(const QString& previous) {
    if (m_project.IsOpen()) m_project.CloseConnection();
    m_projectPath = previous;
    // A previous file that another program removed is not brought back as an
    // empty database: the project stays without its file until it is saved
    // under some name (CheckProjectFile reports it missing).
    if (!QFileInfo::exists(previous)) return;
    m_project.OpenConnection(previous);
    m_project.SetSynchronous(0);
    m_project.DistrustSchema();
}

void CConfigModel::Close() {
    if (m_project.IsOpen()) m_project.CloseConnection();
    if (m_working.IsOpen()) m_working.CloseConnection();
    if (!m_workingPath.isEmpty()) {
        // With the library's rollback journal, if a crash left one, and the
        // lock that tells other runs this copy is in use.
        ReleaseKxTempFile(m_workingPath);
        m_workingPath.clear();
    }
    m_projectPath.clear();
    m_modified = false;
    m_savedDigest.clear();
    m_editContext = ParamEditContext();
}

// --------------------------------------------------------------- user level

bool CConfigModel::CreateConfigFile() {
    try {
        const QString path = Prompt().SaveFileName(ProjectDialog(QStringLiteral("Создание конфигурации...")));
        if (path.isEmpty()) return false;
        if (QFileInfo::exists(path) && !AskOverwrite()) return false;
        if (IsConfigurationOpen()) {
            Close();
            ForgetProject();
        }
        if (!Create(path)) {
            ForgetProject();
            Prompt().Warning(QStringLiteral("Не удалось создать файл конфигурации! Проверьте, возможно файл "
                                            "занят другим процессом.\n\nПриложение будет закрыто!"),
                             kCaptionError);
            return false;
        }
        // The folder comes with the project: a creation that failed leaves none.
        AdoptProject(path);
        return true;
    } catch (const CSQLiteException& e) {
        AbandonProject(e, QStringLiteral("CreateConfigFile"));
        return false;
    }
}

bool CConfigModel::OpenConfigFile() {
    try {
        const QString path = Prompt().OpenFileName(ProjectDialog(QStringLiteral("Открытие проекта...")));
        if (path.isEmpty()) return false;
        if (!QFileInfo::exists(path)) {
            Prompt().Error(QStringLiteral("Файл не найден!"), kCaptionError);
            return false;
        }
        // Open replaces the open project only once the new one has been read
        // whole; a file that is no project leaves it open, and nothing is
        // created beside a file that did not open.
        if (!Open(path)) {
            // Only a failure after the new file was read closes the old project.
            if (!IsConfigurationOpen()) ForgetProject();
            Prompt().Error(OpenFailureMessage(path), kCaptionLoader);
            return false;
        }
        AdoptProject(path);
        return true;
    } catch (const CSQLiteException& e) {
        AbandonProject(e, QStringLiteral("OpenConfigFile"));
        return false;
    }
}

bool CConfigModel::LoadConfigFileFMT(int* closeResult) {
    if (closeResult) *closeResult = 0;
    try {
        const QString remembered =
            Profile::ReadString(LoaderSettingsFile(), QStringLiteral("kxloader.exe"),
                                QStringLiteral("config"));
        if (!IsLibraryLoaded()) {
            Prompt().Error(QStringLiteral("SQLite: Неудачная инициализация библиотеки!\n\nПриложение будет закрыто!"),
                           kCaptionError);
            if (closeResult) *closeResult = 3;
            return false;
        }
        if (!OpenTemplate(TemplateLocation())) {
            Prompt().Error(QStringLiteral("Не найден необходимый файл KXConfigFMT.db!\nБудет произведен выход из "
                                          "приложения!"),
                           kCaptionError);
            if (closeResult) *closeResult = 2;
            return false;
        }
        if (remembered.isEmpty()) return false;
        // A project that cannot be opened (missing, damaged, locked, no
        // project at all) leaves the program running without one, so the user
        // can open or create another; and it leaves no folder behind.
        if (Open(remembered)) {
            CreateProjectFolder(remembered);
            SetProjectPath(remembered);
            return true;
        }
        ForgetProject();
        Prompt().Error(OpenFailureMessage(remembered), kCaptionLoader);
        return false;
    } catch (const CSQLiteException& e) {
        AbandonProject(e, QStringLiteral("LoadConfigFileFMT"));
        if (closeResult) *closeResult = 2;
        return false;
    }
}

bool CConfigModel::SaveConfiguration(QString* configuratorTitle) {
    if (!RequireConfiguration()) return false;
    // Another program deleted, renamed or replaced the file: the open
    // connection would write into the orphaned file or fail with "attempt to
    // write a readonly database" on every try. Say what happened and offer
    // another file instead.
    const ProjectFileState state = CheckProjectFile();
    if (state != ProjectFileState::InPlace) {
        if (!AskSaveElsewhere(state)) return false;
        // A file that replaced the project's is not proposed to be written over.
        if (state == ProjectFileState::Missing) return SaveAsWithDialog(configuratorTitle, m_projectPath);
        return SaveAsWithDialog(configuratorTitle, FreeProjectName(m_projectPath), m_projectPath);
    }
    switch (SaveProject(SaveMode::KeepOtherSaves)) {
    case SaveResult::Saved: return true;
    case SaveResult::Failed: return false;
    case SaveResult::ChangedByOther: break;
    }
    // Another instance (or program) saved the file after this one read it:
    // writing now would throw that save away without a word.
    switch (AskOverOtherSave()) {
    case AnswerYes: return SaveProject(SaveMode::ReplaceOtherSaves) == SaveResult::Saved;
    // "Нет" is another file: the dialog proposes a free name, and the other
    // program's file, chosen anyway, comes with a question that says so.
    case AnswerNo: return SaveAsWithDialog(configuratorTitle, FreeProjectName(m_projectPath), m_projectPath);
    default: return false;
    }
}

int CConfigModel::AskOverOtherSave() {
    return Prompt().Message(
        QStringLiteral("Файл конфигурации изменен другой программой после того, как был открыт или сохранен "
                       "здесь:\n%1\n\nЗаменить его этой конфигурацией? Изменения, сохраненные другой программой, "
                       "будут потеряны.\n\nДа - заменить файл\nНет - сохранить эту конфигурацию в другой файл "
                       "(\"Сохранить как\")\nОтмена - ничего не сохранять")
            .arg(m_projectPath),
        QStringLiteral("Внимание!"), PromptIcon::Warning, PromptButtons::YesNoCancelDefaultCancel);
}

bool CConfigModel::AskSaveElsewhere(ProjectFileState state) {
    const QString what = state == ProjectFileState::Missing
                             ? QStringLiteral("Файл конфигурации не найден: он удален, переименован или перемещен "
                                              "другой программой.")
                             : QStringLiteral("Файл конфигурации заменен другим файлом.");
    return Prompt().Message(what + QStringLiteral("\n%1\n\nСохранить конфигурацию в другой файл (\"Сохранить "
                                                  "как\")?")
                                       .arg(m_projectPath),
                            QStringLiteral("Внимание!"), PromptIcon::Warning, PromptButtons::YesNo) == AnswerYes;
}

bool CConfigModel::OnSaveAsProject(QString* configuratorTitle) {
    if (!RequireConfiguration()) return false;
    return SaveAsWithDialog(configuratorTitle, QString());
}

bool CConfigModel::SaveAsWithDialog(QString* configuratorTitle, const QString& initialName,
                                    const QString& otherSavePath) {
    try {
        FileDialogRequest request = ProjectDialog(QStringLiteral("Сохранение конфигурации..."));
        request.initialName = initialName;
        const QString path = Prompt().SaveFileName(request);
        if (path.isEmpty()) return false;
        if (QFileInfo::exists(path) &&
            !AskReplaceOnSaveAs(path, !otherSavePath.isEmpty() && SameFile(path, otherSavePath)))
            return false;

        const DirectoryFiles old = CurrentDirectoryFiles();
        QStringList oldFiles;
        oldFiles << old.journalFile;
        for (const QString& file : old.directories) oldFiles << file;

        if (!SaveAs(path)) return false;
        if (configuratorTitle) *configuratorTitle = QStringLiteral("%1 - KXConfig конфигуратор").arg(path);
        SetProjectPath(path);
        CreateProjectFolder(path);

        const DirectoryFiles now = CurrentDirectoryFiles();
        QStringList newFiles;
        newFiles << now.journalFile;
        for (const QString& file : now.directories) newFiles << file;
        for (int i = 0; i < oldFiles.size(); ++i) {
            const QString& from = oldFiles[i];
            const QString& to = newFiles[i];
            if (from.isEmpty() || !QFileInfo(from).isFile()) continue;  // nothing to carry over
            // Saving under the same name: removing the target would remove the source.
            if (SameFile(from, to)) continue;
            QFile::remove(to);
            QFile::copy(from, to);
        }
        RememberProject(path);
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QStringLiteral("OnSaveAsProject"));
        return false;
    }
}
