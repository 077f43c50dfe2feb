#include "components/parlink/protocol/RecordBlock.h"

#include "components/parlink/protocol/LiteralFrame.h"

#include <zstd.h>

#include <QByteArrayView>

#include <algorithm>
#include <bit>
#include <cstring>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace Link {
namespace {

// A stream's plain size a decoder accepts: records, dictionaries and values
// of one block never need more.
constexpr qsizetype kMaxStreamBytes = qsizetype(4) << 20;
constexpr int kMaxDigits = 19;  // every 19-digit number fits 64 bits
// A number's group: its digit count and whether its check digit is left out.
constexpr int kGroupKeys = 2 * (kMaxDigits + 1);
constexpr int GroupKey(int digits, bool checkOmitted) { return 2 * digits + (checkOmitted ? 1 : 0); }
constexpr int kMaxPrefix = 16;
// Separators a number column may hold once inside its digits ("12.50",
// "3,2", "12-0345", "7/12", "10:30"); the first is none.
constexpr char kSeparators[] = {'\0', '.', ',', '-', '/', ':'};
// A words column's dictionary holds at most this many words (a column with
// more distinct words is sent as text).
constexpr std::uint64_t kMaxWords = 65536;
// Codes of the first, second, third and every later word (or token) of a
// field go to streams of their own: each place draws from its own few
// words, and each stream gets its own entropy code.
constexpr int kCodePlaces = 4;

enum Transform : std::uint8_t {
    kText = 0, kWords = 1, kNumber = 2, kDateTime = 3, kTokens = 4, kRows = 5, kSameRow = 6
};
// A rows column's row numbers take at most this many bytes each.
constexpr int kMaxRowWidth = 4;
// How many of a column's first fields a reference is tried on before a
// whole pass over the column.
constexpr size_t kGlance = 16;
// How many fields ahead each stage of a reference's lookup is asked for.
constexpr size_t kLookAhead = 16;
enum FieldKind : std::uint8_t { kFits = 0, kFitsCheckOmitted = 1, kAsText = 2 };
enum NumberFlags : std::uint8_t { kDelta = 1, kCheckDigits = 2 };
enum DatePattern : std::uint8_t { kDayMonthYearTime = 1, kIsoDateTime = 2, kDayMonthYear = 3 };

using Field = std::string_view;
// What the encoder writes into: appending a few bytes to a std::string is a
// handful of instructions, where QByteArray goes through its general insert.
using Bytes = std::string;

// ---- bytes in and out ----------------------------------------------------

void PutLeb(Bytes& out, std::uint64_t n) {
    // Written whole: most values are one byte, and a byte-wise append costs
    // more than the encoding.
    char bytes[10];
    int size = 0;
    while (n >= 0x80) {
        bytes[size++] = static_cast<char>(0x80 | (n & 0x7F));
        n >>= 7;
    }
    bytes[size++] = static_cast<char>(n);
    out.append(bytes, static_cast<size_t>(size));
}

void PutBytes(Bytes& out, Field f) { out.append(f.data(), f.size()); }

void PutText(Bytes& out, Field f) {
    PutLeb(out, f.size());
    PutBytes(out, f);
}

std::uint64_t ZigZag(std::uint64_t delta) {
    return (delta << 1) ^ (0 - (delta >> 63));
}
std::uint64_t UnZigZag(std::uint64_t z) { return (z >> 1) ^ (0 - (z & 1)); }

class CReader {
public:
    CReader() = default;
    CReader(const char* data, qsizetype size)
        : m_p(reinterpret_cast<const std::uint8_t*>(data)), m_end(m_p + size) {}
    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_p == m_end; }
    void Fail() { m_ok = false; m_p = m_end; }
    std::uint8_t Byte() {
        if (m_p == m_end) { Fail(); return 0; }
        return *m_p++;
    }
    std::uint64_t Leb(std::uint64_t limit = ~std::uint64_t(0)) {
        std::uint64_t n = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const std::uint8_t b = Byte();
            if (!m_ok) return 0;
            if (shift == 63 && b > 1) break;
            n |= std::uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80)) {
                if (n > limit) break;
                return n;
            }
        }
        Fail();
        return 0;
    }
    Field Bytes(std::uint64_t n) {
        if (!m_ok || n > std::uint64_t(m_end - m_p)) { Fail(); return {}; }
        const Field f(reinterpret_cast<const char*>(m_p), n);
        m_p += n;
        return f;
    }
    Field Text() { return Bytes(Leb(kBlockMaxRecordBytes)); }

private:
    const std::uint8_t* m_p = nullptr;
    const std::uint8_t* m_end = nullptr;
    bool m_ok = true;
};

// Eight bytes from `at` as a mask with the top bit of each byte that is a
// ';' set, and no other bit (the exact form: no borrow runs from one byte
// into the next).
std::uint64_t SemicolonsIn(const char* at) {
    constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7Full;
    constexpr std::uint64_t kSemicolons = 0x0101010101010101ull * static_cast<std::uint8_t>(';');
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    const std::uint64_t x = word ^ kSemicolons;  // a zero byte where a ';' is
    return ~(((x & kLows) + kLows) | x | kLows);
}

// ---- streams: raw size | packed size (0: stored) | bytes -----------------

struct FreeC { void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); } };
struct FreeD { void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); } };

class CStreamWriter {
public:
    explicit CStreamWriter(int level) : m_level(level) {}
    void Put(Bytes& out, const Bytes& raw) {
        PutLeb(out, static_cast<std::uint64_t>(raw.size()));
        if (raw.size() >= kBlockPackFrom && m_level <= 1 && PackLiterals(raw)) {
            PutLeb(out, static_cast<std::uint64_t>(m_packed.size()));
            out.append(m_packed);
            return;
        }
        if (raw.size() >= kBlockPackFrom && Pack(raw)) {
            PutLeb(out, static_cast<std::uint64_t>(m_packed.size()));
            out.append(m_packed);
            return;
        }
        PutLeb(out, 0);
        out.append(raw);
    }

private:
    // At the cheap level, a stream of a few values (digit counts, kinds,
    // small codes and numbers) goes as Huffman-coded literals: smaller than
    // zstd makes it, for a fraction of its time (LiteralFrame.h). Where one
    // value fills most of the stream, its runs pack better with zstd; so do
    // streams of more values, which zstd packs as well or better, and whose
    // runs of values repeat (in the session's stream too, from one block
    // to the next, where the literals' bits would not).
    // A stream whose bytes repeat long runs of what came before (a column
    // counting up, or cycling through a few values) is zstd's too: 32
    // bytes seen before, in its first KiB, at every second place looked at.
    // (Shorter runs repeat by chance where there are few values.)
    bool PackLiterals(const Bytes& raw) {
        const auto* data = reinterpret_cast<const unsigned char*>(raw.data());
        const ByteCounts counts = CountBytes(data, raw.size());
        const std::uint64_t top = counts.top, all = raw.size();
        if (counts.distinct > 1 && (counts.distinct > kFewValues || top * 8 > all * 7 || Repetitive(raw))) return false;
        m_packed.clear();
        return AppendLiteralFrame(data, raw.size(), counts, m_packed);
    }

    bool Repetitive(const Bytes& raw) {
        constexpr size_t kSample = 1024, kWindow = 32, kStep = 4;
        const size_t sample = std::min(raw.size(), kSample);
        if (sample < 2 * kWindow) return false;
        m_seen.assign(kSeenSlots, 0);
        size_t repeated = 0, looked = 0;
        // Every fourth place: a run that repeats does so at all of them.
        for (size_t i = 0; i + kWindow <= sample; i += kStep, ++looked) {
            std::uint64_t w[4];
            std::memcpy(w, raw.data() + i, kWindow);
            const std::uint64_t mixed = (w[0] * 0x9E3779B97F4A7C15ull) ^ (w[1] * 0xC2B2AE3D27D4EB4Full) ^
                                        (w[2] * 0x165667B19E3779F9ull) ^ (w[3] * 0x27D4EB2F165667C5ull);
            const auto slot = static_cast<size_t>(mixed >> 52);  // 12 bits
            const std::uint16_t before = m_seen[slot];  // position + 1; 0: none
            if (before != 0 && std::memcmp(raw.data() + before - 1, raw.data() + i, kWindow) == 0) ++repeated;
            m_seen[slot] = static_cast<std::uint16_t>(i + 1);
        }
        return repeated * 2 >= looked;
    }

    bool Pack(const Bytes& raw) {
        // A stream of one byte repeated (a column's kinds, where every field
        // fits) packs the same every time: packed once for each length.
        const bool repeated = raw.find_first_not_of(raw[0]) == Bytes::npos;
        if (repeated)
            for (const Repeated& r : m_repeated)
                if (r.byte == raw[0] && r.size == raw.size()) {
                    m_packed = r.packed;
                    return !m_packed.empty();
                }
        const bool packed = Compress(raw);
        if (repeated) {
            if (m_repeated.size() == kRepeatedKept) m_repeated.erase(m_repeated.begin());
            m_repeated.push_back(Repeated{raw[0], raw.size(), packed ? m_packed : Bytes()});
        }
        return packed;
    }

    bool Compress(const Bytes& raw) {
        if (!m_ctx) {
            // Made once and kept for every stream after: a context's tables
            // are its main cost, and a run's blocks reuse them.
            m_ctx.reset(ZSTD_createCCtx());
            if (!m_ctx) return false;
            ZSTD_CCtx* c = m_ctx.get();
            ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, m_level);
            if (m_level <= 1) ZSTD_CCtx_setParameter(c, ZSTD_c_minMatch, 7);
            // The block already says the plain size, and the link checks every byte.
            ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 0);
            ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 0);
            ZSTD_CCtx_setParameter(c, ZSTD_c_dictIDFlag, 0);
        }
        ZSTD_CCtx* c = m_ctx.get();
        ZSTD_CCtx_reset(c, ZSTD_reset_session_only);
        m_packed.resize(ZSTD_compressBound(raw.size()));
        const size_t n = ZSTD_compress2(c, m_packed.data(), m_packed.size(), raw.data(), raw.size());
        if (ZSTD_isError(n) || n == 0 || n >= raw.size()) return false;
        m_packed.resize(n);
        return true;
    }

    struct Repeated {
        char byte;
        size_t size;
        Bytes packed;  // empty: zstd did not shrink it
    };
    static constexpr size_t kRepeatedKept = 32;

    static constexpr size_t kSeenSlots = 4096;
    static constexpr int kFewValues = 4;

    int m_level;
    std::unique_ptr<ZSTD_CCtx, FreeC> m_ctx;
    Bytes m_packed;
    std::vector<Repeated> m_repeated;
    std::vector<std::uint16_t> m_seen;  // Repetitive's last place of each window's hash
};

