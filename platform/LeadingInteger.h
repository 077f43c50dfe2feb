#pragma once
// The one rule for reading the number a text begins with, as the C library's
// atoi reads it in the "C" locale: white space (space, tab, line feed,
// vertical tab, form feed, carriage return) is skipped, then an optional sign
// and the decimal digits that follow; anything else ends the number. No
// digits read as 0, and a number beyond the int range reads as the nearest
// end of it. Terminal answers, directory IDs and the configuration's numbers
// all come from programs that read them this way, so a space outside ASCII
// (a no-break space) is not white space here: it ends the number.

#include <QByteArrayView>
#include <QStringView>

#include <climits>
#include <type_traits>

namespace LeadingIntegerDetail {

template <typename Char>
constexpr int Read(const Char* text, qsizetype size) {
    const auto at = [text](qsizetype i) { return static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(text[i])); };
    qsizetype i = 0;
    while (i < size && (at(i) == ' ' || (at(i) >= '\t' && at(i) <= '\r'))) ++i;
    bool negative = false;
    if (i < size && (at(i) == '+' || at(i) == '-')) negative = at(i++) == '-';
    long long value = 0;
    for (; i < size && at(i) >= '0' && at(i) <= '9'; ++i) {
        value = value * 10 + (at(i) - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;  // saturate
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace LeadingIntegerDetail

// Bytes: a byte of a multi-byte character is never a digit, sign or space.
inline int LeadingInteger(QByteArrayView text) { return LeadingIntegerDetail::Read(text.data(), text.size()); }
inline int LeadingInteger(QStringView text) { return LeadingIntegerDetail::Read(text.utf16(), text.size()); }
