#include "exchange/TerminalAnswer.h"

#include <QDateTime>

QStringList SplitAnswer(const QString& answer) {
    if (answer.isEmpty()) return {};
    return answer.split(QLatin1Char(';'), Qt::KeepEmptyParts);
}

QString AnswerField(const QStringList& fields, int index) {
    // A terminal that sends fewer fields than expected leaves the rest empty
    // rather than failing the whole exchange.
    return index >= 1 && index <= fields.size() ? fields[index - 1] : QString();
}

QString TerminalTimeStamp() { return TerminalTimeStamp(QDateTime::currentDateTime()); }

QString TerminalTimeStamp(const QDateTime& at) {
    const QDate d = at.date();
    const QTime t = at.time();
    return QString::asprintf("%4.4d%2.2d%2.2d%2.2d%2.2d%2.2d", d.year(), d.month(), d.day(), t.hour(),
                             t.minute(), t.second());
}

QString ComponentPortName(const QString& port) {
    // Without regard to case, as the component reads port names: "usb" in a
    // settings file means the same device.
    if (port.compare(QLatin1String("USB"), Qt::CaseInsensitive) == 0) return QStringLiteral("\\\\.\\WCEUSBSH001");
    return port;
}
