#include "platform/ProfileFile.h"

#include "platform/SystemFile.h"

#include <QFile>
#include <QList>
#include <QSaveFile>
#include <QStringList>

namespace Profile {
namespace {

constexpr int kValueLimit = 1023;

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The file's lines as the file holds them, without their line ends (CR LF
// or LF) and without a byte order mark (`*marked`: whether it had one, which
// a write keeps). Lines are decoded only to find sections and keys, so a
// line a write does not touch keeps its bytes, whatever their encoding.
QList<QByteArray> ReadLines(const QString& file, bool* marked = nullptr) {
    if (marked) *marked = false;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = f.readAll();
    if (bytes.startsWith(kByteOrderMark)) {
        bytes.remove(0, 3);
        if (marked) *marked = true;
    }
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QByteArray& line : lines)
        if (line.endsWith('\r')) line.chop(1);
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

QString Text(const QByteArray& line) { return QString::fromUtf8(line); }

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
    bool inSection = false;
    for (const QByteArray& bytes : ReadLines(file)) {
        const QString line = Text(bytes);
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

namespace {

// The leading decimal integer of a value, saturated at the ends of the int range.
int LeadingInt(const QString& value) {
    int i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == QLatin1Char('-') || value[i] == QLatin1Char('+'))) {
        negative = value[i] == QLatin1Char('-');
        ++i;
    }
    // The most negative int has no positive counterpart, so the magnitude may
    // go one beyond INT_MAX.
    const long long limit = negative ? 0x80000000LL : 0x7fffffffLL;
    long long n = 0;
    for (; i < value.size() && value[i].isDigit() && value[i].unicode() < 128; ++i) {
        n = n * 10 + (value[i].unicode() - '0');
        if (n > limit) n = limit;
    }
    return static_cast<int>(negative ? -n : n);
}

bool FindLayered(const QStringList& files, const QString& section, const QString& key, QString* value) {
    for (auto file = files.crbegin(); file != files.crend(); ++file)
        if (!file->isEmpty() && Find(*file, section, key, value)) return true;
    return false;
}

}  // namespace

int ReadInt(const QString& file, const QString& section, const QString& key, int defaultValue) {
    QString value;
    return Find(file, section, key, &value) ? LeadingInt(value) : defaultValue;
}

QString ReadLayeredString(const QStringList& files, const QString& section, const QString& key,
                          const QString& defaultValue) {
    QString value;
    if (!FindLayered(files, section, key, &value)) value = defaultValue;
    return value.left(kValueLimit);
}

int ReadLayeredInt(const QStringList& files, const QString& section, const QString& key, int defaultValue) {
    QString value;
    return FindLayered(files, section, key, &value) ? LeadingInt(value) : defaultValue;
}

bool WriteString(const QString& file, const QString& section, const QString& key,
                 const QString& value, QString* error) {
    // Values are kept verbatim, one line each: a line break would end the
    // value there and turn the rest into lines of their own (another key,
    // another section). Such a value cannot be kept; the file stays as it is.
    for (const QString* text : {&section, &key, &value}) {
        if (text->contains(QLatin1Char('\n')) || text->contains(QLatin1Char('\r'))) {
            if (error) *error = QStringLiteral("the value holds a line break");
            return false;
        }
    }
    bool marked = false;
    QList<QByteArray> lines = ReadLines(file, &marked);
    const QByteArray entry = (key + QLatin1Char('=') + value).toUtf8();
    int sectionStart = -1;  // index of the header line
    int sectionEnd = -1;    // one past the last non-blank line of the section
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = Text(lines[i]);
        if (IsSection(line)) {
            if (sectionStart >= 0) break;
            if (Same(SectionName(line), section)) {
                sectionStart = i;
                sectionEnd = i + 1;
            }
            continue;
        }
        if (sectionStart < 0) continue;
        QString k, v;
        if (SplitKeyValue(line, &k, &v) && Same(k, key)) {
            lines[i] = entry;
            sectionEnd = -2;  // replaced
            break;
        }
        if (!line.trimmed().isEmpty()) sectionEnd = i + 1;
    }
    if (sectionStart < 0) {
        lines << (QLatin1Char('[') + section + QLatin1Char(']')).toUtf8() << entry;
    } else if (sectionEnd >= 0) {
        lines.insert(sectionEnd, entry);
    }
    QSaveFile out(file);
    const QByteArray bytes = (marked ? QByteArray(kByteOrderMark) : QByteArray()) + lines.join("\r\n") + "\r\n";
    // The rename counts once the folder is synced too: a power cut must not
    // bring back the old settings after a run went on with the new ones.
    if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit()) {
        SyncFolderOf(file);
        return true;
    }
    if (error) *error = out.errorString();
    out.cancelWriting();
    return false;
}

}  // namespace Profile
