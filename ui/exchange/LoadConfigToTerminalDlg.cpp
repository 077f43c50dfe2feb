#include "ui/exchange/LoadConfigToTerminalDlg.h"

#include "exchange/ConfigUpload.h"
#include "exchange/TerminalDatabase.h"
#include "app/Settings.h"
#include "ui/common/Buttons.h"
#include "ui/common/PortBox.h"
#include "ui/exchange/CheckTerminalDlg.h"
#include "ui/exchange/ExchangeUi.h"
#include "ui/exchange/LoadingConfigToTerminalDlg.h"
#include "ui/exchange/TransferAnimation.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

CLoadConfigToTerminalDlg::CLoadConfigToTerminalDlg(CConfigModel& model, const QString& port, QWidget* parent)
    : QDialog(parent), m_model(model) {
    setObjectName(QStringLiteral("CLoadConfigToTerminalDlg"));
    setWindowTitle(QStringLiteral("Загрузка конфигурационных файлов в терминал"));

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_animation = new CTransferAnimation(this);
    top->addWidget(m_animation);
    auto* right = new QVBoxLayout;
    m_progress = MakeProgressBar(this, QStringLiteral("progress"));
    m_progress->setMinimumWidth(160);
    right->addWidget(m_progress);
    QPushButton* load = MakeButton(this, QStringLiteral("Загрузка"), QStringLiteral("loadButton"));
    right->addWidget(load);
    right->addStretch(1);
    top->addLayout(right, 1);
    layout->addLayout(top);

    // The folded part: the port, the connection check and the close button.
    m_foldedPart = new QWidget(this);
    auto* folded = new QGridLayout(m_foldedPart);
    folded->setContentsMargins(0, 0, 0, 0);
    folded->addWidget(new QLabel(QStringLiteral("Порт:"), m_foldedPart), 0, 0);
    QStringList ports;
    for (int i = 1; i <= 8; ++i) ports << QStringLiteral("COM%1").arg(i);
    ports << QStringLiteral("USB");
    m_port = MakePortBox(m_foldedPart, QStringLiteral("portCombo"), ports);
    folded->addWidget(m_port, 0, 1);
    QPushButton* check = MakeButton(m_foldedPart, QStringLiteral("Проверка"), QStringLiteral("checkButton"));
    folded->addWidget(check, 0, 2);
    QPushButton* close = MakeButton(m_foldedPart, QStringLiteral("Закрыть"), QStringLiteral("closeButton"));
    folded->addWidget(close, 1, 2);
    QPushButton* expand = MakeButton(m_foldedPart, QStringLiteral(">>"), QStringLiteral("expandButton"));
    expand->setEnabled(false);
    expand->hide();
    layout->addWidget(m_foldedPart);
    m_foldedPart->hide();
    // The window keeps to what the shown part needs (the folded part is
    // hidden); it may still be made wider, for its title to fit.
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    ShowPort(m_port, ExchangePort(port));

    connect(load, &QPushButton::clicked, this, [this] { Load(); });
    connect(check, &QPushButton::clicked, this, [this] { Check(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

QString CLoadConfigToTerminalDlg::Port() const { return m_port->currentText(); }

void CLoadConfigToTerminalDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_validated) return;
    m_validated = true;
    // After the window is drawn, so the warning stands over it.
    QTimer::singleShot(0, this, [] { ValidateOperationsDirectory(); });
}

int CLoadConfigToTerminalDlg::Load() {
    m_animation->Play();
    m_progress->setRange(0, 0);  // busy while the updater works
    const QString port = Port();
    WriteParlinkPort(port);
    int result = ConfigUploadResult::kFailed;
    {
        CLoadingConfigToTerminalDlg wait(m_model, port, -1, this);
        if (m_setup) m_setup(wait);
        result = wait.exec();
    }
    m_animation->Stop();
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    repaint();
    ShowConfigUploadResult(result);
    return result;
}

int CLoadConfigToTerminalDlg::Check() {
    const QString port = Port();
    CCheckTerminalDlg check([port] { return CheckTerminalConnection(port); }, this);
    return check.exec();
}
