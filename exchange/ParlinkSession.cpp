#include "exchange/ParlinkSession.h"

#include "exchange/ExchangeCodes.h"
#include "exchange/TerminalSession.h"
#include "platform/Prompt.h"

OpeningMessages StandardOpeningMessages() {
    return {QStringLiteral("Ошибка! Не могу найти компоненту Parlink"),
            QStringLiteral("Ошибка! Не могу создать Parlink обьект!"),
            QStringLiteral("Ошибка! Не могу открыть порт!"),
            QStringLiteral("Ошибка! Терминал не отвечает!")};
}

int CParlinkSession::Open(const QString& port, const OpeningMessages& messages) {
    Close();
    const int created = CreateParlinkComponent(&m_object);
    if (created == ExchangeCode::kComponentNotRegistered) return Fail(created, messages.notRegistered);
    if (created != ExchangeCode::kOk) return Fail(created, messages.notCreated);

    if (!ParlinkSucceeded(m_object->OpenPort(ComponentPortName(port))))
        return Fail(ExchangeCode::kPortNotOpened, messages.portNotOpened);
    m_portOpen = true;
    // A terminal that does not answer still leaves an open port behind: it is
    // closed like on every later failure.
    if (!ParlinkSucceeded(m_object->WaitLink(kOpenWaitLinkMs)))
        return Fail(ExchangeCode::kNoAnswer, messages.noAnswer);
    return ExchangeCode::kOk;
}

void CParlinkSession::ShowError(const QString& message) const {
    if (m_showMessages) Prompt().Error(message, m_caption);
}

void CParlinkSession::ShowWarning(const QString& message) const {
    if (m_showMessages) Prompt().Warning(message, m_caption);
}

int CParlinkSession::Fail(int code, const QString& message) {
    // Close first: a message box may stay up for a long time, and the port
    // should not be held while the user reads it.
    Close();
    ShowError(message);
    return code;
}

int CParlinkSession::End(int code) {
    Close();
    return code;
}

void CParlinkSession::Close() {
    if (m_portOpen && m_object) m_object->ClosePort();
    m_portOpen = false;
    m_object.Reset();
}
