// Projects: the template, the project file and its working copy, and the
// user-level create / open / start-up load / save / save-as.

#include "config/ConfigInternal.h"
#include "config/ConfigModel.h"
#include "directories/DirectoryFiles.h"
#include "platform/ProfileFile.h"
#include "platform/InstallLayout.h"
#include "platform/Prompt.h"
#include "platform/TempFiles.h"
#include "storage/CopyTables.h"

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
    if (!CopyAllTables(m_working, m_project)) {
        // The error has been shown; a project that was never written is not open.
        Close();
        QFile::remove(path);
        return false;
    }
    m_modified = false;
    return true;
}

bool CConfigModel::Open(const QString& path) { return OpenProject(path, false); }

bool CConfigModel::OpenProject(const QString& path, bool quiet) {
    if (!QFileInfo(path).isFile()) return false;
    // A model holds one project at a time.
    Close();
    m_projectPath = path;
    m_workingPath = CreateKxTempFile();
    if (m_workingPath.isEmpty()) {
        m_projectPath.clear();
        return false;
    }
    try {
        m_project.OpenConnection(path);
        m_project.SetSynchronous(0);
        OpenWorking();
        bool copied = true;
        if (quiet) CopyAllTablesOrThrow(m_project, m_working);
        else copied = CopyAllTables(m_project, m_working);
        // A file that is not a database, or a database that is not a
        // configuration, must not open as an empty configuration that a later
        // save would write over.
        if (!copied ||
            Query(m_working, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                            "name IN ('ParamsValue', 'SortOrderOperTypes')"))
                    .Rows[0][0] != QLatin1String("2")) {
            Close();
            return false;
        }
    } catch (const CSQLiteException&) {
        Close();
        if (quiet) return false;
        throw;
    }
    CreateWorkingIndex();
    m_modified = false;
    return true;
}

ProjectFileState CConfigModel::CheckProjectFile() {
    if (!IsConfigurationOpen() || (m_project.IsOpen() && !m_project.HasFileMoved())) return ProjectFileState::InPlace;
    return QFileInfo::exists(m_projectPath) ? ProjectFileState::Replaced : ProjectFileState::Missing;
}

bool CConfigModel::Save() {
    if (!CopyAllTables(m_working, m_project)) return false;  // shown; the project file is as it was
    m_modified = false;
    return true;
}

bool CConfigModel::SaveAs(const QString& path) {
    const QString previous = m_projectPath;
    m_projectPath = path;
    if (m_project.IsOpen()) m_project.CloseConnection();
    bool saved = false;
    try {
        m_project.OpenConnection(path);
        m_project.SetSynchronous(0);
        saved = Save();
    } catch (const CSQLiteException&) {
        ReturnToProjectFile(previous);
        throw;
    }
    // The new file could not be written: stay with the previous project file.
    if (!saved) ReturnToProjectFile(previous);
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
        CreateProjectFolder(path);
        if (!Create(path)) {
            ForgetProject();
            Prompt().Warning(QStringLiteral("Не удалось создать файл конфигурации! Проверьте, возможно файл "
                                            "занят другим процессом.\n\nПриложение будет закрыто!"),
                             kCaptionError);
            return false;
        }
        SetProjectPath(path);
        RememberProject(path);
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QStringLiteral("CreateConfigFile"));
        Close();
        ForgetProject();
        return false;
    }
}

bool CConfigModel::OpenConfigFile() {
    try {
        const QString path = Prompt().OpenFileName(ProjectDialog(QStringLiteral("Открытие проекта...")));
        if (path.isEmpty()) return false;
        if (!QFileInfo(path).isFile()) {
            Prompt().Error(QStringLiteral("Файл не найден!"), kCaptionError);
            return false;
        }
        if (IsConfigurationOpen()) {
            Close();
            ForgetProject();
        }
        CreateProjectFolder(path);
        if (Open(path)) {
            SetProjectPath(path);
            RememberProject(path);
            return true;
        }
        ForgetProject();
        Prompt().Error(QStringLiteral("Ошибка! Не удалось загрузить конфигурацию!"), kCaptionLoader);
        return false;
    } catch (const CSQLiteException& e) {
        e.Show(QStringLiteral("OpenConfigFile"));
        Close();
        ForgetProject();
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
        CreateProjectFolder(remembered);
        // A damaged file (not a database, cut short) is a project that cannot
        // be opened like a missing one: the program starts without it, and the
        // user can open or create another instead of being shut out.
        if (OpenProject(remembered, true)) {
            SetProjectPath(remembered);
            return true;
        }
        ForgetProject();
        Prompt().Error(QStringLiteral("Ошибка! Не удалось загрузить конфигурацию!\nФайл не найден: %1").arg(remembered),
                       kCaptionLoader);
        return false;
    } catch (const CSQLiteException& e) {
        e.Show(QStringLiteral("LoadConfigFileFMT"));
        Close();
        ForgetProject();
        if (closeResult) *closeResult = 2;
        return false;
    }
}

bool CConfigModel::SaveConfiguration(QString* configuratorTitle) {
    if (!RequireConfiguration()) return false;
    try {
        // Another program deleted, renamed or replaced the file: the open
        // connection would write into the orphaned file or fail with "attempt
        // to write a readonly database" on every try. Say what happened and
        // offer another file instead.
        const ProjectFileState state = CheckProjectFile();
        if (state != ProjectFileState::InPlace) {
            if (!AskSaveElsewhere(state)) return false;
            return SaveAsWithDialog(configuratorTitle, m_projectPath);
        }
        return Save();
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
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

bool CConfigModel::SaveAsWithDialog(QString* configuratorTitle, const QString& initialName) {
    try {
        FileDialogRequest request = ProjectDialog(QStringLiteral("Сохранение конфигурации..."));
        request.initialName = initialName;
        const QString path = Prompt().SaveFileName(request);
        if (path.isEmpty()) return false;
        if (QFileInfo::exists(path) && !AskOverwrite()) return false;

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
