#pragma once
// "Загрузка справочников": uploads the chosen directories to the terminal on
// a worker thread and shows its progress: the upper bar the records sent of
// all chosen directories ("12 345 из 100 000"; while the terminal confirms,
// the wait for it), the lower bar the directories, and the stage text. Ends
// with 1 (uploaded), 2 (failed; the upload has shown its own message) or 103
// (nothing chosen; the terminal was not contacted).

#include "directories/DirectoryKind.h"
#include "ui/exchange/WorkerDlg.h"

#include <QString>

#include <array>

class QLabel;
class QProgressBar;

class CUploadingDirDlg : public CWorkerDlg {
    Q_OBJECT
public:
    enum Result { Uploaded = 1, Failed = 2, NothingChosen = 103 };

    explicit CUploadingDirDlg(QWidget* parent = nullptr);

    // The port; empty (the default) reads "port" from kxloader.ini.
    void SetPort(const QString& port) { m_port = port; }
    // Chooses the directory of a kind (DirectoryKind) for the upload.
    void Choose(int kind, bool chosen = true);

protected:
    void OnFirstShown() override;
    void ShowProgress(const ExchangeProgressState& state) override;

private:
    // The work on the worker thread: it holds copies of what it needs, never
    // the window, which may go before the work has ended.
    using ChoiceFlags = std::array<bool, kDirectoryKindCount>;  // by DirectoryKind
    static int Upload(CWorkerProgress& progress, const QString& port, const ChoiceFlags& chosen);

    QString m_port;
    ChoiceFlags m_chosen{};
    QProgressBar* m_upper = nullptr;
    QProgressBar* m_lower = nullptr;
    QLabel* m_status = nullptr;
};
