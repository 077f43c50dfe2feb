#pragma once
// The records the link figures are measured on.
//
// Realistic (the figures to quote): wares lines as a shop keeps them
// (code;name;EAN-13) with random EAN-13 barcodes of Russian makers carrying a
// valid check digit, names made of a product, a variety, a size and a brand
// drawn from vocabularies; journal lines as a terminal records scans of those
// wares (barcode;quantity;operation;executor;address;document;ware code;
// date and time;comment), the time running on through a working day.
//
// Synthetic (kept as a separate line, comparable with the earlier figures):
// numbers that count up and one repeated Cyrillic phrase, which compress far
// better than anything a user keeps.

#include <QRandomGenerator>
#include <QString>
#include <QStringList>

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

// A random EAN-13 of a Russian maker (460-469) with its check digit.
inline QString RandomEan13(QRandomGenerator& random) {
    QString code = QStringLiteral("46") + QString::number(random.bounded(10));
    for (int d = 0; d < 9; ++d) code += QChar(u'0' + random.bounded(10));
    int sum = 0;
    for (int d = 0; d < 12; ++d) sum += (code[d].unicode() - u'0') * (d % 2 ? 3 : 1);
    return code + QString::number((10 - sum % 10) % 10);
}

inline bool IsValidEan13(const QString& code) {
    if (code.size() != 13) return false;
    int sum = 0;
    for (int d = 0; d < 13; ++d) {
        if (!code[d].isDigit()) return false;
        sum += (code[d].unicode() - u'0') * (d % 2 ? 3 : 1);
    }
    return sum % 10 == 0;
}

// Wares of a shop and scans of them, the same for the same seed.
class CRealisticRecords {
public:
    explicit CRealisticRecords(int wares, quint32 seed = 20261208) : m_random(seed) {
        static const QStringList products{
            "Молоко", "Кефир", "Сметана", "Творог", "Йогурт", "Сыр", "Масло сливочное", "Хлеб", "Батон", "Печенье",
            "Пряники", "Вафли", "Конфеты", "Шоколад", "Чай черный", "Чай зеленый", "Кофе молотый", "Кофе растворимый",
            "Сок", "Нектар", "Вода минеральная", "Лимонад", "Крупа гречневая", "Рис", "Пшено", "Макароны",
            "Мука пшеничная", "Сахар", "Соль", "Масло подсолнечное", "Майонез", "Кетчуп", "Горошек зеленый",
            "Кукуруза", "Тушенка говяжья", "Сосиски", "Колбаса вареная", "Колбаса сырокопченая", "Пельмени",
            "Яйцо куриное", "Стиральный порошок", "Мыло туалетное", "Шампунь", "Зубная паста", "Салфетки",
            "Бумага туалетная", "Губки для посуды", "Средство для мытья посуды", "Корм для кошек", "Батарейки"};
        static const QStringList varieties{"",          "классический", "отборный",  "домашний",   "экстра",
                                           "с ванилью", "яблочный",     "апельсиновый", "томатный", "клубничный",
                                           "обезжиренный", "3,2%",      "2,5%",      "1%",          "высший сорт",
                                           "в/с",       "ГОСТ",         "детский",   "ароматный",  "мягкий"};
        static const QStringList sizes{"100 г", "200 г",  "250 г", "300 г", "400 г", "450 г", "500 г", "800 г",
                                       "900 г", "1 кг",   "2 кг",  "0,5 л", "0,9 л", "1 л",   "1,5 л", "2 л",
                                       "4 шт",  "10 шт",  "12 шт", "20 шт", "6x0,33 л"};
        static const QStringList brands{"Агрокомбинат", "Мираторг", "Простоквашино", "Фермерское", "Домик в деревне",
                                        "Вкусвилл",     "Село Зеленое", "Красный Октябрь", "Бабаевский", "Акконд",
                                        "Увелка",       "Мистраль",     "Макфа",          "Шебекинские", "Балтимор",
                                        "Черкизово",    "Останкино",    "Велком",         "Пестравка",   "Ясный луг",
                                        "Добрый",       "Любимый",      "Аквадив",        "Невская косметика",
                                        "Ласка",        "Зева",         "Мяу",            "Duracell",    "Kotany"};
        m_wares.reserve(wares);
        m_codes.reserve(wares);
        m_barcodes.reserve(wares);
        for (int i = 0; i < wares; ++i) {
            const QString code = QStringLiteral("Т%1").arg(i + 1, 6, 10, QLatin1Char('0'));
            const QString& variety = varieties[m_random.bounded(varieties.size())];
            const QString name = QStringLiteral("%1%2 %3 \"%4\"")
                                     .arg(products[m_random.bounded(products.size())],
                                          variety.isEmpty() ? QString() : QLatin1Char(' ') + variety,
                                          sizes[m_random.bounded(sizes.size())],
                                          brands[m_random.bounded(brands.size())]);
            const QString barcode = RandomEan13(m_random);
            m_codes << code;
            m_barcodes << barcode;
            m_wares << QStringLiteral("%1;%2;%3").arg(code, name, barcode);
        }
    }

