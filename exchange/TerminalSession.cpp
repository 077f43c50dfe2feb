#include "exchange/TerminalSession.h"

#include "exchange/ExchangeCodes.h"
#include "exchange/ParlinkSession.h"
#include "exchange/TerminalAnswer.h"

namespace {

QString FormatInfo(const char* format, const TerminalInfo& info) {
    return QString::fromUtf8(format)
        .arg(info.program, info.programVersion, info.terminal, info.deviceId, info.componentVersion,
             info.protocolVersion);
}

}  // namespace

QString TerminalInfoText(const TerminalInfo& info) {
    return FormatInfo("Программа: %1\nВерсия программы: %2\n\nТерминал: %3\nDeviceID: %4\n\n"
                      "Версия parlink.dll: %5\nВерсия протокола parlink: %6",
                      info);
}

QString TerminalCheckText(const TerminalInfo& info) {
    return FormatInfo("Программа: %1\nВерсия программы: %2\n\nТерминал: %3\nСерийный номер: %4\n\n"
                      "Версия parlink.dll: %5\nВерсия протокола parlink: %6",
                      info);
}

int TerminalSession::ConnectTerminal(const QString& port) {
    const OpeningMessages messages{QStringLiteral("Ошибка! Не могу найти компоненту Parlink"),
                                   QStringLiteral("Ошибка! Не удается создать Parlink обьект!"),
                                   QStringLiteral("Ошибка! Не удается открыть порт!"),
                                   QStringLiteral("Ошибка! Терминал не отвечает!")};
    const QString noAnswer = QStringLiteral("Ошибка обмена! Терминал не отвечает!");
    const QString exchangeError = QStringLiteral("Ошибка обмена!");

    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = session.Open(port, messages); opened != ExchangeCode::kOk) return opened;
    IParlinkX2& link = session.Link();

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("--s"))))
        return session.Fail(ExchangeCode::kNoAnswer, noAnswer);
    QString answer;
    if (!ParlinkSucceeded(link.Receive(&answer))) return session.Fail(ExchangeCode::kNoAnswer, exchangeError);
    QStringList fields = SplitAnswer(answer);
    info.program = AnswerField(fields, 1);
    info.programVersion = AnswerField(fields, 2);

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("--h"))))
        return session.Fail(ExchangeCode::kNoAnswer, noAnswer);
    answer.clear();
    if (!ParlinkSucceeded(link.Receive(&answer))) return session.Fail(ExchangeCode::kNoAnswer, exchangeError);
    fields = SplitAnswer(answer);
    info.firstHField = AnswerField(fields, 1);
    info.terminal = AnswerField(fields, 2);
    info.deviceId = AnswerField(fields, 3);

    info.componentVersion = link.GetComponentVersion();
    info.protocolVersion = link.GetProtocolVersion();
    return session.End(ExchangeCode::kOk);
}
