#pragma once
// The configuration model: a terminal configuration held in SQLite databases.
//  - the template KXConfigFMT.db (beside the program) says what can be
//    configured: the page tree, the parameters of every page with their types,
//    defaults and help texts, and the choices of combo-box parameters;
//  - the project file (*.kxc) holds the user's choices: ParamsValue,
//    SortOrderOperTypes, ChoiceNames and m_mainmenu;
//  - the working database is a temporary copy of the project: every edit goes
//    there and only Save copies it back into the project file.
// One object lives as long as the main window. The class spans several files:
// ConfigSchema.cpp (schema, defaults, lookups), ConfigProjects.cpp (projects),
// OperationTypes.cpp, ParamTree.cpp and ParamValues.cpp (tree, values, editors),
// ConfigMenu.cpp (terminal menu) and ConfigReport.cpp (printout).

#include "config/ViewModels.h"
#include "directories/OperationTypeNames.h"
#include "storage/SQLite3.h"

#include <QFile>
#include <QString>

#include <memory>
#include <vector>

namespace ConfigInternal {
struct TemplateNode;
}

// Whether the project file at the project path is still the file the
// project connection has open.
enum class ProjectFileState {
    InPlace,   // the same file (or no project open)
    Missing,   // nothing at the path any more: deleted, renamed or moved away
    Replaced,  // another file now stands at the path
};

// Why a project file could not be opened (OpenProblemText says it in words).
enum class ProjectProblem {
    None,
    Missing,      // nothing at the path
    Folder,       // a folder, not a file
    Unreadable,   // no right to read it
    NotDatabase,  // not an SQLite database at all
    NotProject,   // a database without the project tables
    Busy,         // another program held it longer than the busy time-out
    TooSlow,      // could not be read within the open time limit
    Damaged,      // a database damaged inside
    Failed,       // any other failure (the library's message says which)
    WorkingCopy,  // the working copy could not be made in the temporary folder
};

// A save writes over the project file only while it still holds what this
// instance opened or last saved, unless told to replace another save.
enum class SaveMode { KeepOtherSaves, ReplaceOtherSaves };
enum class SaveResult {
    Saved,
    Failed,         // shown; the project file is as it was
    ChangedByOther  // another program saved the file meanwhile: nothing written, nothing shown
};

class CConfigModel : public IOperationTypeNames {
public:
    CConfigModel();
    ~CConfigModel() override;
    CConfigModel(const CConfigModel&) = delete;
    CConfigModel& operator=(const CConfigModel&) = delete;

    // ------------------------------------------------------------ state
    bool IsLibraryLoaded() const;
    // A project is open: its working copy exists and its path is known.
    bool IsConfigurationOpen() const;
    bool IsTemplateOpen() const { return m_template.IsOpen(); }
    bool IsModified() const { return m_modified; }
    const QString& ProjectPath() const { return m_projectPath; }
    const QString& WorkingPath() const { return m_workingPath; }
    const QString& TemplatePath() const { return m_templatePath; }
    // The template LoadConfigFileFMT opens; empty: the template of the install
    // layout (KXConfigFMT.db in the program folder when portable).
    void SetTemplateLocation(const QString& path) { m_templateLocation = path; }
    QString TemplateLocation() const;
    // The exporter of the terminal database and the tests read the working copy.
    SQLite3::CSQLiteConnection& Working() { return m_working; }
    SQLite3::CSQLiteConnection& Template() { return m_template; }

    // ------------------------------------------------ schema and defaults
    // Creates the project tables and the rows of a new configuration on the
    // (fresh, empty) working connection. Raises on a statement failure; false
    // when seeding the global defaults fails.
    bool CreateSchema();
    void EnsureDefaultValues(const QString& listTable, const QString& operTypeId);
    bool InsertDefaultValues(const QString& listTable, const QString& operTypeId);
    bool InsertOperationDefaults(const QString& nodeTable, const QString& operTypeId);
    bool InsertGlobalDefaults(const QString& nodeTable);