    // The wares directory: code;name;EAN-13.
    const QStringList& Wares() const { return m_wares; }

    // `count` scans of these wares through a working day (and on into the next days).
    QStringList Journal(int count) {
        static const QStringList comments{"", "", "", "", "", "", "брак", "пересорт", "партия", "уценка"};
        QStringList lines;
        lines.reserve(count);
        qint64 second = 8 * 3600;
        for (int i = 0; i < count; ++i) {
            second += 1 + m_random.bounded(40);
            const int ware = m_random.bounded(static_cast<int>(m_wares.size()));
            const qint64 day = 8 + second / 86400;
            const qint64 s = second % 86400;
            lines << QStringLiteral("%1;%2;%3;%4;%5;%6;%7;%8.12.2026 %9:%10:%11;%12")
                         .arg(m_barcodes[ware])
                         .arg(m_random.bounded(100) < 80 ? 1 : m_random.bounded(2, 48))
                         .arg(m_random.bounded(1, 4))
                         .arg(m_random.bounded(1, 9))
                         .arg(m_random.bounded(1, 60))
                         .arg(m_random.bounded(1, 30))
                         .arg(m_codes[ware])
                         .arg(day % 28 + 1, 2, 10, QLatin1Char('0'))
                         .arg(s / 3600, 2, 10, QLatin1Char('0'))
                         .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                         .arg(s % 60, 2, 10, QLatin1Char('0'))
                         .arg(comments[m_random.bounded(comments.size())]);
        }
        return lines;
    }

private:
    QRandomGenerator m_random;
    QStringList m_wares, m_codes, m_barcodes;
};

// Wares of another shop, unlike CRealisticRecords in every column: the barcode
// first (EAN-13 and EAN-8, a fifth of them with a wrong check digit, some
// missing), codes of a group and a random number ("12-0345"), names from a
// smaller vocabulary with a count, a price with kopecks, a unit last. The
// record codec was not tuned on these.
class COtherShapeRecords {
public:
    explicit COtherShapeRecords(int wares, quint32 seed = 4242) : m_random(seed) {
        static const QStringList nouns{"Гвоздь", "Шуруп", "Болт", "Гайка", "Шайба", "Саморез", "Дюбель", "Анкер",
                                       "Заклепка", "Хомут"};
        static const QStringList kinds{"оцинкованный", "черный", "латунный", "нержавеющий", "строительный"};
        static const QStringList units{"шт", "кг", "уп"};
        m_wares.reserve(wares);
        for (int i = 0; i < wares; ++i) {
            QString barcode;
            const int roll = m_random.bounded(100);
            if (roll >= 5) barcode = Gtin(roll < 35 ? 8 : 13, roll % 5 != 0);
            const QString code = QStringLiteral("%1-%2")
                                     .arg(m_random.bounded(10, 40))
                                     .arg(m_random.bounded(10000), 4, 10, QLatin1Char('0'));
            const QString name = QStringLiteral("%1 %2 М%3x%4, %5 шт")
                                     .arg(nouns[m_random.bounded(nouns.size())], kinds[m_random.bounded(kinds.size())])
                                     .arg(m_random.bounded(3, 13))
                                     .arg(m_random.bounded(1, 20) * 5)
                                     .arg(m_random.bounded(1, 6) * 50);
            const QString price = QStringLiteral("%1.%2")
                                      .arg(m_random.bounded(1, 5000))
                                      .arg(m_random.bounded(100), 2, 10, QLatin1Char('0'));
            m_wares << QStringLiteral("%1;%2;%3;%4;%5").arg(barcode, code, name, price, units[m_random.bounded(3)]);
        }
    }
    const QStringList& Wares() const { return m_wares; }

private:
    QString Gtin(int length, bool validCheck) {
        QString code = length == 8 ? QStringLiteral("46") : QStringLiteral("2");
        while (code.size() < length - 1) code += QChar(u'0' + m_random.bounded(10));
        int sum = 0;
        for (int d = 0; d < length - 1; ++d) sum += (code[d].unicode() - u'0') * ((length - 1 - d) % 2 ? 3 : 1);
        const int check = (10 - sum % 10) % 10;
        return code + QString::number(validCheck ? check : (check + 1 + m_random.bounded(9)) % 10);
    }

    QRandomGenerator m_random;
    QStringList m_wares;
};