class CStreamReader {
public:
    // The next stream of `in` into `out` (its reader); false when unsound.
    bool Get(CReader& in, QByteArray& store, CReader* out) {
        const std::uint64_t raw = in.Leb(kMaxStreamBytes);
        const std::uint64_t packed = in.Leb(kMaxStreamBytes);
        if (!in.Ok()) return false;
        if (packed == 0) {
            const Field f = in.Bytes(raw);
            if (!in.Ok()) return false;
            *out = CReader(f.data(), static_cast<qsizetype>(f.size()));
            return true;
        }
        const Field f = in.Bytes(packed);
        if (!in.Ok() || raw == 0) return false;
        if (!m_ctx) {
            m_ctx.reset(ZSTD_createDCtx());
            if (!m_ctx) return false;
            ZSTD_DCtx_setParameter(m_ctx.get(), ZSTD_d_windowLogMax, 23);
        }
        store.resize(static_cast<qsizetype>(raw));
        const size_t n = ZSTD_decompressDCtx(m_ctx.get(), store.data(), raw, f.data(), f.size());
        if (ZSTD_isError(n) || n != raw) return false;
        *out = CReader(store.constData(), store.size());
        return true;
    }

private:
    std::unique_ptr<ZSTD_DCtx, FreeD> m_ctx;
};

// ---- numbers ---------------------------------------------------------------

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The check digit of a GTIN (EAN-8, UPC-A, EAN-13, GTIN-14) whose other
// digits are `value`'s `digits` decimal places: weights 3, 1, 3, ... from
// the right.
int CheckDigitOf(std::uint64_t value, int digits) {
    int sum = 0;
    for (int i = 0; i < digits; ++i) {
        sum += static_cast<int>(value % 10) * (i % 2 == 0 ? 3 : 1);
        value /= 10;
    }
    return (10 - sum % 10) % 10;
}

bool HasCheckDigitLength(int digits) { return digits == 8 || digits == 12 || digits == 13 || digits == 14; }

