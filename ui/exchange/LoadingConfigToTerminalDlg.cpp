#include "ui/exchange/LoadingConfigToTerminalDlg.h"

#include "app/Settings.h"
#include "ui/exchange/ExchangeUi.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

CLoadingConfigToTerminalDlg::CLoadingConfigToTerminalDlg(CConfigModel& model, const QString& port,
                                                         int startOperationId, QWidget* parent)
    : CWorkerDlg(parent, QStringLiteral("CLoadingConfigToTerminalDlg"), QStringLiteral("Сообщение")),
      m_flow(std::make_shared<CConfigUploadFlow>(model, ExchangePort(port), startOperationId)) {
    QVBoxLayout* layout = Layout();
    auto* text = new QLabel(QStringLiteral("Подождите идет загрузка..."), this);
    text->setObjectName(QStringLiteral("waitText"));
    text->setMinimumWidth(260);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    layout->addWidget(MakeDisabledCancel(this), 0, Qt::AlignCenter);
}

void CLoadingConfigToTerminalDlg::OnFirstShown() {
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    QTimer::singleShot(100, this, [this] {
        setCursor(Qt::WaitCursor);
        StartWork([flow = m_flow](CWorkerProgress&) { return flow->Run(); });
    });
}
