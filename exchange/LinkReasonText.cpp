#include "exchange/LinkReasonText.h"

#include <QRegularExpression>

#include <vector>

namespace {

struct ReasonPattern {
    QRegularExpression english;  // anchored at both ends
    QString russian;             // %1.. the captured names, in order
    int nestedGroup = 0;         // a captured group that is itself a reason
};

QRegularExpression Whole(const QString& pattern) {
    return QRegularExpression(QStringLiteral("^(?:%1)$").arg(pattern),
                              QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
}

// Most specific first: several reasons start alike.
const std::vector<ReasonPattern>& Patterns() {
    static const std::vector<ReasonPattern> patterns = {
        // Pairing.
        {Whole(QStringLiteral("pairing with (\\S+) refused: wrong code.*")),
         QStringLiteral("терминал %1 отклонил сопряжение: неверный код (или соединение перехвачено)")},
        {Whole(QStringLiteral("pairing with (\\S+) refused.*")), QStringLiteral("терминал %1 отклонил сопряжение")},
        {Whole(QStringLiteral("(?:the terminal at )?(\\S+) (?:takes|has) no (?:valid )?pairing code now.*")),
         QStringLiteral("терминал %1 сейчас не принимает код сопряжения (сопряжение на нем не открыто, код устарел "
                        "или уже использован, или неверный код вводили только что): откройте сопряжение на "
                        "терминале и введите новый код или повторите попытку через минуту")},
        {Whole(QStringLiteral("(\\S+) is not a network port.*")),
         QStringLiteral("%1 - не сетевой порт (нужен порт вида tcp:адрес:порт): сопряжение нужно только для "
                        "терминалов в сети")},
        {Whole(QStringLiteral("not a network port name.*")),
         QStringLiteral("это не имя сетевого порта (нужен порт вида tcp:адрес:порт)")},
        {Whole(QStringLiteral("the pairing code is 6 digits.*")), QStringLiteral("код сопряжения - 6 цифр")},
        {Whole(QStringLiteral("no folder for the link's key and pins.*")),
         QStringLiteral("нет папки для ключа и сертификатов связи")},
        {Whole(QStringLiteral("cannot (?:compute the pairing|make a key) \\(OpenSSL\\).*")),
         QStringLiteral("не удалось вычислить ключи (OpenSSL)")},
        {Whole(QStringLiteral("(\\S+): the connection broke during pairing.*")),
         QStringLiteral("%1: соединение прервалось во время сопряжения")},
        {Whole(QStringLiteral("paired with the terminal at (\\S+)")), QStringLiteral("терминал %1 сопряжен")},
        // The session on the network.
        {Whole(QStringLiteral("no TLS session with (\\S+) within (\\d+) ms.*")),
         QStringLiteral("защищенное соединение с %1 не установлено за %2 мс")},
        {Whole(QStringLiteral("the peer at (\\S+) presented no certificate.*")),
         QStringLiteral("устройство %1 не предъявило сертификат")},
        {Whole(QStringLiteral("the terminal at (\\S+) is not paired with this computer.*")),
         QStringLiteral("терминал %1 не сопряжен с этим компьютером: выполните сопряжение (кнопка "
                        "\"Сопряжение...\")")},
        {Whole(QStringLiteral("the terminal at (\\S+) presented another certificate.*")),
         QStringLiteral("терминал %1 предъявил не тот сертификат, с которым был сопряжен (другое устройство или "
                        "перехват соединения): соединение отклонено")},
        {Whole(QStringLiteral("the terminal at (\\S+) does not know this computer.*")),
         QStringLiteral("терминал %1 не знает этот компьютер: выполните сопряжение заново")},
        {Whole(QStringLiteral("the terminal at (\\S+) did not accept the session.*")),
         QStringLiteral("терминал %1 не принял сеанс связи")},
        {Whole(QStringLiteral("the terminal closed the connection.*")), QStringLiteral("терминал закрыл соединение")},
        {Whole(QStringLiteral("no answer from the terminal.*|the terminal does not answer.*")),
         QStringLiteral("терминал не отвечает")},
        {Whole(QStringLiteral("garbled data from the terminal.*")),
         QStringLiteral("от терминала пришли искаженные данные")},
        {Whole(QStringLiteral("the terminal did not confirm the end of the session.*")),
         QStringLiteral("терминал не подтвердил конец сеанса")},
        {Whole(QStringLiteral("the port failed: (.+)")), QStringLiteral("сбой порта: %1"), 1},
        // Files of the link.
        {Whole(QStringLiteral("(\\S+): busy or cannot be locked.*")),
         QStringLiteral("%1: файл занят или не может быть заблокирован")},
        {Whole(QStringLiteral("(\\S+): cannot create the folder.*")), QStringLiteral("%1: не удалось создать папку")},
        {Whole(QStringLiteral("(\\S+): cannot make a temporary file.*")),
         QStringLiteral("%1: не удалось создать временный файл")},
        {Whole(QStringLiteral("(\\S+): cannot be read.*")), QStringLiteral("%1: файл не читается")},
        {Whole(QStringLiteral("(\\S+): not a file of this user.*")),
         QStringLiteral("%1: файл принадлежит другому пользователю и не прочитан")},
        {Whole(QStringLiteral("(\\S+): not a key and certificate.*")),
         QStringLiteral("%1: это не ключ и сертификат (удалите файл и выполните сопряжение заново)")},
        {Whole(QStringLiteral("(\\S+): it is a link, not read.*")),
         QStringLiteral("%1: это ссылка, она не прочитана (удалите ее и выполните сопряжение заново)")},
        // The system's and the network's own words.
        {Whole(QStringLiteral("permission denied.*")), QStringLiteral("нет доступа")},
        {Whole(QStringLiteral("no such file or directory.*")), QStringLiteral("нет такого устройства или файла")},
        {Whole(QStringLiteral("device or resource busy.*")), QStringLiteral("устройство занято")},
        {Whole(QStringLiteral("connection refused.*")), QStringLiteral("в соединении отказано")},
        {Whole(QStringLiteral("(?:connection|socket operation) timed out.*")),
         QStringLiteral("время ожидания соединения истекло")},
        {Whole(QStringLiteral("host not found.*")), QStringLiteral("адрес не найден")},
        {Whole(QStringLiteral("network (?:is )?unreachable.*")), QStringLiteral("сеть недоступна")},
        {Whole(QStringLiteral("the remote host closed the connection.*")),
         QStringLiteral("другая сторона закрыла соединение")},
    };
    return patterns;
}

bool HasLatinWord(const QString& text) {
    static const QRegularExpression word(QStringLiteral("\\b[A-Za-z]{3,}\\b"));
    return text.contains(word);
}

QString Translate(const QString& reason, int depth) {
    const QString text = reason.trimmed();
    for (const ReasonPattern& pattern : Patterns()) {
        const QRegularExpressionMatch match = pattern.english.match(text);
        if (!match.hasMatch()) continue;
        QString russian = pattern.russian;
        for (int group = 1; group <= match.lastCapturedIndex(); ++group) {
            QString value = match.captured(group);
            if (group == pattern.nestedGroup && depth < 3) value = Translate(value, depth + 1);
            russian = russian.arg(value);
        }
        return russian;
    }
    // "<where>: <reason>": the place stays, the reason is translated.
    static const QRegularExpression placed(QStringLiteral("^(\\S+): (.+)$"),
                                           QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = placed.match(text);
    if (match.hasMatch() && depth < 3) return match.captured(1) + QStringLiteral(": ") + Translate(match.captured(2), depth + 1);
    // Already Russian (or only names and numbers): as it is.
    if (!HasLatinWord(text)) return text;
    return QStringLiteral("сбой связи с терминалом");
}

}  // namespace

QString LinkReasonInRussian(const QString& reason) { return Translate(reason, 0); }