    // ------------------------------------------------------------ lookups
    bool IsUploadJournalIdOn();
    // Fills the combo with every operation type name; selects the last equal to
    // `currentName`, else item 0. False when the lookup failed.
    bool FillOperationTypeCombo(IComboBox& combo, const QString& currentName);
    bool GetOperationTypeName(const QString& id, QString* name) override;
    bool GetOperationTypeId(const QString& name, QString* id) override;
    // Every operation type name in the order the type list of the directory
    // editor shows them.
    QStringList GetOperationTypeNameList() override;
    bool GetChoiceName(int point, QString* name);
    bool SetChoiceName(int point, const QString& name);

    // ------------------------------------------------------------ projects
    bool OpenTemplate(const QString& path);
    bool Create(const QString& path);
    // Reads the project into a new working copy. Only the project tables are
    // read, as data: nothing the file defines itself runs, and a file that
    // cannot be read within kOpenTimeLimitMs is refused. A file that does not
    // open leaves the project that was open as it was (OpenProblem says why).
    bool Open(const QString& path);
    static constexpr int kOpenTimeLimitMs = 5000;
    ProjectProblem OpenProblem() const { return m_openProblem; }
    // Why the last Open failed, in words for the user ("файл занят другой
    // программой ..."); empty after a successful one.
    QString OpenProblemText() const;
    // "Ошибка! Не удалось загрузить конфигурацию!" with the file and the reason.
    QString OpenFailureMessage(const QString& path) const;
    // Copies the working copy into the project file in one transaction: the
    // project tables only, each written anew. With KeepOtherSaves nothing is
    // written when the file no longer holds what this instance opened or last
    // saved (another program saved it meanwhile).
    SaveResult SaveProject(SaveMode mode);
    // SaveProject(KeepOtherSaves); false (and `modified` kept) when nothing was saved.
    bool Save();
    // Saves into another file, which becomes the project file. On failure the
    // previous project file stays the project file.
    bool SaveAs(const QString& path);
    void Close();
    // Another program may delete, rename or replace the project file while it
    // is open; saving then cannot reach the path.
    ProjectFileState CheckProjectFile();

    // User-level operations: they ask through the prompt and show every failure.
    bool CreateConfigFile();
    bool OpenConfigFile();
    // At start-up. `closeResult` receives 0 when the main window stays open,
    // else the result it must close with (3: no database library, 2: no template
    // or a failure).
    bool LoadConfigFileFMT(int* closeResult = nullptr);
    // The configurator's "Сохранить". When the project file is no longer at
    // its path (CheckProjectFile) it asks, through the prompt, whether to save
    // into another file, and on Yes runs "Сохранить как" with the old path
    // proposed. When another program saved the file since this instance
    // opened or saved it, it asks whether to replace that save ("Да"), save
    // under another name ("Нет") or not save ("Отмена"); only "Да" writes over
    // the other save. `configuratorTitle` receives the new window title when
    // the project was saved under another name (else it stays untouched).
    // False when nothing was saved.
    bool SaveConfiguration(QString* configuratorTitle = nullptr);
    // The configurator's "Сохранить как"; `configuratorTitle` receives the new
    // window title.
    bool OnSaveAsProject(QString* configuratorTitle = nullptr);

    // ------------------------------------------------------- operation types
    // 0 free, 1 exists, 2 reserved, 10 the lookup failed (shown).
    int CheckOperationTypeName(const QString& name);
    bool AddOperationType(const QString& name, QString* id);
    bool CopyOperationType(CParamTree& tree, QStandardItem* item, const QString& name, QString* id);
    bool DeleteOperationType(CParamTree& tree, QStandardItem* item);
    bool MoveOperationTypeUp(CParamTree& tree, QStandardItem* item, QString* id);
    bool MoveOperationTypeDown(CParamTree& tree, QStandardItem* item, QString* id);
    bool LoadPageDefaults(QStandardItem* item);

    // The configurator's buttons: the messages, the name input, the operation,
    // then rebuild, select and focus. LoadPageDefaults' handler returns true
    // when the parameter list must be refreshed.
    bool OnAddOperationType(CParamTree& tree, const NameInput& input);
    bool OnCopyOperationType(CParamTree& tree, const NameInput& input);
    bool OnDeleteOperationType(CParamTree& tree);
    bool OnMoveOperationTypeUp(CParamTree& tree);
    bool OnMoveOperationTypeDown(CParamTree& tree);
    bool OnLoadPageDefaults(CParamTree& tree);

