#pragma once
// The records the link figures are measured on: ware directory lines and
// journal lines shaped like the ones users keep (numbers that count up,
// repeated Cyrillic words, prices, dates).

#include <QString>

inline QString BenchWareLine(int i) {
    return QStringLiteral("%1;460%2;Товар номер %3, упаковка %4 шт;шт;%5.%6")
        .arg(i)
        .arg(i, 10, 10, QLatin1Char('0'))
        .arg(i)
        .arg(i % 24 + 1)
        .arg(i % 1000)
        .arg(i % 100, 2, 10, QLatin1Char('0'));
}

inline QString BenchJournalLine(int i) {
    return QStringLiteral("460%1;%2;%3;%4;%5;%6;Товар %7;20240115 12:%8:%9;")
        .arg(i, 10, 10, QLatin1Char('0'))
        .arg(i % 7 + 1)
        .arg(i % 5 + 1)
        .arg(i % 3 + 1)
        .arg(i % 11 + 1)
        .arg(i % 13 + 1)
        .arg(i)
        .arg(i % 60, 2, 10, QLatin1Char('0'))
        .arg(i % 59, 2, 10, QLatin1Char('0'));
}
