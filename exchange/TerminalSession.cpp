#include "exchange/TerminalSession.h"

#include "exchange/ExchangeCodes.h"
#include "exchange/ParlinkSession.h"

#include <QDateTime>

#include <climits>

QStringList SplitAnswer(const QString& answer) {
    if (answer.isEmpty()) return {};
    return answer.split(QLatin1Char(';'), Qt::KeepEmptyParts);
}

QString AnswerField(const QStringList& fields, int index) {
    // A terminal that sends fewer fields than expected leaves the rest empty
    // rather than failing the whole exchange.
    return index >= 1 && index <= fields.size() ? fields[index - 1] : QString();
}

QString ComponentPortName(const QString& port) {
    if (port == QLatin1String("USB")) return QStringLiteral("\\\\.\\WCEUSBSH001");
    return port;
}

int LeadingInteger(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' ||
                               text[i] == u'\r' || text[i] == u'\v' || text[i] == u'\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

QString TerminalTimeStamp() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return QString::asprintf("%4.4d%2.2d%2.2d%2.2d%2.2d%2.2d", d.year(), d.month(), d.day(), t.hour(),
                             t.minute(), t.second());
}

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