std::uint64_t Pow10(int n) {
    std::uint64_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

struct NumberParams {
    std::string prefix;
    char separator = 0;
    std::uint8_t flags = 0;
};

// A field read as a number of the column.
// Small, as a block reads a column of 4096 of them at a time.
struct NumberField {
    std::uint64_t value = 0;  // the digits, without an omitted check digit
    std::int8_t digits = 0;   // digits in the field, check digit included
    std::int8_t scale = 0;    // 0: no separator; s + 1: separator before the last s digits
    bool checkOmitted = false;
};

// Read for every field of every number column: worth having in the loops
// that call it.
#if defined(__GNUC__)
[[gnu::always_inline]]
#endif
inline bool ReadNumber(Field f, const NumberParams& p, NumberField* n) {
    const size_t prefix = p.prefix.size();
    if (f.size() <= prefix || (prefix != 0 && f.compare(0, prefix, p.prefix) != 0)) return false;
    const char* const c = f.data() + prefix;
    const size_t length = f.size() - prefix;
    std::uint64_t value = 0;
    int digits = 0;
    int sepAt = -1;
    // The digits' sums at even and odd places from the left: the check digit
    // comes from them without taking the value apart again.
    int sums[2] = {0, 0};
    if (p.separator == 0) {
        // Digits only (most columns): every byte a digit, their count the length.
        if (length > static_cast<size_t>(kMaxDigits)) return false;
        int even = 0, odd = 0;
        for (size_t i = 0; i < length; ++i) {
            const unsigned d = static_cast<unsigned char>(c[i]) - unsigned('0');
            if (d > 9) return false;
            value = value * 10 + d;
            if (i & 1) odd += static_cast<int>(d);
            else even += static_cast<int>(d);
        }
        digits = static_cast<int>(length);
        sums[0] = even;
        sums[1] = odd;
    } else {
        for (size_t i = 0; i < length; ++i) {
            const char ch = c[i];
            if (IsDigit(ch)) {
                sums[digits & 1] += ch - '0';
                if (++digits > kMaxDigits) return false;
                value = value * 10 + static_cast<std::uint64_t>(ch - '0');
            } else if (ch == p.separator && sepAt < 0) {
                sepAt = digits;
            } else {
                return false;
            }
        }
    }
    if (digits == 0) return false;
    n->value = value;
    n->digits = static_cast<std::int8_t>(digits);
    n->scale = static_cast<std::int8_t>(sepAt < 0 ? 0 : digits - sepAt + 1);
    n->checkOmitted = false;
    if ((p.flags & kCheckDigits) && n->scale == 0 && HasCheckDigitLength(digits)) {
        // Weight 3 on the data digit next to the check digit, then 1, 3, ...
        const int last = static_cast<int>(value % 10);
        const int heavy = sums[digits & 1];
        const int light = sums[(digits & 1) ^ 1] - last;
        if ((10 - (3 * heavy + light) % 10) % 10 != last) return true;
        n->value = value / 10;
        n->checkOmitted = true;
    }
    return true;
}

void AppendNumber(Bytes& out, const NumberParams& p, const NumberField& n) {
    char text[kMaxPrefix + kMaxDigits + 1];
    size_t len = p.prefix.size();
    std::memcpy(text, p.prefix.data(), len);
    char digits[kMaxDigits];
    std::uint64_t v = n.value;
    int count = n.digits;
    if (n.checkOmitted) digits[--count] = static_cast<char>('0' + CheckDigitOf(n.value, n.digits - 1));
    for (int i = count - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    const int sepAt = n.scale == 0 ? -1 : n.digits - (n.scale - 1);
    for (int i = 0; i < n.digits; ++i) {
        if (i == sepAt) text[len++] = p.separator;
        text[len++] = digits[i];
    }
    if (sepAt == n.digits) text[len++] = p.separator;
    out.append(text, len);
}

int BytesFor(std::uint64_t v) {
    int w = 1;
    while (w < 8 && (v >> (8 * w)) != 0) ++w;
    return w;
}

// ---- dates -------------------------------------------------------------------

// Days since 0000-03-01 of a proleptic Gregorian date (H. Hinnant's method).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe);
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

// The patterns: 'D' 'M' 'Y' 'h' 'm' 's' digits, anything else literal.
const char* PatternText(std::uint8_t pattern) {
    switch (pattern) {
    case kDayMonthYearTime: return "DD.MM.YYYY hh:mm:ss";
    case kIsoDateTime: return "YYYY-MM-DD hh:mm:ss";
    case kDayMonthYear: return "DD.MM.YYYY";
    default: return nullptr;
    }
}

// A pattern letter's place among a date's values (year, month, day, hour,
// minute, second); -1 for a character written as it stands.
constexpr int kDateSlots = 6;
constexpr int DateSlot(char c) {
    switch (c) {
    case 'Y': return 0;
    case 'M': return 1;
    case 'D': return 2;
    case 'h': return 3;
    case 'm': return 4;
    case 's': return 5;
    default: return -1;
    }
}

// A pattern read once: each place's slot (or -1) and its length.
struct DateLayout {
    size_t length = 0;
    const char* text = nullptr;
    signed char slot[32] = {};
};

const DateLayout* LayoutOf(std::uint8_t pattern) {
    static const auto kLayouts = [] {
        std::array<DateLayout, 4> layouts{};
        for (std::uint8_t p = kDayMonthYearTime; p <= kDayMonthYear; ++p) {
            DateLayout& l = layouts[p];
            l.text = PatternText(p);
            l.length = std::char_traits<char>::length(l.text);
            for (size_t i = 0; i < l.length; ++i) l.slot[i] = static_cast<signed char>(DateSlot(l.text[i]));
        }
        return layouts;
    }();
    return pattern >= kDayMonthYearTime && pattern <= kDayMonthYear ? &kLayouts[pattern] : nullptr;
}

// Seconds since 0000-03-01 00:00:00 for a field written in `pattern` with a
// real date and time (so writing it back gives the same bytes).
bool ReadDate(Field f, std::uint8_t pattern, std::uint64_t* seconds) {
    const DateLayout* layout = LayoutOf(pattern);
    if (!layout || f.size() != layout->length) return false;
    int v[kDateSlots] = {};
    for (size_t i = 0; i < layout->length; ++i) {
        const int slot = layout->slot[i];
        if (slot >= 0) {
            const unsigned d = static_cast<unsigned char>(f[i]) - unsigned('0');
            if (d > 9) return false;
            v[slot] = v[slot] * 10 + static_cast<int>(d);
        } else if (f[i] != layout->text[i]) {
            return false;
        }
    }
    const int year = v[0], month = v[1], day = v[2], hour = v[3], minute = v[4], second = v[5];
    if (year < 1 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return false;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
    *seconds = static_cast<std::uint64_t>(DaysFromCivil(year, static_cast<unsigned>(month),
                                                        static_cast<unsigned>(day))) * 86400 +
               static_cast<std::uint64_t>(hour * 3600 + minute * 60 + second);
    return true;
}

// False for a number of seconds outside the years 1..9999.
bool AppendDate(Bytes& out, std::uint8_t pattern, std::uint64_t seconds) {
    static const std::uint64_t kFirst = static_cast<std::uint64_t>(DaysFromCivil(1, 1, 1)) * 86400;
    static const std::uint64_t kEnd = static_cast<std::uint64_t>(DaysFromCivil(10000, 1, 1)) * 86400;
    if (seconds < kFirst || seconds >= kEnd) return false;
    const char* p = PatternText(pattern);
    if (pattern == kDayMonthYear && seconds % 86400 != 0) return false;
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(static_cast<std::int64_t>(seconds / 86400), &year, &month, &day);
    const unsigned s = static_cast<unsigned>(seconds % 86400);
    int v[kDateSlots] = {static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                         static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60)};
    const size_t len = std::char_traits<char>::length(p);
    char text[32];
    // Digits are written from the right of each run.
    for (size_t i = len; i-- > 0;) {
        const char c = p[i];
        if (const int slot = DateSlot(c); slot >= 0) {
            int& x = v[slot];
            text[i] = static_cast<char>('0' + x % 10);
            x /= 10;
        } else {
            text[i] = c;
        }
    }
    out.append(text, len);
    return true;
}

// ---- words -----------------------------------------------------------------

// Where the token at the start of `f` (not empty) ends: a run of digits, a
// run of letters (ASCII letters and every byte from 0x80, which covers
// Windows-1251 letters and UTF-8 sequences), or any other byte alone.
size_t TokenEnd(Field f) {
    auto letter = [](unsigned char c) { return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto first = static_cast<unsigned char>(f[0]);
    size_t i = 1;
    if (IsDigit(static_cast<char>(first))) {
        while (i < f.size() && IsDigit(f[i])) ++i;
    } else if (letter(first)) {
        while (i < f.size() && letter(static_cast<unsigned char>(f[i]))) ++i;
    }
    return i;
}

// Words follow words: "Масло" is followed by "сливочное" or "подсолнечное",
// a size by its unit. Each word (and the start of a field) keeps the list of
// words that followed it so far, a word used again moving one place towards
// the front. A word is written as its place in its predecessor's list, or,
// when it never followed that word before, as the list's length plus its
// dictionary id (and joins the end of the list). The codes of a column are
// then mostly 0 and 1, which pack far better than the ids.
class CSuccessors {
public:
    explicit CSuccessors(std::size_t words) : m_words(words), m_lists(words + 1) {}
    std::uint32_t Start() const { return static_cast<std::uint32_t>(m_words); }

    // The code of `id` after `prev`.
    std::uint64_t Code(std::uint32_t prev, std::uint32_t id) {
        std::vector<std::uint32_t>& list = m_lists[prev];
        // Most lists are short: a look along them beats a hash. A list that
        // grows long is indexed from then on (m_place holds each of its words).
        const bool indexed = list.size() > kScanned;
        std::uint32_t place = 0;
        if (!indexed) {
            while (place < list.size() && list[place] != id) ++place;
        } else if (const auto it = m_place.find(Key(prev, id)); it != m_place.end()) {
            place = it->second;
        } else {
            place = static_cast<std::uint32_t>(list.size());
        }
        if (place == list.size()) {
            const std::uint64_t code = list.size() + id;
            list.push_back(id);
            if (indexed) {
                m_place.emplace(Key(prev, id), place);
            } else if (list.size() > kScanned) {
                for (std::uint32_t k = 0; k < list.size(); ++k) m_place[Key(prev, list[k])] = k;
            }
            return code;
        }
        if (place > 0) {
            std::swap(list[place], list[place - 1]);
            if (indexed) {
                m_place[Key(prev, list[place])] = place;
                m_place[Key(prev, id)] = place - 1;
            }
        }
        return place;
    }

    // The word of `code` after `prev`; false when the code names no word.
    bool Word(std::uint32_t prev, std::uint64_t code, std::uint32_t* id) {
        std::vector<std::uint32_t>& list = m_lists[prev];
        if (code < list.size()) {
            const std::size_t place = static_cast<std::size_t>(code);
            *id = list[place];
            if (place > 0) std::swap(list[place], list[place - 1]);
            return true;
        }
        code -= list.size();
        if (code >= m_words) return false;
        *id = static_cast<std::uint32_t>(code);
        list.push_back(*id);
        return true;
    }

private:
    static constexpr std::size_t kScanned = 16;
    std::uint64_t Key(std::uint32_t prev, std::uint32_t id) const { return std::uint64_t(prev) << 32 | id; }

    std::size_t m_words;
    std::vector<std::vector<std::uint32_t>> m_lists;
    // The encoder's index into the lists longer than kScanned.
    std::unordered_map<std::uint64_t, std::uint32_t> m_place;
};

// A column's words by their bytes, each given the next id the first time
// it comes: open addressing over a hash of the word. Clear and Take are
// what a column of mostly short words costs per field.
class CWordIndex {
public:
    // Empties the index, with room for about `expected` words.
    void Clear(size_t expected) {
        size_t size = 64;
        while (size < 2 * expected) size <<= 1;
        m_slots.assign(size, 0);
        m_mask = size - 1;
        m_hashes.clear();
    }
    // The id of `word`; a new one (words.size()) is appended to `words`.
    std::uint32_t Take(Field word, std::vector<Field>& words) {
        const std::uint64_t h = Hash(word);
        size_t i = static_cast<size_t>(h) & m_mask;
        for (; m_slots[i] != 0; i = (i + 1) & m_mask) {
            const std::uint32_t id = m_slots[i] - 1;
            if (m_hashes[id] == h && words[id] == word) return id;
        }
        const auto id = static_cast<std::uint32_t>(words.size());
        words.push_back(word);
        m_hashes.push_back(h);
        m_slots[i] = id + 1;
        if (2 * words.size() > m_slots.size()) Grow();
        return id;
    }

private:
    static std::uint64_t Hash(Field w) {
        std::uint64_t h = 0x9E3779B97F4A7C15ull ^ w.size();
        const auto mix = [&h](std::uint64_t x) {
            h = (h ^ x) * 0xff51afd7ed558ccdull;
            h ^= h >> 32;
        };
        size_t i = 0;
        for (; i + 8 <= w.size(); i += 8) {
            std::uint64_t x;
            std::memcpy(&x, w.data() + i, 8);
            mix(x);
        }
        if (i < w.size()) {
            std::uint64_t x = 0;
            std::memcpy(&x, w.data() + i, w.size() - i);
            mix(x);
        }
        h ^= h >> 29;
        return h * 0xc4ceb9fe1a85ec53ull;
    }
    void Grow() {
        m_slots.assign(2 * m_slots.size(), 0);
        m_mask = m_slots.size() - 1;
        for (std::uint32_t id = 0; id < m_hashes.size(); ++id) {
            size_t i = static_cast<size_t>(m_hashes[id]) & m_mask;
            while (m_slots[i] != 0) i = (i + 1) & m_mask;
            m_slots[i] = id + 1;
        }
    }

    std::vector<std::uint32_t> m_slots;  // id + 1; 0: empty
    size_t m_mask = 0;
    std::vector<std::uint64_t> m_hashes;  // by id
};

// ---- the encoder ---------------------------------------------------------------

// How a column was written in the previous block of the same records: the
// next block tries that way first, in one pass over the column, and makes
// the whole choice again only when most of its fields no longer fit it.
struct ColumnPlan {
    enum class Way : std::uint8_t { kNone, kText, kWords, kTokens, kNumber, kDate } way = Way::kNone;
    NumberParams number;         // kNumber: prefix and separator
    std::uint8_t datePattern = 0;  // kDate
};

class CEncoder {
public:
    // `streams` packs at `level`, `probe` at 1 (both kept by the caller
    // across blocks); `plans` as ColumnPlan says, nullptr none.
    // One encoder serves a run of blocks: its buffers keep their capacity
    // from one block to the next.
    CEncoder(int level, CStreamWriter& streams, CStreamWriter& probe, std::vector<ColumnPlan>* plans = nullptr)
        : m_level(level), m_streams(streams), m_probe(probe), m_plans(plans) {}

    QByteArray Encode(BlockCoding coding, const std::vector<QByteArrayView>& records,
                      const CBlockReference* reference) {
        const size_t n = records.size();
        m_coding = coding;
        m_reference = reference;
        // Each column's fields, and the record each of them belongs to, in one
        // pass over the records. Columns are sized for the most they can
        // hold and written through raw pointers; cut to size after.
        size_t used = 0;
        Bytes& counts = m_counts;
        counts.resize(n);
        // Which record each field belongs to matters only to the columns
        // that refer to a reference's rows.
        const bool owned = reference != nullptr;
        // Where each column's next field and owner go. Kept in this frame:
        // the stores through them then need no reload of a member after each.
        Field* fieldAt[kBlockMaxColumns];
        std::uint32_t* ownerAt[kBlockMaxColumns];
        char* const countOut = counts.data();
        for (size_t r = 0; r < n; ++r) {
            const char* at = records[r].data();
            const char* const end = at + records[r].size();
            size_t count = 0;
            // The field that ends at `stop` (a ';', or the record's end).
            const auto take = [&](const char* stop) {
                if (count == used) {
                    AddColumn(&used, n - r);
                    fieldAt[count] = m_fieldOut[count];
                    ownerAt[count] = m_ownerOut[count];
                }
                *fieldAt[count]++ = Field(at, static_cast<size_t>(stop - at));
                if (owned) *ownerAt[count]++ = static_cast<std::uint32_t>(r);
                ++count;
                at = stop + 1;
            };
            // Every ';' of eight bytes at a time, one after another from the
            // word's mask (a field is shorter than a word, mostly); the
            // last column keeps the rest of the record, ';' and all.
            constexpr size_t kLastSplit = static_cast<size_t>(kBlockMaxColumns) - 1;
            const char* p = at;
            if constexpr (std::endian::native == std::endian::little) {
                for (; end - p >= 8 && count < kLastSplit; p += 8) {
                    std::uint64_t mask = SemicolonsIn(p);
                    while (mask != 0 && count < kLastSplit) {
                        take(p + std::countr_zero(mask) / 8);
                        mask &= mask - 1;
                    }
                }
                // A split of the last column stopped inside the word: what
                // follows is that column's.
                if (count == kLastSplit) p = end;
            }
            for (; p != end && count < kLastSplit; ++p)
                if (*p == ';') take(p);
            take(end);
            countOut[r] = static_cast<char>(count - 1);
        }
        for (size_t c = 0; c < used; ++c) m_fieldCount[c] = static_cast<size_t>(fieldAt[c] - m_fieldOut[c]);
        if (used == 0) AddColumn(&used, 0);  // no records: one empty column
        for (size_t c = 0; c < used; ++c) {
            m_columns[c].resize(m_fieldCount[c]);
            m_columnOwners[c].resize(owned ? m_fieldCount[c] : 0);
        }
        Bytes out;
        out.reserve(n * 16);
        out.push_back(static_cast<char>(coding));
        PutLeb(out, static_cast<std::uint64_t>(n));
        out.push_back(static_cast<char>(used));
        m_writer->Put(out, counts);
        m_rowsOf.assign(used, {});
        for (size_t c = 0; c < used; ++c) {
            m_owners.swap(m_columnOwners[c]);
            m_column = static_cast<int>(c);
            PutColumn(out, m_columns[c]);
            m_owners.swap(m_columnOwners[c]);
        }
        return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
    }

private:
    // Takes the next column into use, room made for `fields` of it.
    void AddColumn(size_t* used, size_t fields) {
        const size_t c = *used;
        if (c == m_columns.size()) {
            m_columns.emplace_back();
            m_columnOwners.emplace_back();
        }
        m_columns[c].resize(fields);
        m_fieldOut[c] = m_columns[c].data();
        m_columnOwners[c].resize(m_reference ? fields : 0);
        m_ownerOut[c] = m_columnOwners[c].data();
        m_fieldCount[c] = 0;
        ++*used;
    }

    void PutColumn(Bytes& out, const std::vector<Field>& column) {
        if (m_reference && (PutRows(out, column) || PutSameRow(out, column))) return;
        ColumnPlan unplanned;
        if (m_plans && m_plans->size() <= static_cast<size_t>(m_column)) m_plans->resize(static_cast<size_t>(m_column) + 1);
        ColumnPlan& plan = m_plans ? (*m_plans)[static_cast<size_t>(m_column)] : unplanned;
        if (PutAsPlanned(out, column, plan)) return;
        NumberParams number;
        if (ChooseNumber(column, &number)) {
            plan = ColumnPlan{ColumnPlan::Way::kNumber, number, 0};
            return PutNumbers(out, column, number);
        }
        if (const std::uint8_t pattern = ChooseDatePattern(column)) {
            plan = ColumnPlan{ColumnPlan::Way::kDate, {}, pattern};
            ReadDates(column, pattern);
            return PutDates(out, column, pattern);
        }
        // Texts: whichever of words, tokens and plain text packs smallest.
        const bool probing = m_level > 1;
        if (probing) m_writer = &m_probe;
        enum Way { kAsIs, kAsWords, kAsTokens } way = kAsIs;
        Bytes best;
        PutTexts(best, column);
        for (const bool tokens : {false, true}) {
            Bytes candidate;
            if (!PutWords(candidate, column, tokens)) continue;
            if (candidate.size() < best.size()) {
                best.swap(candidate);
                way = tokens ? kAsTokens : kAsWords;
            }
        }
        plan = ColumnPlan{way == kAsIs ? ColumnPlan::Way::kText
                                       : way == kAsWords ? ColumnPlan::Way::kWords : ColumnPlan::Way::kTokens,
                          {}, 0};
        if (!probing) {
            out.append(best);
            return;
        }
        m_writer = &m_streams;
        if (way == kAsIs) PutTexts(out, column);
        else PutWords(out, column, way == kAsTokens);
    }

    // Writes the column the way the plan says when most of its fields still
    // fit that way; false when the whole choice has to be made.
    bool PutAsPlanned(Bytes& out, const std::vector<Field>& column, const ColumnPlan& plan) {
        switch (plan.way) {
        case ColumnPlan::Way::kNumber: {
            if (!(plan.number.flags & kCheckDigits)) return PutPlannedNumbers(out, column, plan.number);
            // Check digits were left out last time (barcodes): the general way.
            NumberParams number = plan.number;
            if (!ReadNumbers(column, &number)) return false;
            PutNumbers(out, column, number);
            return true;
        }
        case ColumnPlan::Way::kDate:
            if (!MostFit(ReadDates(column, plan.datePattern), column.size())) return false;
            PutDates(out, column, plan.datePattern);
            return true;
        case ColumnPlan::Way::kWords:
        case ColumnPlan::Way::kTokens:
            return PutWords(out, column, plan.way == ColumnPlan::Way::kTokens);
        case ColumnPlan::Way::kText:
            // A text column may have become numbers or dates; the glances
            // of the whole choice are cheap on text.
            return false;
        case ColumnPlan::Way::kNone:
            break;
        }
        return false;
    }

    static bool MostFit(size_t fit, size_t all) { return fit > 0 && fit * 10 >= all * 9; }

    // How many fields of the column `fits`, or 0 as soon as too many do not
    // for MostFit: a column of another kind costs a glance, not a pass.
    template <class Fits>
    static size_t CountFitting(const std::vector<Field>& column, Fits fits) {
        const size_t allowed = column.size() - (column.size() * 9 + 9) / 10;
        size_t fit = 0, missed = 0;
        for (Field f : column) {
            if (fits(f)) ++fit;
            else if (++missed > allowed) return 0;
        }
        return fit;
    }

    // Whether the column is written as numbers, and how; leaves the column
    // read in m_parsed and m_fits for PutNumbers.
    bool ChooseNumber(const std::vector<Field>& column, NumberParams* params) {
        // The prefix: the leading non-digits of the first field that has digits.
        NumberParams p;
        for (Field f : column) {
            size_t i = 0;
            while (i < f.size() && !IsDigit(f[i])) ++i;
            if (i < f.size() && i <= static_cast<size_t>(kMaxPrefix)) {
                p.prefix = std::string(f.substr(0, i));
                break;
            }
        }
        // Plain numbers first; a separator is tried only when a field that
        // is not a plain number holds it (the terminal encodes on a small
        // processor: no pass over the column that cannot pay).
        const auto fitting = [&](char separator) {
            p.separator = separator;
            NumberField n;
            return CountFitting(column, [&](Field f) { return ReadNumber(f, p, &n); });
        };
        size_t best = fitting('\0');
        params->prefix = p.prefix;
        params->separator = '\0';
        if (best < column.size()) {
            bool present[std::size(kSeparators)] = {};
            int looked = 0;
            NumberField n;
            p.separator = '\0';
            for (Field f : column) {
                if (ReadNumber(f, p, &n)) continue;
                for (size_t k = 1; k < std::size(kSeparators); ++k)
                    present[k] = present[k] || f.find(kSeparators[k]) != Field::npos;
                if (++looked == 64) break;
            }
            for (size_t k = 1; k < std::size(kSeparators); ++k) {
                if (!present[k]) continue;
                const size_t fit = fitting(kSeparators[k]);
                if (fit > best) {
                    best = fit;
                    params->separator = kSeparators[k];
                }
            }
        }
        p.separator = params->separator;
        if (!MostFit(best, column.size())) return false;
        return ReadNumbers(column, params);
    }

    // Reads the column as numbers of `params`' prefix and separator into
    // m_parsed and m_fits, and settles the flags; false (read or not) when
    // too few fields fit. One reading serves every choice below and the
    // writing: check digits are left out where valid, and put back when too
    // few numbers carry a valid one.
    bool ReadNumbers(const std::vector<Field>& column, NumberParams* params) {
        params->flags = kCheckDigits;
        m_parsed.resize(column.size());
        m_fits.resize(column.size());
        size_t omitted = 0, best = 0;
        for (size_t i = 0; i < column.size(); ++i) {
            m_fits[i] = ReadNumber(column[i], *params, &m_parsed[i]);
            best += m_fits[i] ? 1 : 0;
            omitted += m_fits[i] && m_parsed[i].checkOmitted ? 1 : 0;
        }
        if (!MostFit(best, column.size())) return false;
        if (omitted * 2 < best) {
            params->flags = 0;
            for (size_t i = 0; i < column.size(); ++i) {
                NumberField& n = m_parsed[i];
                if (!m_fits[i] || !n.checkOmitted) continue;
                n.value = n.value * 10 + static_cast<std::uint64_t>(CheckDigitOf(n.value, n.digits - 1));
                n.checkOmitted = false;
            }
        }
        // Differences when they are smaller than the values' spread.
        std::uint64_t lo = ~std::uint64_t(0), hi = 0, maxDelta = 0, prev = 0;
        bool first = true;
        for (size_t i = 0; i < column.size(); ++i) {
            if (!m_fits[i]) continue;
            const std::uint64_t v = m_parsed[i].value;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            if (!first) maxDelta = std::max(maxDelta, ZigZag(v - prev));
            prev = v;
            first = false;
        }
        if (BytesFor(maxDelta) < BytesFor(hi - lo)) params->flags |= kDelta;
        return true;
    }

    static std::uint8_t ChooseDatePattern(const std::vector<Field>& column) {
        std::uint8_t best = 0;
        size_t bestFit = 0;
        for (std::uint8_t pattern : {kDayMonthYearTime, kIsoDateTime, kDayMonthYear}) {
            std::uint64_t s = 0;
            // Fields of another length are no date of this pattern: a glance at
            // the first few saves the pass over a column that holds none.
            bool any = false;
            for (size_t i = 0; i < std::min<size_t>(column.size(), 16) && !any; ++i) any = ReadDate(column[i], pattern, &s);
            if (!any) continue;
            const size_t fit = CountFitting(column, [&](Field f) { return ReadDate(f, pattern, &s); });
            if (fit > bestFit) {
                bestFit = fit;
                best = pattern;
            }
            if (fit == column.size()) break;  // none can do better
        }
        return MostFit(bestFit, column.size()) ? best : 0;
    }

    // A column most of whose fields are found in one of the reference's key
    // fields goes as its row numbers.
    bool PutRows(Bytes& out, const std::vector<Field>& column) {
        for (const int key : m_reference->KeyFields()) {
            if (key < 0 || key >= kBlockMaxColumns) continue;
            size_t looked = 0, found = 0;
            for (size_t i = 0; i < column.size() && looked < kGlance; ++i) {
                if (column[i].empty()) continue;
                ++looked;
                found += m_reference->Find(key, QByteArrayView(column[i].data(), column[i].size())) >= 0 ? 1 : 0;
            }
            if (found == 0 || found * 2 < looked) continue;
            std::vector<std::int64_t>& rows = m_foundRows;
            rows.resize(column.size());
            const bool exact = m_reference->FindIsExact(m_coding);
            size_t fit = 0;
            std::int64_t widest = 0;
            m_reference->FindMany(key, column.data(), column.size(), rows.data());
            const auto rowCount = static_cast<std::int64_t>(m_reference->RowCount());
            for (size_t i = 0; i < column.size(); ++i) {
                const QByteArrayView value(column[i].data(), static_cast<qsizetype>(column[i].size()));
                if (rows[i] >= rowCount) rows[i] = -1;
                if (rows[i] < 0) continue;
                // What the reader will put back, not what the index says.
                if (!exact && !m_reference->FieldEquals(static_cast<std::uint32_t>(rows[i]), key, m_coding, value)) {
                    rows[i] = -1;
                    continue;
                }
                ++fit;
                widest = std::max(widest, rows[i]);
            }
            if (fit * 2 < column.size()) continue;
            const int width = std::min(BytesFor(static_cast<std::uint64_t>(widest)), kMaxRowWidth);
            if (widest >= (std::int64_t(1) << (8 * width))) continue;
            out.push_back(static_cast<char>(kRows));
            {
                const QByteArray digest = m_reference->Digest().left(kReferenceDigestBytes);
                out.append(digest.constData(), static_cast<size_t>(digest.size()));
            }
            out.push_back(static_cast<char>(key));
            out.push_back(static_cast<char>(width));
            Bytes kinds(column.size(), static_cast<char>(kFits)), values, texts;
            std::vector<std::int64_t>& rowOf = m_rowsOf[static_cast<size_t>(m_column)];
            rowOf.assign(m_owners.empty() ? 0 : m_owners.back() + 1, -1);
            for (size_t i = 0; i < column.size(); ++i) {
                if (rows[i] < 0) {
                    kinds[i] = static_cast<char>(kAsText);
                    PutText(texts, column[i]);
                } else {
                    rowOf[m_owners[i]] = rows[i];
                }
            }
            // Byte planes, as numbers' values.
            values.resize(fit * static_cast<size_t>(width));
            for (int b = 0; b < width; ++b) {
                char* plane = values.data() + fit * static_cast<size_t>(b);
                for (std::int64_t r : rows)
                    if (r >= 0) *plane++ = static_cast<char>(static_cast<std::uint64_t>(r) >> (8 * b));
            }
            m_writer->Put(out, kinds);
            m_writer->Put(out, values);
            m_writer->Put(out, texts);
            return true;
        }
        return false;
    }

    // A column most of whose fields equal one field of the row an earlier
    // rows column found in the same record goes as "that field".
    bool PutSameRow(Bytes& out, const std::vector<Field>& column) {
        QByteArray value;
        const auto rowOf = [&](size_t rows, size_t i) {
            const std::vector<std::int64_t>& of = m_rowsOf[rows];
            return m_owners[i] < of.size() ? of[m_owners[i]] : -1;
        };
        for (size_t rows = 0; rows < static_cast<size_t>(m_column); ++rows) {
            if (m_rowsOf[rows].empty()) continue;
            // The field of the row that the first few fields equal.
            int best = -1;
            size_t bestFound = 0, looked = 0;
            for (int field = 0; field < kBlockMaxColumns; ++field) {
                size_t found = 0, seen = 0;
                bool any = false;
                for (size_t i = 0; i < column.size() && seen < kGlance; ++i) {
                    const std::int64_t row = rowOf(rows, i);
                    if (row < 0) continue;
                    ++seen;
                    value.clear();
                    if (!m_reference->AppendField(static_cast<std::uint32_t>(row), field, m_coding, value)) continue;
                    any = true;
                    found += Field(value.constData(), static_cast<size_t>(value.size())) == column[i] ? 1 : 0;
                }
                if (!any) break;  // no row of these has so many fields
                if (found > bestFound) {
                    best = field;
                    bestFound = found;
                    looked = seen;
                }
            }
            if (best < 0 || bestFound * 2 < looked) continue;
            Bytes kinds, texts;
            size_t fit = 0;
            // Every field's row, then the reference compares them all in one go.
            std::vector<std::int64_t>& fieldRows = m_foundRows;
            fieldRows.resize(column.size());
            for (size_t i = 0; i < column.size(); ++i) fieldRows[i] = rowOf(rows, i);
            m_equal.resize(column.size());
            m_reference->FieldsEqual(best, m_coding, fieldRows.data(), column.data(), column.size(), m_equal.data());
            for (size_t i = 0; i < column.size(); ++i) {
                const bool same = m_equal[i] != 0;
                fit += same ? 1 : 0;
                kinds.push_back(static_cast<char>(same ? kFits : kAsText));
                if (!same) PutText(texts, column[i]);
            }
            if (fit * 2 < column.size()) continue;
            out.push_back(static_cast<char>(kSameRow));
            out.push_back(static_cast<char>(rows));
            out.push_back(static_cast<char>(best));
            m_writer->Put(out, kinds);
            m_writer->Put(out, texts);
            return true;
        }
        return false;
    }

    void PutTexts(Bytes& out, const std::vector<Field>& column) {
        out.push_back(static_cast<char>(kText));
        Bytes lengths, bytes;
        for (Field f : column) {
            PutLeb(lengths, f.size());
            PutBytes(bytes, f);
        }
        m_writer->Put(out, lengths);
        m_writer->Put(out, bytes);
    }

    // Words (`tokens` false): a field is its words, split at each space;
    // tokens: a field is its tokens (TokenEnd), nothing in between.
    // Writes nothing and returns false unless the words repeat enough to
    // pay: at most seven distinct in ten, and no more than a dictionary holds.
    bool PutWords(Bytes& out, const std::vector<Field>& column, bool tokens) {
        // Words by their first appearance, each field's words as their
        // indexes into that list.
        CWordIndex& index = m_wordIndex;
        std::vector<Field>& order = m_wordOrder;
        index.Clear(order.size());
        std::vector<std::uint32_t>& uses = m_wordUses;
        // Each word's id, with kFieldStart on the first word of a field.
        std::vector<std::uint32_t>& sequence = m_wordSequence;
        order.clear();
        uses.clear();
        sequence.clear();
        Bytes counts;
        counts.reserve(column.size());
        auto take = [&](Field w, bool start) {
            const std::uint32_t id = index.Take(w, order);
            if (id == uses.size()) uses.push_back(0);
            ++uses[id];
            sequence.push_back(start ? id | kFieldStart : id);
        };
        for (Field f : column) {
            std::uint64_t count = 0;
            if (tokens) {
                while (!f.empty()) {
                    const size_t end = TokenEnd(f);
                    take(f.substr(0, end), count++ == 0);
                    f.remove_prefix(end);
                }
            } else {
                // Words are short: a look along them costs less than a call.
                const char* at = f.data();
                const char* const end = at + f.size();
                for (const char* p = at;; ++p) {
                    if (p != end && *p != ' ') continue;
                    take(Field(at, static_cast<size_t>(p - at)), at == f.data());
                    if (p == end) break;
                    ++count;
                    at = p + 1;
                }
            }
            if (count < 0x80) counts.push_back(static_cast<char>(count));
            else PutLeb(counts, count);
        }
        if (order.size() * 10 > sequence.size() * 7 || order.size() > kMaxWords) return false;
        out.push_back(static_cast<char>(tokens ? kTokens : kWords));
        // Ids by frequency, most frequent first, so common words take one
        // byte; words used as often keep the order they first appeared in.
        std::vector<std::uint32_t>& byUse = m_wordRanked;
        byUse.resize(order.size());
        for (size_t i = 0; i < byUse.size(); ++i) byUse[i] = static_cast<std::uint32_t>(i);
        std::stable_sort(byUse.begin(), byUse.end(), [&](std::uint32_t a, std::uint32_t b) { return uses[a] > uses[b]; });
        std::vector<std::uint32_t>& idOf = m_wordIds;
        idOf.resize(order.size());
        Bytes dictionary, codes[kCodePlaces], larger;
        PutLeb(dictionary, order.size());
        for (size_t i = 0; i < byUse.size(); ++i) {
            idOf[byUse[i]] = static_cast<std::uint32_t>(i);
            PutText(dictionary, order[byUse[i]]);
        }
        CSuccessors successors(order.size());
        std::uint32_t prev = successors.Start();
        int place = 0;
        for (size_t i = 0; i < sequence.size(); ++i) {
            if (sequence[i] & kFieldStart) {
                prev = successors.Start();
                place = 0;
            }
            const std::uint32_t id = idOf[sequence[i] & ~kFieldStart];
            const std::uint64_t code = successors.Code(prev, id);
            // One byte a code; from 255 on, 255 and the rest in a stream of
            // their own, so the common small codes keep a code of their own.
            codes[place].push_back(static_cast<char>(std::min<std::uint64_t>(code, 255)));
            if (code >= 255) PutLeb(larger, code - 255);
            place = std::min(place + 1, kCodePlaces - 1);
            prev = id;
        }
        m_writer->Put(out, dictionary);
        m_writer->Put(out, counts);
        for (const Bytes& c : codes) m_writer->Put(out, c);
        m_writer->Put(out, larger);
        return true;
    }

    // The column as ReadNumbers left it in m_parsed and m_fits.
    void PutNumbers(Bytes& out, const std::vector<Field>& column, const NumberParams& p) {
        const size_t n = column.size();
        StartNumbers(n);
        {
            // Raw pointers: stores through a char pointer would otherwise make
            // the compiler load every vector's data again after each one.
            char* const kindOut = m_kinds.data();
            char* const digitOut = m_digits.data();
            char* const scaleOut = m_scales.data();
            std::uint64_t* const valueOut = m_values.data();
            std::uint8_t* const groupOut = m_groupOfValue.data();
            const NumberField* const parsed = m_parsed.data();
            const char* const fits = m_fits.data();
            for (size_t i = 0; i < n; ++i) {
                const NumberField& v = parsed[i];
                if (!fits[i]) {
                    kindOut[i] = static_cast<char>(kAsText);
                    PutText(m_texts, column[i]);
                    continue;
                }
                kindOut[i] = static_cast<char>(v.checkOmitted ? kFitsCheckOmitted : kFits);
                digitOut[m_fitting] = static_cast<char>(v.digits);
                scaleOut[m_fitting] = static_cast<char>(v.scale);
                valueOut[m_fitting] = v.value;
                groupOut[m_fitting] = GroupOf(GroupKey(v.digits, v.checkOmitted));
                ++m_fitting;
            }
        }
        WriteNumbers(out, p);
    }

    // A column planned as numbers, read and gathered in one pass where its
    // check digits are not left out (every column but barcodes): no
    // NumberField a field, and no second pass for the flags. False when too
    // few fields fit, as ReadNumbers.
    bool PutPlannedNumbers(Bytes& out, const std::vector<Field>& column, NumberParams params) {
        params.flags = kCheckDigits;
        const size_t n = column.size();
        StartNumbers(n);
        const size_t allowed = n - (n * 9 + 9) / 10;  // misses MostFit allows
        size_t omitted = 0;
        std::uint64_t lo = ~std::uint64_t(0), hi = 0, maxDelta = 0, prev = 0;
        {
            char* const kindOut = m_kinds.data();
            char* const digitOut = m_digits.data();
            char* const scaleOut = m_scales.data();
            std::uint64_t* const valueOut = m_values.data();
            std::uint8_t* const groupOut = m_groupOfValue.data();
            for (size_t i = 0; i < n; ++i) {
                NumberField v;
                const Field f = column[i];
                if (!ReadNumber(f, params, &v)) {
                    if (i - m_fitting >= allowed) return false;
                    kindOut[i] = static_cast<char>(kAsText);
                    PutText(m_texts, f);
                    continue;
                }
                if (v.checkOmitted) {
                    // Written whole unless most numbers carry a valid check digit (then: below).
                    ++omitted;
                    v.value = v.value * 10 + static_cast<std::uint64_t>(f.back() - '0');
                }
                kindOut[i] = static_cast<char>(kFits);
                digitOut[m_fitting] = static_cast<char>(v.digits);
                scaleOut[m_fitting] = static_cast<char>(v.scale);
                valueOut[m_fitting] = v.value;
                groupOut[m_fitting] = GroupOf(GroupKey(v.digits, false));
                lo = std::min(lo, v.value);
                hi = std::max(hi, v.value);
                if (m_fitting > 0) maxDelta = std::max(maxDelta, ZigZag(v.value - prev));
                prev = v.value;
                ++m_fitting;
            }
        }
        if (!MostFit(m_fitting, n)) return false;
        if (omitted * 2 >= m_fitting) {
            // Check digits pay here: the general way, which leaves them out.
            if (!ReadNumbers(column, &params)) return false;
            PutNumbers(out, column, params);
            return true;
        }
        params.flags = BytesFor(maxDelta) < BytesFor(hi - lo) ? kDelta : 0;
        WriteNumbers(out, params);
        return true;
    }

    // Empties the number column's streams, with room for `n` fields.
    void StartNumbers(size_t n) {
        m_kinds.resize(n);
        m_digits.resize(n);
        m_scales.resize(n);
        m_texts.clear();
        m_values.resize(n);
        m_groupOfValue.resize(n);
        m_fitting = 0;
        m_groups = 0;
        m_lastGroupKey = -1;
        std::fill(std::begin(m_groupOf), std::end(m_groupOf), -1);
    }

    // Numbers of one digit count (and check digit handling) form a group
    // with its own base and width: EAN-8 and EAN-13 codes in one column,
    // or codes with and without a valid check digit, each pack as tightly
    // as a column of their own. Groups are numbered as they first appear.
    std::uint8_t GroupOf(int key) {
        if (key != m_lastGroupKey) {
            if (m_groupOf[key] < 0) {
                m_groupOf[key] = m_groups;
                m_groupKeys[m_groups++] = key;
            }
            m_lastGroupKey = key;
            m_lastGroup = m_groupOf[key];
        }
        return static_cast<std::uint8_t>(m_lastGroup);
    }

    // Writes the number column gathered in m_kinds, m_digits, m_scales,
    // m_values (m_fitting of them, with their groups) and m_texts.
    void WriteNumbers(Bytes& out, const NumberParams& p) {
        out.push_back(static_cast<char>(kNumber));
        PutText(out, p.prefix);
        out.push_back(p.separator);
        out.push_back(static_cast<char>(p.flags));
        // Digit counts and scales are at most 20: one LEB128 byte each.
        static_assert(kMaxDigits + 1 < 0x80);
        const size_t fitting = m_fitting;
        const int groups = m_groups;
        std::vector<std::uint64_t>& values = m_values;
        m_digits.resize(fitting);
        m_scales.resize(p.separator ? fitting : 0);
        values.resize(fitting);
        // Each group's values side by side, in the order of their fields.
        size_t groupStart[kGroupKeys + 1] = {};
        if (groups == 1) {
            groupStart[1] = fitting;
        } else if (groups > 1) {
            // One slot more than the values: each pass below writes every
            // value and keeps those of its group by moving on past them.
            m_groupedValues.resize(fitting + 1);
            std::uint64_t* const grouped = m_groupedValues.data();
            const std::uint8_t* const groupOfValue = m_groupOfValue.data();
            if (groups <= 4) {
                // A pass a group (most columns: counts of one and two digits)
                // without a branch or a counter in memory to wait on.
                size_t k = 0;
                for (int g = 0; g < groups; ++g) {
                    for (size_t i = 0; i < fitting; ++i) {
                        grouped[k] = values[i];
                        k += groupOfValue[i] == g ? 1 : 0;
                    }
                    groupStart[g + 1] = k;
                }
            } else {
                size_t groupSize[kGroupKeys] = {};
                for (size_t i = 0; i < fitting; ++i) ++groupSize[groupOfValue[i]];
                for (int g = 0; g < groups; ++g) groupStart[g + 1] = groupStart[g] + groupSize[g];
                size_t next[kGroupKeys];
                std::copy(groupStart, groupStart + groups, next);
                for (size_t i = 0; i < fitting; ++i) grouped[next[groupOfValue[i]]++] = values[i];
            }
            m_groupedValues.resize(fitting);
            values.swap(m_groupedValues);
        }
        PutLeb(out, static_cast<std::uint64_t>(groups));
        Bytes& planes = m_planes;
        planes.clear();
        for (int g = 0; g < groups; ++g) {
            std::uint64_t* const first = values.data() + groupStart[g];
            std::uint64_t* const last = values.data() + groupStart[g + 1];
            std::uint64_t base = *first;
            if (p.flags & kDelta) {
                std::uint64_t prev = base;
                for (std::uint64_t* v = first; v != last; ++v) {
                    const std::uint64_t value = *v;
                    *v = ZigZag(value - prev);
                    prev = value;
                }
            } else {
                base = *std::min_element(first, last);
                for (std::uint64_t* v = first; v != last; ++v) *v -= base;
            }
            std::uint64_t widest = 0;
            for (const std::uint64_t* v = first; v != last; ++v) widest |= *v;
            const int width = BytesFor(widest);
            out.push_back(static_cast<char>(m_groupKeys[g]));
            PutLeb(out, base);
            out.push_back(static_cast<char>(width));
            // Byte planes: the low byte of every value, then the next byte ...
            // (high bytes of similar numbers repeat and pack to almost nothing).
            const size_t count = static_cast<size_t>(last - first);
            size_t at = planes.size();
            planes.resize(at + count * static_cast<size_t>(width));
            char* plane = planes.data() + at;
            for (int b = 0; b < width; ++b, plane += count)
                for (size_t k = 0; k < count; ++k) plane[k] = static_cast<char>(first[k] >> (8 * b));
        }
        m_writer->Put(out, m_kinds);
        m_writer->Put(out, m_digits);
        if (p.separator) m_writer->Put(out, m_scales);
        m_writer->Put(out, planes);
        m_writer->Put(out, m_texts);
    }

    // Reads the column as dates of `pattern` into m_seconds and m_fits; how many fit.
    size_t ReadDates(const std::vector<Field>& column, std::uint8_t pattern) {
        m_seconds.resize(column.size());
        m_fits.resize(column.size());
        // Scans of one day follow each other: a field whose date is the one
        // before's reads its time alone ("DD.MM.YYYY " or "YYYY-MM-DD ",
        // then "hh:mm:ss"), with the same checks ReadDate makes of it.
        const bool timed = pattern == kDayMonthYearTime || pattern == kIsoDateTime;
        const char* sameDay = nullptr;  // the last field read whole, when it fit
        std::uint64_t day = 0;          // its midnight in seconds
        size_t fit = 0;
        for (size_t i = 0; i < column.size(); ++i) {
            const Field f = column[i];
            std::uint64_t seconds = 0;
            if (timed && sameDay && f.size() == 19 && std::memcmp(f.data(), sameDay, 11) == 0 && ReadTime(f, &seconds)) {
                m_seconds[i] = day + seconds;
                m_fits[i] = 1;
                ++fit;
                continue;
            }
            m_fits[i] = ReadDate(f, pattern, &m_seconds[i]);
            sameDay = m_fits[i] && timed ? f.data() : nullptr;
            day = m_seconds[i] - m_seconds[i] % 86400;
            fit += m_fits[i] ? 1 : 0;
        }
        return fit;
    }

    // "hh:mm:ss" at the end of a 19-byte field, in seconds.
    static bool ReadTime(Field f, std::uint64_t* seconds) {
        const char* t = f.data() + 11;
        if (t[2] != ':' || t[5] != ':') return false;
        unsigned v[3];
        for (int k = 0; k < 3; ++k) {
            const unsigned hi = static_cast<unsigned char>(t[3 * k]) - unsigned('0');
            const unsigned lo = static_cast<unsigned char>(t[3 * k + 1]) - unsigned('0');
            if (hi > 9 || lo > 9) return false;
            v[k] = hi * 10 + lo;
        }
        if (v[0] > 23 || v[1] > 59 || v[2] > 59) return false;
        *seconds = v[0] * 3600 + v[1] * 60 + v[2];
        return true;
    }

    // The column as read by ReadDates.
    void PutDates(Bytes& out, const std::vector<Field>& column, std::uint8_t pattern) {
        out.push_back(static_cast<char>(kDateTime));
        out.push_back(static_cast<char>(pattern));
        Bytes kinds, deltas, texts;
        std::uint64_t base = 0, prev = 0;
        bool first = true;
        for (size_t i = 0; i < column.size(); ++i) {
            const Field f = column[i];
            const std::uint64_t s = m_seconds[i];
            if (!m_fits[i]) {
                kinds.push_back(static_cast<char>(kAsText));
                PutText(texts, f);
                continue;
            }
            kinds.push_back(static_cast<char>(kFits));
            if (first) {
                base = prev = s;
                first = false;
            }
            PutLeb(deltas, ZigZag(s - prev));
            prev = s;
        }
        PutLeb(out, base);
        m_writer->Put(out, kinds);
        m_writer->Put(out, deltas);
        m_writer->Put(out, texts);
    }

    int m_level;
    BlockCoding m_coding = BlockCoding::Utf8;
    int m_column = 0;
    // The block's fields by column, and the record each of them belongs to.
    std::vector<std::vector<Field>> m_columns;
    std::vector<std::vector<std::uint32_t>> m_columnOwners;
    // Where the next field of each column goes while a block is split.
    Field* m_fieldOut[kBlockMaxColumns] = {};
    std::uint32_t* m_ownerOut[kBlockMaxColumns] = {};
    size_t m_fieldCount[kBlockMaxColumns] = {};
    Bytes m_counts;
    // A number column's streams and values, kept from block to block.
    Bytes m_kinds, m_digits, m_scales, m_texts, m_planes;
    std::vector<std::uint64_t> m_values, m_groupedValues;
    std::vector<std::uint8_t> m_groupOfValue;
    size_t m_fitting = 0;  // the numbers gathered
    int m_groups = 0;
    int m_groupOf[kGroupKeys] = {};  // a group key's group, -1 none yet
    int m_groupKeys[kGroupKeys] = {};  // each group's key
    int m_lastGroupKey = -1, m_lastGroup = 0;
    // A words column's words, kept from block to block (PutWords).
    CWordIndex m_wordIndex;
    std::vector<Field> m_wordOrder;
    std::vector<std::uint32_t> m_wordUses, m_wordSequence, m_wordRanked, m_wordIds;
    // In m_wordSequence (a block holds at most 1 MiB of words: ids stay far below it).
    static constexpr std::uint32_t kFieldStart = 0x80000000u;
    // The record of each field of the column being written.
    std::vector<std::uint32_t> m_owners;
    // For each column written as rows: the row of each record (-1 none).
    std::vector<std::vector<std::int64_t>> m_rowsOf;
    std::vector<std::int64_t> m_foundRows;  // a rows column's lookups, a same-row column's rows
    std::vector<char> m_equal;              // a same-row column's fields that are the row's
    std::vector<NumberField> m_parsed;  // the column being written, read as numbers
    std::vector<std::uint64_t> m_seconds;  // ... or as dates
    std::vector<char> m_fits;
    CStreamWriter& m_streams;
    // Choosing between ways of writing a text column packs each way at the
    // cheap level first; only the chosen one is packed at the block's level.
    CStreamWriter& m_probe;
    CStreamWriter* m_writer = &m_streams;
    const CBlockReference* m_reference = nullptr;
    std::vector<ColumnPlan>* m_plans;  // nullptr: every column is chosen afresh
};

}  // namespace

void CBlockReference::FindMany(int field, const std::string_view* values, size_t count, std::int64_t* rows) const {
    const auto view = [&](size_t i) { return QByteArrayView(values[i].data(), static_cast<qsizetype>(values[i].size())); };
    const std::int64_t total = RowCount();
    for (size_t i = 0; i < count; ++i) {
        // The lookups of the values ahead get under way meanwhile.
        for (int stage = 0; stage < 3; ++stage)
            if (const size_t ahead = i + kLookAhead * (3 - static_cast<size_t>(stage)); ahead < count)
                Prefetch(field, view(ahead), stage);
        rows[i] = Find(field, view(i));
        // The rows found: their places now, their bytes once the places are in.
        if (rows[i] >= 0 && rows[i] < total) PrefetchRow(static_cast<std::uint32_t>(rows[i]), 0);
        if (i >= kLookAhead && rows[i - kLookAhead] >= 0 && rows[i - kLookAhead] < total)
            PrefetchRow(static_cast<std::uint32_t>(rows[i - kLookAhead]), 1);
    }
    for (size_t i = count > kLookAhead ? count - kLookAhead : 0; i < count; ++i)
        if (rows[i] >= 0 && rows[i] < total) PrefetchRow(static_cast<std::uint32_t>(rows[i]), 1);
}

bool CBlockReference::AppendFields(const std::uint32_t* rows, size_t count, int field, BlockCoding coding,
                                   size_t limit, std::string& out, std::vector<size_t>& ends) const {
    ends.resize(count);
    QByteArray value;
    for (size_t i = 0; i < count; ++i) {
        for (int stage = 0; stage < 2; ++stage)
            if (const size_t at = i + kLookAhead * (2 - static_cast<size_t>(stage)); at < count)
                PrefetchRow(rows[at], stage);
        value.clear();
        if (!AppendField(rows[i], field, coding, value)) return false;
        out.append(value.constData(), static_cast<size_t>(value.size()));
        if (out.size() > limit) return false;
        ends[i] = out.size();
    }
    return true;
}

void CBlockReference::FieldsEqual(int field, BlockCoding coding, const std::int64_t* rows,
                                  const std::string_view* values, size_t count, char* equal) const {
    const std::int64_t total = RowCount();
    const auto known = [&](size_t i) { return rows[i] >= 0 && rows[i] < total; };
    for (size_t i = 0; i < count; ++i) {
        // The rows of the fields ahead are brought in meanwhile.
        for (int stage = 0; stage < 2; ++stage)
            if (const size_t at = i + kLookAhead * (2 - static_cast<size_t>(stage)); at < count && known(at))
                PrefetchRow(static_cast<std::uint32_t>(rows[at]), stage);
        equal[i] = known(i) && FieldEquals(static_cast<std::uint32_t>(rows[i]), field, coding,
                                           QByteArrayView(values[i].data(), static_cast<qsizetype>(values[i].size())))
                       ? 1
                       : 0;
    }
}

namespace {

// ---- the decoder ---------------------------------------------------------------

class CDecoder {
public:
    // Decodes into per-column buffers; Join then lays the records out.
    bool Decode(const char* data, qsizetype size, BlockCoding* coding, const BlockReferences* references) {
        m_references = references;
        CReader in(data, size);
        const std::uint8_t codingByte = in.Byte();
        const std::uint64_t n = in.Leb(kBlockMaxRecords);
        const int columns = in.Byte();
        if (!in.Ok() || codingByte > 1 || n == 0 || columns < 1 || columns > kBlockMaxColumns) return false;
        CReader counts;
        if (!m_streams.Get(in, m_store[0], &counts)) return false;
        m_counts.assign(static_cast<size_t>(n), 0);
        for (auto& c : m_counts) {
            c = counts.Byte();
            if (!counts.Ok() || c >= columns) return false;
        }
        if (!counts.AtEnd()) return false;
        *coding = static_cast<BlockCoding>(codingByte);
        m_coding = *coding;
        m_columns.resize(static_cast<size_t>(columns));
        m_total = 0;
        for (int c = 0; c < columns; ++c) {
            m_column = c;
            Column& col = m_columns[static_cast<size_t>(c)];
            col.bytes.clear();
            col.ends.clear();
            col.rows.clear();
            col.reference = nullptr;
            if (!DecodeColumn(in)) return false;
        }
        return in.AtEnd();
    }

    // The records one after another, each followed by `terminator`;
    // `ends[i]` is where record i ends (its terminator not counted).
    void Join(QByteArrayView terminator, QByteArray* bytes, std::vector<qsizetype>* ends) {
        ends->clear();
        ends->reserve(m_counts.size());
        // The size is known (every column's fields, a ';' between two fields
        // of a record, a terminator after each), and the records are copied
        // into place.
        size_t size = m_counts.size() * static_cast<size_t>(terminator.size());
        for (const Column& col : m_columns) size += col.ends.empty() ? 0 : col.ends.back();
        for (std::uint8_t last : m_counts) size += last;
        bytes->resize(static_cast<qsizetype>(size));
        char* out = bytes->data();
        std::vector<size_t> next(m_columns.size(), 0);
        for (std::uint8_t last : m_counts) {
            for (int c = 0; c <= last; ++c) {
                if (c > 0) *out++ = ';';
                Column& col = m_columns[static_cast<size_t>(c)];
                const size_t i = next[static_cast<size_t>(c)]++;
                const std::uint32_t from = i == 0 ? 0 : col.ends[i - 1];
                const size_t length = col.ends[i] - from;
                if (length > 0) std::memcpy(out, col.bytes.data() + from, length);
                out += length;
            }
            ends->push_back(out - bytes->data());
            // An empty terminator may have no bytes at all to copy from.
            if (!terminator.isEmpty()) std::memcpy(out, terminator.data(), static_cast<size_t>(terminator.size()));
            out += terminator.size();
        }
        bytes->truncate(out - bytes->data());
    }

private:
    struct Column {
        Bytes bytes;
        std::vector<std::uint32_t> ends;
        // A rows column: its reference and each record's row (-1: text or no field).
        const CBlockReference* reference = nullptr;
        std::vector<std::int64_t> rows;
    };

    size_t FieldsInColumn() const {
        size_t k = 0;
        for (std::uint8_t c : m_counts) k += c >= m_column ? 1 : 0;
        return k;
    }
    Bytes& Out() { return m_columns[static_cast<size_t>(m_column)].bytes; }
    // Ends the field written to Out() since `start`; false past the block's bound.
    bool EndField() {
        Column& col = m_columns[static_cast<size_t>(m_column)];
        const qsizetype start = col.ends.empty() ? 0 : col.ends.back();
        m_total += col.bytes.size() - start + (m_column > 0 ? 1 : 0);
        if (m_total > kBlockMaxRecordBytes) return false;
        col.ends.push_back(static_cast<std::uint32_t>(col.bytes.size()));
        return true;
    }
    bool PutField(Field f) {
        if (f.size() > static_cast<size_t>(kBlockMaxRecordBytes)) return false;
        Out().append(f.data(), f.size());
        return EndField();
    }

    bool DecodeColumn(CReader& in) {
        const std::uint8_t transform = in.Byte();
        if (!in.Ok()) return false;
        switch (transform) {
        case kText: return Texts(in);
        case kWords: return Words(in, false);
        case kTokens: return Words(in, true);
        case kNumber: return Numbers(in);
        case kDateTime: return Dates(in);
        case kRows: return Rows(in);
        case kSameRow: return SameRow(in);
        default: return false;
        }
    }

    bool Rows(CReader& in) {
        const Field digest = in.Bytes(kReferenceDigestBytes);
        const int key = in.Byte();
        const int width = in.Byte();
        if (!in.Ok() || key >= kBlockMaxColumns || width < 1 || width > kMaxRowWidth || !m_references ||
            !*m_references)
            return false;
        const CBlockReference* reference = (*m_references)(QByteArrayView(digest.data(), digest.size()));
        if (!reference) return false;
        CReader kinds, values, texts;
        if (!m_streams.Get(in, m_store[0], &kinds) || !m_streams.Get(in, m_store[1], &values) ||
            !m_streams.Get(in, m_store[2], &texts))
            return false;
        const size_t fields = FieldsInColumn();
        size_t rowCount = 0;
        {
            CReader k = kinds;
            for (size_t i = 0; i < fields; ++i) {
                const std::uint8_t kind = k.Byte();
                if (!k.Ok() || (kind != kFits && kind != kAsText)) return false;
                rowCount += kind == kFits ? 1 : 0;
            }
            if (!k.AtEnd()) return false;
        }
        const Field plane = values.Bytes(rowCount * static_cast<size_t>(width));
        if (!values.Ok() || !values.AtEnd()) return false;
        Column& col = m_columns[static_cast<size_t>(m_column)];
        col.reference = reference;
        // Every record's row first (-1: text or no such field), so that the
        // rows are asked for ahead of their fields being copied.
        col.rows.assign(m_counts.size(), -1);
        {
            CReader k = kinds;
            size_t next = 0;
            for (size_t r = 0; r < m_counts.size(); ++r) {
                if (m_counts[r] < m_column || k.Byte() == kAsText) continue;
                std::uint64_t row = 0;
                for (int b = 0; b < width; ++b)
                    row |= std::uint64_t(static_cast<std::uint8_t>(plane[next + static_cast<size_t>(b) * rowCount]))
                           << (8 * b);
                ++next;
                if (row >= reference->RowCount()) return false;
                col.rows[r] = static_cast<std::int64_t>(row);
            }
        }
        if (!FetchFields(*reference, col.rows, nullptr, key)) return false;
        size_t fetched = 0;
        for (size_t r = 0; r < m_counts.size(); ++r) {
            if (m_counts[r] < m_column) continue;
            if (kinds.Byte() == kAsText) {
                if (!PutField(texts.Text()) || !texts.Ok()) return false;
                continue;
            }
            if (!PutFetched(fetched++)) return false;
        }
        return texts.AtEnd();
    }

    // The reference's field `field` of every record whose row `rows` names
    // (and, with `kinds`, whose kind there is kFits), all at once into
    // m_fetched: the reference reads its rows ahead, with no call a field.
    bool FetchFields(const CBlockReference& reference, const std::vector<std::int64_t>& rows, const CReader* kinds,
                     int field) {
        m_fetchRows.clear();
        CReader k = kinds ? *kinds : CReader();
        for (size_t r = 0; r < m_counts.size(); ++r) {
            if (m_counts[r] < m_column) continue;
            if (kinds && k.Byte() != kFits) continue;
            if (rows[r] >= 0) m_fetchRows.push_back(static_cast<std::uint32_t>(rows[r]));
        }
        m_fetched.clear();
        // No column of a sound block holds more than the block's records.
        return reference.AppendFields(m_fetchRows.data(), m_fetchRows.size(), field, m_coding,
                                      static_cast<size_t>(kBlockMaxRecordBytes), m_fetched, m_fetchedEnds);
    }

    // The i-th field FetchFields brought, as the column's next field.
    bool PutFetched(size_t i) {
        if (i >= m_fetchedEnds.size()) return false;
        const size_t from = i == 0 ? 0 : m_fetchedEnds[i - 1];
        return PutField(Field(m_fetched.data() + from, m_fetchedEnds[i] - from));
    }

    bool SameRow(CReader& in) {
        const int rows = in.Byte();
        const int field = in.Byte();
        if (!in.Ok() || rows >= m_column || field >= kBlockMaxColumns) return false;
        const Column& of = m_columns[static_cast<size_t>(rows)];
        if (!of.reference) return false;
        CReader kinds, texts;
        if (!m_streams.Get(in, m_store[0], &kinds) || !m_streams.Get(in, m_store[1], &texts)) return false;
        if (!FetchFields(*of.reference, of.rows, &kinds, field)) return false;
        size_t fetched = 0;
        for (size_t r = 0; r < m_counts.size(); ++r) {
            if (m_counts[r] < m_column) continue;
            const std::uint8_t kind = kinds.Byte();
            if (!kinds.Ok() || (kind != kFits && kind != kAsText)) return false;
            if (kind == kAsText) {
                if (!PutField(texts.Text()) || !texts.Ok()) return false;
                continue;
            }
            if (of.rows[r] < 0 || !PutFetched(fetched++)) return false;
        }
        return kinds.AtEnd() && texts.AtEnd();
    }

    bool Texts(CReader& in) {
        CReader lengths, bytes;
        if (!m_streams.Get(in, m_store[0], &lengths) || !m_streams.Get(in, m_store[1], &bytes)) return false;
        for (size_t k = FieldsInColumn(); k > 0; --k) {
            const Field f = bytes.Bytes(lengths.Leb(kBlockMaxRecordBytes));
            if (!lengths.Ok() || !bytes.Ok() || !PutField(f)) return false;
        }
        return lengths.AtEnd() && bytes.AtEnd();
    }

    bool Words(CReader& in, bool tokens) {
        CReader dictionary, spaces, codes[kCodePlaces], larger;
        if (!m_streams.Get(in, m_store[0], &dictionary) || !m_streams.Get(in, m_store[1], &spaces)) return false;
        for (int place = 0; place < kCodePlaces; ++place)
            if (!m_streams.Get(in, m_places[static_cast<size_t>(place)], &codes[place])) return false;
        if (!m_streams.Get(in, m_store[3], &larger)) return false;
        const std::uint64_t count = dictionary.Leb(kMaxWords);
        std::vector<Field> words;
        words.reserve(static_cast<size_t>(std::min<std::uint64_t>(count, 65536)));
        for (std::uint64_t i = 0; i < count; ++i) {
            words.push_back(dictionary.Text());
            if (!dictionary.Ok()) return false;
        }
        if (!dictionary.AtEnd()) return false;
        CSuccessors successors(static_cast<std::size_t>(count));
        std::uint32_t prev = successors.Start();
        Bytes& field = Out();
        for (size_t k = FieldsInColumn(); k > 0; --k) {
            // Words: the count of spaces, one word more; tokens: their count.
            const std::uint64_t gaps = spaces.Leb(kBlockMaxRecordBytes);
            if (!spaces.Ok()) return false;
            const size_t start = field.size();
            const std::uint64_t parts = tokens ? gaps : gaps + 1;
            for (std::uint64_t w = 0; w < parts; ++w) {
                CReader& place = codes[std::min<std::uint64_t>(w, kCodePlaces - 1)];
                std::uint64_t code = place.Byte();
                if (code == 255) code += larger.Leb(kMaxWords * 2);
                std::uint32_t id = 0;
                if (w == 0) prev = successors.Start();
                if (!place.Ok() || !larger.Ok() || !successors.Word(prev, code, &id)) return false;
                prev = id;
                if (w > 0 && !tokens) field.push_back(' ');
                const Field word = words[static_cast<size_t>(id)];
                field.append(word.data(), word.size());
                if (field.size() - start > static_cast<size_t>(kBlockMaxRecordBytes)) return false;
            }
            if (!EndField()) return false;
        }
        for (const CReader& place : codes)
            if (!place.AtEnd()) return false;
        return spaces.AtEnd() && larger.AtEnd();
    }

    bool Numbers(CReader& in) {
        NumberParams p;
        const Field prefix = in.Bytes(in.Leb(kMaxPrefix));
        p.prefix = std::string(prefix);
        p.separator = static_cast<char>(in.Byte());
        p.flags = in.Byte();
        struct Group {
            std::uint64_t base = 0, prev = 0;
            int width = 0;
            size_t count = 0, next = 0, offset = 0;
        };
        const std::uint64_t groupCount = in.Leb(kGroupKeys);
        if (!in.Ok() || (p.flags & ~(kDelta | kCheckDigits)) || IsDigit(p.separator) || groupCount == 0) return false;
        std::vector<Group> groups(static_cast<size_t>(groupCount));
        int groupOf[kGroupKeys];
        std::fill(std::begin(groupOf), std::end(groupOf), -1);
        for (size_t g = 0; g < groups.size(); ++g) {
            const int key = in.Byte();
            groups[g].base = groups[g].prev = in.Leb();
            groups[g].width = in.Byte();
            if (!in.Ok() || key >= kGroupKeys || groupOf[key] >= 0 || groups[g].width < 1 || groups[g].width > 8)
                return false;
            groupOf[key] = static_cast<int>(g);
        }
        CReader kinds, digits, scales, values, texts;
        if (!m_streams.Get(in, m_store[0], &kinds) || !m_streams.Get(in, m_store[1], &digits) ||
            (p.separator && !m_streams.Get(in, m_store[2], &scales)) || !m_streams.Get(in, m_store[3], &values) ||
            !m_streams.Get(in, m_store[4], &texts))
            return false;
        const size_t fields = FieldsInColumn();
        // The values are stored in byte planes group by group: count each
        // group's numbers first.
        {
            CReader k = kinds, d = digits;
            for (size_t i = 0; i < fields; ++i) {
                const std::uint8_t kind = k.Byte();
                if (!k.Ok() || kind > kAsText) return false;
                if (kind == kAsText) continue;
                const int key = GroupKey(static_cast<int>(d.Leb(kMaxDigits)), kind == kFitsCheckOmitted);
                if (!d.Ok() || groupOf[key] < 0) return false;
                ++groups[static_cast<size_t>(groupOf[key])].count;
            }
            if (!k.AtEnd()) return false;
        }
        size_t planes = 0;
        for (Group& g : groups) {
            g.offset = planes;
            planes += g.count * static_cast<size_t>(g.width);
        }
        const Field plane = values.Bytes(planes);
        if (!values.Ok() || !values.AtEnd()) return false;
        for (size_t i = 0; i < fields; ++i) {
            const std::uint8_t kind = kinds.Byte();
            if (kind == kAsText) {
                if (!PutField(texts.Text()) || !texts.Ok()) return false;
                continue;
            }
            NumberField n;
            n.checkOmitted = kind == kFitsCheckOmitted;
            n.digits = static_cast<std::int8_t>(digits.Leb(kMaxDigits));
            n.scale = static_cast<std::int8_t>(p.separator ? scales.Leb(kMaxDigits + 1) : 0);
            if (!digits.Ok() || !scales.Ok() || n.digits < 1 || n.scale > n.digits + 1) return false;
            if (n.checkOmitted && (!(p.flags & kCheckDigits) || n.scale != 0 || !HasCheckDigitLength(n.digits)))
                return false;
            Group& g = groups[static_cast<size_t>(groupOf[GroupKey(n.digits, n.checkOmitted)])];
            std::uint64_t v = 0;
            for (int b = 0; b < g.width; ++b)
                v |= std::uint64_t(static_cast<std::uint8_t>(plane[g.offset + static_cast<size_t>(b) * g.count + g.next]))
                     << (8 * b);
            ++g.next;
            if (p.flags & kDelta) {
                v = g.prev + UnZigZag(v);
                g.prev = v;
            } else {
                v += g.base;
                if (v < g.base) return false;
            }
            const int valueDigits = n.digits - (n.checkOmitted ? 1 : 0);
            if (v >= Pow10(valueDigits)) return false;
            n.value = v;
            AppendNumber(Out(), p, n);
            if (!EndField()) return false;
        }
        return digits.AtEnd() && scales.AtEnd() && texts.AtEnd();
    }

    bool Dates(CReader& in) {
        const std::uint8_t pattern = in.Byte();
        const std::uint64_t base = in.Leb();
        if (!in.Ok() || !PatternText(pattern)) return false;
        CReader kinds, deltas, texts;
        if (!m_streams.Get(in, m_store[0], &kinds) || !m_streams.Get(in, m_store[1], &deltas) ||
            !m_streams.Get(in, m_store[2], &texts))
            return false;
        std::uint64_t prev = base;
        // Dates of one day follow each other: the day's text is written out
        // once and kept, and each time after it is its time alone.
        constexpr size_t kDayText = 11;  // "DD.MM.YYYY " or "YYYY-MM-DD "
        const bool timed = pattern == kDayMonthYearTime || pattern == kIsoDateTime;
        std::uint64_t day = ~std::uint64_t(0);
        char dayText[kDayText];
        for (size_t k = FieldsInColumn(); k > 0; --k) {
            const std::uint8_t kind = kinds.Byte();
            if (!kinds.Ok() || (kind != kFits && kind != kAsText)) return false;
            if (kind == kAsText) {
                if (!PutField(texts.Text()) || !texts.Ok()) return false;
                continue;
            }
            prev += UnZigZag(deltas.Leb());
            if (!deltas.Ok()) return false;
            Bytes& out = Out();
            if (timed && prev / 86400 == day) {
                const auto s = static_cast<unsigned>(prev % 86400);
                const unsigned v[3] = {s / 3600, s / 60 % 60, s % 60};
                char text[kDayText + 8];
                std::memcpy(text, dayText, kDayText);
                for (int i = 0; i < 3; ++i) {
                    text[kDayText + 3 * i] = static_cast<char>('0' + v[i] / 10);
                    text[kDayText + 3 * i + 1] = static_cast<char>('0' + v[i] % 10);
                    if (i < 2) text[kDayText + 3 * i + 2] = ':';
                }
                out.append(text, sizeof text);
            } else {
                const size_t at = out.size();
                if (!AppendDate(out, pattern, prev)) return false;
                if (timed) {
                    day = prev / 86400;
                    std::memcpy(dayText, out.data() + at, kDayText);
                }
            }
            if (!EndField()) return false;
        }
        return kinds.AtEnd() && deltas.AtEnd() && texts.AtEnd();
    }

    CStreamReader m_streams;
    std::array<QByteArray, 5> m_store;
    // A reference's fields of a column, fetched at once, and the rows asked.
    std::string m_fetched;
    std::vector<size_t> m_fetchedEnds;
    std::vector<std::uint32_t> m_fetchRows;
    std::array<QByteArray, kCodePlaces> m_places;
    std::vector<std::uint8_t> m_counts;
    std::vector<Column> m_columns;
    qsizetype m_total = 0;
    int m_column = 0;
    BlockCoding m_coding = BlockCoding::Utf8;
    const BlockReferences* m_references = nullptr;
};

}  // namespace

QByteArray EncodeRecordBlock(const RecordBlock& block, int zstdLevel, const CBlockReference* reference) {
    std::vector<QByteArrayView> records;
    records.reserve(block.records.size());
    for (const QByteArray& r : block.records) records.emplace_back(r);
    CStreamWriter streams(zstdLevel), probe(1);
    return CEncoder(zstdLevel, streams, probe).Encode(block.coding, records, reference);
}

QByteArray EncodeRecordViews(BlockCoding coding, const std::vector<QByteArrayView>& records, int zstdLevel,
                             const CBlockReference* reference) {
    CStreamWriter streams(zstdLevel), probe(1);
    return CEncoder(zstdLevel, streams, probe).Encode(coding, records, reference);
}

struct CRecordBlockEncoder::Plans {
    explicit Plans(int level) : streams(level), encoder(level, streams, probe, &columns) {}
    std::vector<ColumnPlan> columns;
    CStreamWriter streams;
    CStreamWriter probe{1};
    CEncoder encoder;
};

CRecordBlockEncoder::CRecordBlockEncoder(int zstdLevel)
    : m_level(zstdLevel), m_plans(std::make_unique<Plans>(zstdLevel)) {}
CRecordBlockEncoder::~CRecordBlockEncoder() = default;

QByteArray CRecordBlockEncoder::Encode(BlockCoding coding, const std::vector<QByteArrayView>& records,
                                       const CBlockReference* reference) {
    return m_plans->encoder.Encode(coding, records, reference);
}

bool DecodeRecordBlock(const char* data, qsizetype size, RecordBlock* block, const BlockReferences* references) {
    CDecoder decoder;
    BlockCoding coding = BlockCoding::Utf8;
    if (!decoder.Decode(data, size, &coding, references)) return false;
    QByteArray bytes;
    std::vector<qsizetype> ends;
    decoder.Join({}, &bytes, &ends);
    block->coding = coding;
    block->records.clear();
    block->records.reserve(ends.size());
    qsizetype from = 0;
    for (qsizetype end : ends) {
        block->records.emplace_back(bytes.constData() + from, end - from);
        from = end;
    }
    return true;
}

bool DecodeRecordLines(const char* data, qsizetype size, QByteArrayView terminator, RecordLines* lines,
                       const BlockReferences* references) {
    thread_local CDecoder decoder;
    if (!decoder.Decode(data, size, &lines->coding, references)) return false;
    decoder.Join(terminator, &lines->bytes, &lines->ends);
    return true;
}

}  // namespace Link
