#pragma once
// "Выгрузка журнала": downloads the terminal's journal into the project's
// journal file with a progress bar counting the lines received of the lines
// announced ("12 345 из 100 000"). The download starts 100 ms after the
// window opened (so it is drawn first) and runs on a worker thread; the
// window ends with 1 (downloaded) or 2 (failed; the download has shown its
// own message).

#include "ui/exchange/WorkerDlg.h"

#include <QString>

class QProgressBar;

class CRecvJournalDlg : public CWorkerDlg {
    Q_OBJECT
public:
    enum Result { Downloaded = 1, Failed = 2 };

    // `programName` captions the download's messages ("KXLoader"); the
    // journal ID option of the open configuration and the main window's
    // overwrite flag decide how the journal is asked for and written.
    CRecvJournalDlg(const QString& programName, bool journalIdOn, bool overwrite,
                    QWidget* parent = nullptr);

protected:
    void OnFirstShown() override;
    void ShowProgress(const ExchangeProgressState& state) override;
    void OnWorkFinished(int result) override;

private:
    void StartDownload();

    QString m_programName;
    bool m_journalIdOn;
    bool m_overwrite;
    QProgressBar* m_bar = nullptr;
};
