#include "exchange/ParlinkSession.h"

#include "exchange/ExchangeCodes.h"
#include "exchange/TerminalSession.h"
#include "platform/Prompt.h"

#include <QFileInfo>

OpeningMessages StandardOpeningMessages() {
    return {QStringLiteral("Ошибка! Не могу найти компоненту Parlink"),
            QStringLiteral("Ошибка! Не могу создать Parlink обьект!"),
            QStringLiteral("Ошибка! Не могу открыть порт!"),
            QStringLiteral("Ошибка! Терминал не отвечает!")};
}

QString PortOpenFailureDetail(const QString& port, const PortOpenProblem& problem) {
    QString detail = QStringLiteral("cannot open the port %1").arg(port);
    if (!problem.device.isEmpty() && problem.device != port) detail += QStringLiteral(" (%1)").arg(problem.device);
    if (!problem.reason.isEmpty()) detail += QStringLiteral(": ") + problem.reason;
    const QFileInfo device(problem.device);
    if (problem.device.startsWith(QLatin1Char('/')) && device.exists() && !(device.isReadable() && device.isWritable()))
        detail += QStringLiteral(" - serial ports belong to the group \"dialout\": "
                                 "sudo usermod -aG dialout $USER, then log in again");
    return detail;
}

int CParlinkSession::Open(const QString& port, const OpeningMessages& messages) {
    Close();
    m_endConfirmed = false;
    m_port = port;
    QString why;
    const int created = CreateParlinkComponent(&m_object, &why);
    const QString component = QString::fromLatin1(kParlinkProgId);
    if (created == ExchangeCode::kComponentNotRegistered)
        return Fail(created, messages.notRegistered,
                    QStringLiteral("the link component %1 is not registered: %2").arg(component, why));
    if (created != ExchangeCode::kOk)
        return Fail(created, messages.notCreated,
                    QStringLiteral("the link component %1 cannot be created: %2").arg(component, why));

    const QString componentPort = ComponentPortName(port);
    if (!ParlinkSucceeded(m_object->OpenPort(componentPort))) {
        const QString detail = PortOpenFailureDetail(port, m_object.OpenPortProblem(componentPort));
        return Fail(ExchangeCode::kPortNotOpened, messages.portNotOpened, detail);
    }
    m_portOpen = true;
    // A terminal that does not answer still leaves an open port behind: it is
    // closed like on every later failure.
    if (!ParlinkSucceeded(m_object->WaitLink(kOpenWaitLinkMs)))
        return Fail(ExchangeCode::kNoAnswer, messages.noAnswer,
                    QStringLiteral("no terminal answers on the port %1 (is it switched on, "
                                   "in its cradle, and is this its port?)")
                        .arg(port));
    return ExchangeCode::kOk;
}

void CParlinkSession::SetFailureDetail(const QString& detail) {
    if (m_failureDetail) *m_failureDetail = detail;
}

void CParlinkSession::ShowError(const QString& message) const {
    if (m_showMessages) Prompt().Error(message, m_caption);
}

void CParlinkSession::ShowWarning(const QString& message) const {
    if (m_showMessages) Prompt().Warning(message, m_caption);
}

int CParlinkSession::Fail(int code, const QString& message, const QString& detail) {
    SetFailureDetail(!detail.isEmpty() ? detail
                                       : QStringLiteral("%1 (port %2)").arg(message.trimmed(), m_port));
    // Close first: a message box may stay up for a long time, and the port
    // should not be held while the user reads it.
    Close();
    ShowError(message);
    return code;
}

int CParlinkSession::End(int code) {
    if (Close() || code != ExchangeCode::kOk) return code;
    SetFailureDetail(QStringLiteral("the terminal on the port %1 did not confirm the end of the exchange; "
                                    "what was sent last may not have been carried out")
                         .arg(m_port));
    ShowError(QStringLiteral("Ошибка обмена! Терминал не отвечает!"));
    return ExchangeCode::kNoAnswer;
}

bool CParlinkSession::Close() {
    if (m_portOpen && m_object) m_endConfirmed = ParlinkSucceeded(m_object->ClosePort());
    m_portOpen = false;
    m_object.Reset();
    return m_endConfirmed;
}