    // ------------------------------------------------ parameter tree, values
    bool RebuildParamTree(CParamTree& tree);
    bool BuildParamTree(CParamTree& tree, QStandardItem* parent, const QString& nodeTable,
                        const QString& operationName, const QString& operTypeId);
    void ShowNodeCaption(ITextBox& captionBox, const QStandardItem* item);
    // The list has two columns: the parameter's label and its shown value.
    bool ShowParamList(QStandardItemModel& list, const QStandardItem* item);
    bool BeginParamEdit(CParamTree& tree, QStandardItemModel& list, int row, QStandardItem* item,
                        ITextBox* helpBox, ParamEditRequest* request);
    bool CommitParamValue(const QString& text);
    const ParamEditContext& EditContext() const { return m_editContext; }
    bool ReadParamValue(const QString& listTable, const QString& paramId,
                        const QString& operTypeId, QString* value);
    void FillParamCombo(IComboBox& combo, const QString& sourceTable, const QString& storedValue);
    void SelectOperationItem(CParamTree& tree, const QString& operTypeId);
    static bool IsOperationItem(const QStandardItem* item);
    bool MakeTableComboSourceOperations(const QString& operationsFile);

    // --------------------------------------------------------- terminal menu
    bool FillMenuLists(QStandardItemModel& available, QStandardItemModel& menu);
    bool SaveMenu(const QStandardItemModel& menu);

    // ---------------------------------------------------------------- report
    bool PrintConfiguration(const QString& path);
    void WriteReportLine(const QString& text, int level);
    bool PrintNodes(const QString& nodeTable, const QString& operationName,
                    const QString& operTypeId, int level);
    // The main window's "Печать": configuration.txt in the files folder.
    bool OnPrintConfiguration();

private:
    enum class PrintResult { Done, CannotCreate, WalkFailed };
    PrintResult WriteConfigurationReport(const QString& path);
    bool RequireConfiguration();
    bool Refuse(ProjectProblem problem, const QString& detail = QString());
    bool AskSaveElsewhere(ProjectFileState state);
    int AskOverOtherSave();
    // `otherSavePath`: a file another program saved; choosing it asks with that said.
    bool SaveAsWithDialog(QString* configuratorTitle, const QString& initialName,
                          const QString& otherSavePath = QString());
    void ReturnToProjectFile(const QString& previous);
    void CreateWorkingIndex();
    void OpenWorking();
    void RememberProject(const QString& path);
    void ForgetProject();
    // The project at `path` is the open one now: its folder beside it, its
    // name in the windows, and the project the next start opens.
    void AdoptProject(const QString& path);
    // A user-level step that failed on a statement: the failure is shown and
    // no project stays open.
    void AbandonProject(const SQLite3::CSQLiteException& failure, const QString& step);
    int NewOperationTypeId();
    int NewOperationTypePosition();
    // The page table's rows; false when it cannot be read (shown to the user).
    bool ReadNodesShown(const QString& nodeTable, std::vector<ConfigInternal::TemplateNode>* nodes);
    // Puts the type `id` last in the order the user sees the types in.
    void AppendToOperationTypeOrder(const QString& id);
    // A change of the working copy that failed on a statement: shown; false.
    bool WorkingChangeFailed(const SQLite3::CSQLiteException& failure);
    bool MoveOperationType(CParamTree& tree, QStandardItem* item, QString* id, bool up);
    bool AfterOperationTypeChange(CParamTree& tree, bool done, const QString& id);
    // CheckOperationTypeName with its messages: true when `name` is free.
    bool AcceptOperationTypeName(const QString& name);

    SQLite3::CSQLiteConnection m_working;
    SQLite3::CSQLiteConnection m_template;
    SQLite3::CSQLiteConnection m_project;
    QString m_projectPath;
    QString m_workingPath;
    QString m_templatePath;
    QString m_templateLocation;
    bool m_modified = false;
    // The project tables' digest as this instance last read or wrote them.
    QByteArray m_savedDigest;
    ProjectProblem m_openProblem = ProjectProblem::None;
    QString m_openProblemDetail;
    ParamEditContext m_editContext;
    std::unique_ptr<QFile> m_report;
};
