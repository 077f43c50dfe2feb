#include "platform/ProfileFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace Profile {
namespace {

constexpr int kValueLimit = 1023;

QStringList ReadLines(const QString& file, bool* exists = nullptr) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        if (exists) *exists = false;
        return {};
    }
    if (exists) *exists = true;
    QString text = QString::fromUtf8(f.readAll());
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

// "[name]" -> name; anything else -> null string.
QString SectionName(const QString& line) {
    const QString t = line.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('[')) ) {
        const int close = t.indexOf(QLatin1Char(']'));
        if (close > 0) return t.mid(1, close - 1).trimmed();
    }
    return QString();
}

bool IsSection(const QString& line) { return !SectionName(line).isNull(); }

bool SplitKeyValue(const QString& line, QString* key, QString* value) {
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char(';'))) return false;
    const int eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) return false;
    *key = line.left(eq).trimmed();
    *value = line.mid(eq + 1).trimmed();
    return true;
}

bool Same(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

bool Find(const QString& file, const QString& section, const QString& key, QString* value) {
    const QStringList lines = ReadLines(file);
    bool inSection = false;
    for (const QString& line : lines) {
        if (IsSection(line)) {
            inSection = Same(SectionName(line), section);
            continue;
        }
        QString k, v;
        if (inSection && SplitKeyValue(line, &k, &v) && Same(k, key)) {
            *value = v;
            return true;
        }
    }
    return false;
}

}  // namespace

QString ReadString(const QString& file, const QString& section, const QString& key,
                   const QString& defaultValue) {
    QString value;
    if (!Find(file, section, key, &value)) value = defaultValue;
    return value.left(kValueLimit);
}

int ReadInt(const QString& file, const QString& section, const QString& key, int defaultValue) {
    QString value;
    if (!Find(file, section, key, &value)) return defaultValue;
    int i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == QLatin1Char('-') || value[i] == QLatin1Char('+'))) {
        negative = value[i] == QLatin1Char('-');
        ++i;
    }
    long long n = 0;
    for (; i < value.size() && value[i].isDigit() && value[i].unicode() < 128; ++i) {
        n = n * 10 + (value[i].unicode() - '0');
        if (n > 0x7fffffffLL) n = 0x7fffffffLL;
    }
    return static_cast<int>(negative ? -n : n);
}

bool WriteString(const QString& file, const QString& section, const QString& key,
                 const QString& value) {
    QStringList lines = ReadLines(file);
    const QString entry = key + QLatin1Char('=') + value;
    int sectionStart = -1;  // index of the header line
    int sectionEnd = -1;    // one past the last non-blank line of the section
    for (int i = 0; i < lines.size(); ++i) {
        if (IsSection(lines[i])) {
            if (sectionStart >= 0) break;
            if (Same(SectionName(lines[i]), section)) {
                sectionStart = i;
                sectionEnd = i + 1;
            }
            continue;
        }
        if (sectionStart < 0) continue;
        QString k, v;
        if (SplitKeyValue(lines[i], &k, &v) && Same(k, key)) {
            lines[i] = entry;
            sectionEnd = -2;  // replaced
            break;
        }
        if (!lines[i].trimmed().isEmpty()) sectionEnd = i + 1;
    }
    if (sectionStart < 0) {
        lines << QLatin1Char('[') + section + QLatin1Char(']') << entry;
    } else if (sectionEnd >= 0) {
        lines.insert(sectionEnd, entry);
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) return false;
    const QByteArray bytes = (lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n")).toUtf8();
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

}  // namespace Profile
