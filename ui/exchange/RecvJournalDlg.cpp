#include "ui/exchange/RecvJournalDlg.h"

#include "app/Settings.h"
#include "exchange/JournalExchange.h"
#include "ui/exchange/ExchangeUi.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

CRecvJournalDlg::CRecvJournalDlg(const QString& programName, bool journalIdOn, bool overwrite,
                                 QWidget* parent)
    : CWorkerDlg(parent, QStringLiteral("CRecvJournalDlg"), QStringLiteral("Выгрузка журнала")),
      m_programName(programName),
      m_journalIdOn(journalIdOn),
      m_overwrite(overwrite) {
    QVBoxLayout* layout = Layout();
    m_bar = MakeProgressBar(this, QStringLiteral("id1025"));
    m_bar->setMinimumWidth(320);
    layout->addWidget(m_bar);
    layout->addWidget(MakeDisabledCancel(this), 0, Qt::AlignRight);
}

void CRecvJournalDlg::OnFirstShown() {
    QTimer::singleShot(100, this, &CRecvJournalDlg::StartDownload);
}

void CRecvJournalDlg::StartDownload() {
    setCursor(Qt::WaitCursor);
    // The work holds copies, never the window, which may go before it ends.
    StartWork([caption = m_programName, journalIdOn = m_journalIdOn,
               overwrite = m_overwrite](CWorkerProgress& progress) {
        JournalExchange journal;
        journal.caption = caption;
        journal.progressWindow = &progress;
        // The same records as the command line: what each journal file holds
        // of a terminal, and the resets owed to it.
        journal.recordsFolder = TerminalRecordsFolder();
        JournalDownloadOptions options;
        options.journalIdOn = journalIdOn;
        options.overwrite = overwrite;
        const int code = journal.DownloadJournal(ExchangePort(QString()), options);
        return code == 0 ? Downloaded : Failed;
    });
}

void CRecvJournalDlg::ShowProgress(const ExchangeProgressState& state) {
    // The range is the line count the terminal announced, one step a line.
    ShowBar(m_bar, state.item.value, state.item.range, state.item.range > 0);
}
void CRecvJournalDlg::OnWorkFinished(int) { unsetCursor(); }
