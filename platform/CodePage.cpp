#include "platform/CodePage.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>

namespace CodePage {
namespace {

// Windows-1251 bytes 0x80..0xFF as Unicode; 0x98 is unassigned.
constexpr char16_t kHigh[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// Reverse map for U+0080..U+2122 built once; 0 = not representable.
struct ReverseTable {
    std::array<unsigned char, 0x2200> bytes{};
    ReverseTable() {
        for (int i = 0; i < 128; ++i) {
            const char16_t u = kHigh[i];
            if (u < bytes.size()) bytes[u] = static_cast<unsigned char>(0x80 + i);
        }
    }
};
const ReverseTable& Reverse() {
    static const ReverseTable table;
    return table;
}

inline char EncodeChar(char16_t u, const ReverseTable& rev) {
    if (u < 0x80) return static_cast<char>(u);
    if (u < rev.bytes.size() && rev.bytes[u]) return static_cast<char>(rev.bytes[u]);
    return '?';
}

QString Canonical(const QString& name) {
    QString n = name.trimmed().toLower();
    if (n == QLatin1String("cp1251") || n == QLatin1String("1251") ||
        n == QLatin1String("windows1251") || n == QLatin1String("win1251"))
        return QString::fromLatin1(kWindows1251);
    return n;
}

}  // namespace

void AppendWindows1251(QStringView text, QByteArray& out) {
    const ReverseTable& rev = Reverse();
    const qsizetype start = out.size();
    out.resize(start + text.size());
    char* dst = out.data() + start;
    qsizetype written = 0;
    const char16_t* src = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = src[i];
        // Most of a record is ASCII: straight through.
        if (u < 0x80) {
            dst[written++] = static_cast<char>(u);
            continue;
        }
        // A surrogate pair is one character that the code page cannot hold.
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(src[i + 1])) {
            ++i;
            dst[written++] = '?';
            continue;
        }
        dst[written++] = EncodeChar(u, rev);
    }
    out.resize(start + written);
}

bool AppendWindows1251Exactly(QStringView text, QByteArray& out) {
    const ReverseTable& rev = Reverse();
    const qsizetype start = out.size();
    out.resize(start + text.size());
    auto* dst = reinterpret_cast<unsigned char*>(out.data() + start);
    const char16_t* src = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = src[i];
        if (u < 0x80) {
            dst[i] = static_cast<unsigned char>(u);
        } else if (u < rev.bytes.size() && rev.bytes[u]) {
            dst[i] = rev.bytes[u];
        } else {
            out.truncate(start);
            return false;
        }
    }
    return true;
}

QByteArray ToWindows1251(QStringView text) {
    QByteArray out;
    AppendWindows1251(text, out);
    return out;
}

QString FromWindows1251(const char* data, qsizetype size) {
    QString out(size, Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned char b = static_cast<unsigned char>(data[i]);
        dst[i] = b < 0x80 ? char16_t(b) : kHigh[b - 0x80];
    }
    return out;
}

CCodec::CCodec(const QString& name) : m_name(Canonical(name)) {
    m_is1251 = m_name == QLatin1String(kWindows1251) || !IsKnown(m_name);
    if (m_is1251) m_name = QString::fromLatin1(kWindows1251);
}

QByteArray CCodec::Encode(QStringView text) const {
    QByteArray out;
    AppendEncoded(text, out);
    return out;
}

void CCodec::AppendEncoded(QStringView text, QByteArray& out) const {
    if (m_is1251) {
        AppendWindows1251(text, out);
        return;
    }
    // What the page cannot hold becomes '?', as with Windows-1251: Qt's
    // converters would write 0x1A or 0x7F, control bytes that a text-mode
    // reader on the terminal's side may take for the end of the file. They are
    // asked for a NUL instead, which cannot be mistaken for one of the text's
    // own NULs: those are written between the parts.
    QStringEncoder enc(m_name.toLatin1().constData(),
                       QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInvalidToNull);
    qsizetype start = 0;
    for (;;) {
        const qsizetype nul = text.indexOf(QChar(0), start);
        QByteArray part = enc.encode(text.sliced(start, (nul < 0 ? text.size() : nul) - start));
        part.replace('\0', '?');
        out += part;
        if (nul < 0) return;
        out += '\0';
        start = nul + 1;
    }
}

QString CCodec::Decode(const char* data, qsizetype size) const {
    if (m_is1251) return FromWindows1251(data, size);
    // Every piece (a line, a cell) is decoded on its own: a byte-order mark at
    // its start is a character of the text (the file's own mark is dealt with
    // before), not something to drop.
    QStringDecoder dec(m_name.toLatin1().constData(),
                       QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return dec.decode(QByteArrayView(data, size));
}

bool IsKnown(const QString& name) {
    const QString n = Canonical(name);
    if (n == QLatin1String(kWindows1251)) return true;
    QStringEncoder enc(n.toLatin1().constData());
    return enc.isValid();
}

}  // namespace CodePage
