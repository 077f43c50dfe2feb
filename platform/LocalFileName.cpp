#include "platform/LocalFileName.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char16_t kRawByteBase = 0xDC00;

bool IsRawByteUnit(char16_t unit) { return unit >= 0xDC80 && unit <= 0xDCFF; }

// The length of the well-formed UTF-8 sequence at `at` and its code point; 0
// when the bytes there are not one (a stray continuation byte, an overlong or
// cut form, an encoded surrogate, a value beyond U+10FFFF).
int Utf8Sequence(const unsigned char* p, qsizetype left, char32_t* point) {
    const unsigned char b = p[0];
    int length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (b < 0x80) {
        *point = b;
        return 1;
    }
    if ((b & 0xE0) == 0xC0) length = 2, value = b & 0x1F, minimum = 0x80;
    else if ((b & 0xF0) == 0xE0) length = 3, value = b & 0x0F, minimum = 0x800;
    else if ((b & 0xF8) == 0xF0) length = 4, value = b & 0x07, minimum = 0x10000;
    else return 0;
    if (left < length) return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *point = value;
    return length;
}

void AppendUtf8(char32_t point, QByteArray& out) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

int OpenFlags(QIODevice::OpenMode mode) {
    const bool read = mode.testFlag(QIODevice::ReadOnly);
    const bool write = mode.testFlag(QIODevice::WriteOnly) || mode.testFlag(QIODevice::Append);
    int flags = O_CLOEXEC;
    if (read && write) flags |= O_RDWR;
    else if (write) flags |= O_WRONLY;
    else flags |= O_RDONLY;
    if (write && !mode.testFlag(QIODevice::ExistingOnly)) flags |= O_CREAT;
    if (write && mode.testFlag(QIODevice::NewOnly)) flags |= O_EXCL;
    if (mode.testFlag(QIODevice::Append)) flags |= O_APPEND;
    else if (mode.testFlag(QIODevice::Truncate) || (write && !read)) flags |= O_TRUNC;
    return flags;
}

}  // namespace

QString DecodeLocalName(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        char32_t point = 0;
        const int length = Utf8Sequence(p + i, size - i, &point);
        if (length == 0) {
            text += QChar(static_cast<char16_t>(kRawByteBase + p[i]));
            ++i;
            continue;
        }
        if (point >= 0x10000) {
            text += QChar(QChar::highSurrogate(point));
            text += QChar(QChar::lowSurrogate(point));
        } else {
            text += QChar(static_cast<char16_t>(point));
        }
        i += length;
    }
    return text;
}

QByteArray EncodeLocalName(const QString& name, bool* usable) {
    QByteArray out;
    out.reserve(name.size());
    bool ok = true;
    const qsizetype size = name.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = name[i].unicode();
        if (unit == 0) {
            ok = false;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size && QChar::isLowSurrogate(name[i + 1].unicode())) {
            AppendUtf8(QChar::surrogateToUcs4(unit, name[i + 1].unicode()), out);
            ++i;
        } else if (IsRawByteUnit(unit)) {
            out += static_cast<char>(unit - kRawByteBase);
        } else if (QChar::isSurrogate(unit)) {
            ok = false;  // stands for no byte and no character
        } else {
            AppendUtf8(unit, out);
        }
    }
    if (usable) *usable = ok;
    return out;
}

bool HasRawBytes(const QString& name) {
    for (const QChar c : name)
        if (IsRawByteUnit(c.unicode())) return true;
    return false;
}

bool IsUsableLocalName(const QString& name) {
    bool usable = false;
    EncodeLocalName(name, &usable);
    return usable;
}

QString PrintableLocalName(const QString& name) {
    if (!HasRawBytes(name)) return name;
    QString shown;
    for (const QChar c : name) {
        if (IsRawByteUnit(c.unicode()))
            shown += QStringLiteral("\\x") +
                     QString::number(c.unicode() - kRawByteBase, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else shown += c;
    }
    return shown;
}

QStringList DecodeArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << DecodeLocalName(QByteArrayView(argv[i], qsizetype(std::strlen(argv[i]))));
    return arguments;
}

bool OpenLocalFile(QFile& file, const QString& path, QIODevice::OpenMode mode, QString* error) {
    if (!HasRawBytes(path)) {
        file.setFileName(path);
        if (file.open(mode)) return true;
        if (error) *error = file.errorString();
        return false;
    }
    bool usable = false;
    const QByteArray bytes = EncodeLocalName(path, &usable);
    if (!usable) {
        if (error) *error = SystemErrorText(EINVAL);
        return false;
    }
    const int fd = ::open(bytes.constData(), OpenFlags(mode), 0666);
    if (fd < 0) {
        if (error) *error = SystemErrorText(errno);
        return false;
    }
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle)) return true;
    if (error) *error = file.errorString();
    ::close(fd);
    return false;
}

QString SystemErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }
