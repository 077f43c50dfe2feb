#include "ui/exchange/UploadingDirDlg.h"

#include "app/Settings.h"
#include "exchange/DirectoryUpload.h"
#include "ui/exchange/ExchangeUi.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CUploadingDirDlg::CUploadingDirDlg(QWidget* parent)
    : CWorkerDlg(parent, QStringLiteral("CUploadingDirDlg"), QStringLiteral("Загрузка справочников")) {
    QVBoxLayout* layout = Layout();
    m_status = new QLabel(QStringLiteral("Установка соединения..."), this);
    m_status->setObjectName(QStringLiteral("id1033"));
    m_status->setMinimumWidth(320);
    layout->addWidget(m_status);
    m_upper = MakeProgressBar(this, QStringLiteral("id1026"));
    layout->addWidget(m_upper);
    m_lower = MakeProgressBar(this, QStringLiteral("id1025"));
    layout->addWidget(m_lower);
    layout->addWidget(MakeDisabledCancel(this), 0, Qt::AlignRight);
}

void CUploadingDirDlg::Choose(int kind, bool chosen) {
    if (kind >= 0 && kind < static_cast<int>(m_chosen.size())) m_chosen[static_cast<size_t>(kind)] = chosen;
}

void CUploadingDirDlg::OnFirstShown() {
    repaint();
    StartWork([port = m_port, chosen = m_chosen](CWorkerProgress& progress) {
        return Upload(progress, ExchangePort(port), chosen);
    });
}

int CUploadingDirDlg::Upload(CWorkerProgress& progress, const QString& port, const ChoiceFlags& chosen) {
    UploadSelection selection;
    selection.caption = QStringLiteral("KXLoader");
    for (int kind = 0; kind < kDirectoryKindCount; ++kind)
        if (chosen[static_cast<size_t>(kind)]) selection.Select(kind);
    const int count = selection.SelectedCount();
    if (count == 0) return NothingChosen;
    // One step per directory and one for the synchronisation.
    progress.SetStageRange(count + 1);
    selection.progressWindow = &progress;
    selection.transferProgress = &progress;
    return UploadDirectories(selection, port) == 0 ? Uploaded : Failed;
}

void CUploadingDirDlg::ShowProgress(const ExchangeProgressState& state) {
    if (!state.stageText.isEmpty()) m_status->setText(state.stageText);
    // While records go the upper bar counts them against the whole upload;
    // the steps the upload makes per record would only fill it at once.
    if (state.transferring) ShowBar(m_upper, state.transferDone, state.transferTotal, true);
    else ShowBar(m_upper, state.item.value, state.item.range, false);
    ShowBar(m_lower, state.stage.value, state.stage.range, false);
}
