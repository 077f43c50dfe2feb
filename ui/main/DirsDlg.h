#pragma once
// The main window, "Справочники": the current project, one row per reference
// directory with its line count and a check box to choose it for upload, the
// scan-journal group, the configuration group and the connection port. It
// owns the configuration model and a folder watcher that keeps the counts
// current while the directory files change on disk, and it opens every other
// window of the program.

#include "config/ConfigModel.h"
#include "directories/DirectoryKind.h"
#include "directories/DirectorySummary.h"
#include "platform/FFCNotify.h"

#include <QDialog>
#include <QFont>
#include <QList>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class CPathLabel;
class CTriStateButton;

class CDirsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDirsDlg(const QFont& font, QWidget* parent = nullptr);
    ~CDirsDlg() override;

    // The command line has run: the window ends with 2 as soon as it is shown.
    void SetCloseAtOnce(bool closeAtOnce) { m_closeAtOnce = closeAtOnce; }

    CConfigModel& Model() { return m_model; }
    const QList<DirectorySummary>& Summaries() const { return m_summaries; }
    CFFCNotify& Watcher() { return m_watcher; }
    QString PortText() const;

    // Counts the directory files that changed and shows every row's count,
    // check box and edit button, then the upload button and "Выбрать все".
    void RefreshDirectoryRows();

    // Esc and the close box: the leaving question.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Row {
        int kind = 0;
        QCheckBox* check = nullptr;
        QLabel* label = nullptr;
        QPushButton* edit = nullptr;
        QString baseLabel;
    };

    void BuildControls();
    void Initialize();
    void ShowProjectPath();
    void FollowProject();
    bool RequireProject();
    bool SavePort(QString* error = nullptr);
    // Saves the port and says why when the settings file will not take it.
    void ReportPortNotSaved();
    // Enter in the port field: the typed port is taken (and kept for the next start).
    void TakePort();
    void UpdateChoice();
    void OnSelectAll();
    void Leave();

    void OnEditDirectory(int kind);
    void OnViewJournal();
    void OnUploadDirectories();
    void OnDownloadJournal();
    void OnOverwriteJournal(bool on);
    void OnLoadConfiguration();
    void OnCheckTerminal();
    void OnConfigurator();
    void OnPrint();
    void OnExport();
    void OnOpenProject();
    void OnCreateProject();

    CConfigModel m_model;
    QFont m_font;
    bool m_closeAtOnce = false;
    bool m_initialised = false;
    int m_overwriteJournal = 1;
    QList<DirectorySummary> m_summaries;
    std::array<Row, kDirectoryKindCount> m_rows;  // indexed by DirectoryKind
    CFFCNotify m_watcher;

    CPathLabel* m_path = nullptr;
    CTriStateButton* m_selectAll = nullptr;
    QPushButton* m_upload = nullptr;
    QCheckBox* m_overwrite = nullptr;
    QPushButton* m_create = nullptr;
    QPushButton* m_configurator = nullptr;
    QComboBox* m_port = nullptr;
};
