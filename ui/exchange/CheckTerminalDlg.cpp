#include "ui/exchange/CheckTerminalDlg.h"

#include "ui/exchange/ExchangeUi.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CCheckTerminalDlg::CCheckTerminalDlg(std::function<int()> check, QWidget* parent)
    : CWorkerDlg(parent), m_check(std::move(check)) {
    setObjectName(QStringLiteral("CCheckTerminalDlg"));
    setWindowTitle(QStringLiteral("KXLoader"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral("Проверка связи с терминалом..."), this);
    text->setObjectName(QStringLiteral("waitText"));
    layout->addWidget(text);
    QProgressBar* busy = MakeProgressBar(this, QStringLiteral("busy"));
    busy->setRange(0, 0);
    layout->addWidget(busy);
    layout->addWidget(MakeDisabledCancel(this), 0, Qt::AlignRight);
}

void CCheckTerminalDlg::showEvent(QShowEvent* event) {
    CWorkerDlg::showEvent(event);
    if (m_started) return;
    m_started = true;
    setCursor(Qt::BusyCursor);
    StartWork([check = m_check](CWorkerProgress&) { return check(); });
}
