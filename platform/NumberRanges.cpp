#include "platform/NumberRanges.h"

#include <algorithm>

namespace {

// A positive decimal number of at most 18 digits; 0 when it is none.
qint64 ReadNumber(QStringView text) {
    if (text.isEmpty() || text.size() > 18) return 0;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return 0;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

}  // namespace

bool CNumberRanges::Parse(QStringView text, CNumberRanges* ranges) {
    *ranges = CNumberRanges();
    if (text.isEmpty()) return true;
    CNumberRanges read;
    for (const QStringView part : text.split(QLatin1Char(','))) {
        const qsizetype dash = part.indexOf(QLatin1Char('-'));
        const qint64 first = ReadNumber(dash < 0 ? part : part.left(dash));
        const qint64 last = dash < 0 ? first : ReadNumber(part.mid(dash + 1));
        if (first <= 0 || last < first) return false;
        read.Add(first, last);
    }
    *ranges = read;
    return true;
}

QString CNumberRanges::Text() const {
    QString text;
    for (const Range& r : m_ranges) {
        if (!text.isEmpty()) text += QLatin1Char(',');
        text += QString::number(r.first);
        if (r.second != r.first) text += QLatin1Char('-') + QString::number(r.second);
    }
    return text;
}

bool CNumberRanges::Contains(qint64 number) const {
    const auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), number,
                                     [](qint64 n, const Range& r) { return n < r.first; });
    return it != m_ranges.begin() && number <= std::prev(it)->second;
}

qint64 CNumberRanges::Count() const {
    qint64 count = 0;
    for (const Range& r : m_ranges) count += r.second - r.first + 1;
    return count;
}

void CNumberRanges::Add(qint64 first, qint64 last) {
    if (first <= 0 || last < first) return;
    // Appending in order (the usual case) touches only the last range.
    if (!m_ranges.isEmpty() && first > m_ranges.last().second) {
        if (first == m_ranges.last().second + 1) m_ranges.last().second = last;
        else m_ranges.append({first, last});
        return;
    }
    QList<Range> merged;
    merged.reserve(m_ranges.size() + 1);
    bool placed = false;
    for (const Range& r : m_ranges) {
        if (r.second + 1 < first) {
            merged.append(r);
        } else if (last + 1 < r.first) {
            if (!placed) merged.append({first, last});
            placed = true;
            merged.append(r);
        } else {
            first = std::min(first, r.first);
            last = std::max(last, r.second);
        }
    }
    if (!placed) merged.append({first, last});
    m_ranges = merged;
}

void CNumberRanges::Add(const CNumberRanges& other) {
    for (const Range& r : other.m_ranges) Add(r.first, r.second);
}

void CNumberRanges::FillBelow(qint64 first) {
    if (first > 1) Add(1, first - 1);
}

CNumberRanges CNumberRanges::First(qint64 count) const {
    CNumberRanges first;
    for (const Range& r : m_ranges) {
        if (count <= 0) break;
        const qint64 take = std::min(count, r.second - r.first + 1);
        first.m_ranges.append({r.first, r.first + take - 1});
        count -= take;
    }
    return first;
}
