#include "ui/exchange/CheckTerminalDlg.h"

#include "ui/exchange/ExchangeUi.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CCheckTerminalDlg::CCheckTerminalDlg(std::function<int()> check, QWidget* parent)
    : CWorkerDlg(parent, QStringLiteral("CCheckTerminalDlg"), QStringLiteral("KXLoader")),
      m_check(std::move(check)) {
    QVBoxLayout* layout = Layout();
    auto* text = new QLabel(QStringLiteral("Проверка связи с терминалом..."), this);
    text->setObjectName(QStringLiteral("waitText"));
    layout->addWidget(text);
    QProgressBar* busy = MakeProgressBar(this, QStringLiteral("busy"));
    busy->setRange(0, 0);
    layout->addWidget(busy);
    layout->addWidget(MakeDisabledCancel(this), 0, Qt::AlignRight);
}

void CCheckTerminalDlg::OnFirstShown() {
    setCursor(Qt::BusyCursor);
    StartWork([check = m_check](CWorkerProgress&) { return check(); });
}
