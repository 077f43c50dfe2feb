#include "config/SqlText.h"

#include "storage/SQLite3.h"

namespace ConfigSql {

QString Format(QStringView sqlTemplate, const QStringList& args) {
    QString sql;
    sql.reserve(sqlTemplate.size() + 64);
    qsizetype next = 0;
    for (qsizetype i = 0; i < sqlTemplate.size(); ++i) {
        const QChar c = sqlTemplate[i];
        if (c == QLatin1Char('%') && i + 1 < sqlTemplate.size() &&
            (sqlTemplate[i + 1] == QLatin1Char('s') || sqlTemplate[i + 1] == QLatin1Char('i'))) {
            const QString arg = next < args.size() ? args[next] : QString();
            ++next;
            const bool quoted = i > 0 && sqlTemplate[i - 1] == QLatin1Char('\'');
            sql += quoted ? SQLite3::Quote(arg) : arg;
            ++i;
            continue;
        }
        sql += c;
    }
    return sql;
}

static bool IsDecimalInteger(const QString& text) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) ++i;
    if (i == t.size()) return false;
    for (; i < t.size(); ++i)
        if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9')) return false;
    return true;
}

QString Number(const QString& value) {
    if (IsDecimalInteger(value)) return value;
    return QLatin1Char('\'') + SQLite3::Quote(value) + QLatin1Char('\'');
}

}  // namespace ConfigSql
