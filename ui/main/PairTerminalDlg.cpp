#include "ui/main/PairTerminalDlg.h"

#include "exchange/LinkReasonText.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

CPairTerminalDlg::CPairTerminalDlg(const QString& port, QWidget* parent, PairFunction pair)
    : QDialog(parent), m_port(port), m_pair(std::move(pair)) {
    setObjectName(QStringLiteral("pairTerminalDialog"));
    setWindowTitle(QStringLiteral("Сопряжение с терминалом"));
    auto* layout = new QVBoxLayout(this);
    auto* where = new QLabel(QStringLiteral("Терминал: %1").arg(port), this);
    where->setObjectName(QStringLiteral("pairingPort"));
    layout->addWidget(where);
    auto* prompt = new QLabel(QStringLiteral("Код сопряжения с экрана терминала (6 цифр):"), this);
    layout->addWidget(prompt);
    m_code = new QLineEdit(this);
    m_code->setObjectName(QStringLiteral("pairingCode"));
    m_code->setMaxLength(11);
    prompt->setBuddy(m_code);
    layout->addWidget(m_code);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("pairingResult"));
    m_result->setWordWrap(true);
    layout->addWidget(m_result);
    auto* buttons = new QDialogButtonBox(this);
    m_pairButton = buttons->addButton(QStringLiteral("Сопрячь"), QDialogButtonBox::AcceptRole);
    m_pairButton->setObjectName(QStringLiteral("pair"));
    m_pairButton->setDefault(true);
    QPushButton* close = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("id2"));
    // Enter pairs wherever the focus is; only a click or Space closes.
    close->setAutoDefault(false);
    layout->addWidget(buttons);
    connect(m_pairButton, &QPushButton::clicked, this, &CPairTerminalDlg::OnPair);
    connect(m_code, &QLineEdit::returnPressed, this, &CPairTerminalDlg::OnPair);
    connect(close, &QPushButton::clicked, this, [this] {
        // The pairing in flight finishes on its own; its answer then has no window.
        if (!m_busy) reject();
    });
    if (!port.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        ShowResult(QStringLiteral("Сопряжение нужно только для терминала в сети: укажите порт tcp:адрес:порт."));
    m_code->setFocus(Qt::OtherFocusReason);
}

void CPairTerminalDlg::ShowResult(const QString& text) {
    m_result->setText(text);
    // A result of two or three lines makes the window taller, never clipped.
    if (QLayout* box = layout()) {
        box->activate();
        const int needed =
            box->hasHeightForWidth() ? box->totalHeightForWidth(width()) : box->totalSizeHint().height();
        if (needed > height()) resize(width(), needed);
    }
}

void CPairTerminalDlg::OnPair() {
    if (m_busy) return;
    m_busy = true;
    m_pairButton->setEnabled(false);
    m_code->setEnabled(false);
    ShowResult(QStringLiteral("Сопряжение..."));
    const QString port = m_port, code = m_code->text();
    const PairFunction pair = m_pair;
    QPointer<CPairTerminalDlg> self(this);
    // The network may take seconds: never on the UI thread.
    QThread* worker = QThread::create([port, code, pair, self] {
        const CPairOutcome result = pair(port, code);
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, result] {
            if (self) self->Finished(result);
        }, Qt::QueuedConnection);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void CPairTerminalDlg::Finished(const CPairOutcome& result) {
    m_busy = false;
    m_paired = result.result == EPairResult::Paired;
    ShowResult(m_paired ? QStringLiteral("Терминал сопряжён с этим компьютером.")
                        : QStringLiteral("Не удалось: %1").arg(LinkReasonInRussian(result.text)));
    m_code->setEnabled(!m_paired);
    m_pairButton->setEnabled(!m_paired);
    if (m_paired) return;
    // The field was disabled during the attempt, which moved the focus away:
    // the next code typed replaces the last one.
    m_code->setFocus(Qt::OtherFocusReason);
    m_code->selectAll();
}
