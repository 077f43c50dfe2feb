#pragma once
// A set of positive whole numbers kept as sorted, disjoint ranges, and its
// text "1-500,502,510-520" (decimal, no blanks; the empty text is the empty
// set). The journal's scan numbers travel and are kept this way: what a file
// holds, what a download brings, what a clear erases.

#include <QList>
#include <QString>

#include <utility>

class CNumberRanges {
public:
    using Range = std::pair<qint64, qint64>;  // first, last (inclusive)

    CNumberRanges() = default;
    // Reads the text; false (and an empty set) when it is not one.
    static bool Parse(QStringView text, CNumberRanges* ranges);
    QString Text() const;

    bool IsEmpty() const { return m_ranges.isEmpty(); }
    bool Contains(qint64 number) const;
    qint64 Count() const;
    qint64 Last() const { return m_ranges.isEmpty() ? 0 : m_ranges.last().second; }
    const QList<Range>& Ranges() const { return m_ranges; }

    void Add(qint64 first, qint64 last);
    void Add(qint64 number) { Add(number, number); }
    void Add(const CNumberRanges& other);
    // Every number below `first` is taken as held: nothing below it exists
    // any more, so the set stays a few ranges however long it is kept.
    void FillBelow(qint64 first);
    // The first `count` numbers of the set, in order.
    CNumberRanges First(qint64 count) const;

    bool operator==(const CNumberRanges& other) const { return m_ranges == other.m_ranges; }

private:
    QList<Range> m_ranges;
};
