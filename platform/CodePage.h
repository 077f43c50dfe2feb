#pragma once
// Single-byte code pages of the terminal side. Windows-1251 is converted with
// our own table (it is the hot path of every directory and journal file); any
// other code page a user configures goes through Qt's converters.
// Characters a code page cannot hold become '?', as the Windows converter does.

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace CodePage {

inline constexpr const char* kWindows1251 = "windows-1251";

QByteArray ToWindows1251(QStringView text);
QString FromWindows1251(const char* data, qsizetype size);
inline QString FromWindows1251(const QByteArray& bytes) {
    return FromWindows1251(bytes.constData(), bytes.size());
}
// Appends the conversion of `text` to `out` (no allocation beyond growth).
void AppendWindows1251(QStringView text, QByteArray& out);
// Appends `text` in Windows-1251 only when the page holds every character of
// it (one byte each); false, with `out` as it was, otherwise.
bool AppendWindows1251Exactly(QStringView text, QByteArray& out);

// A code page given by name ("windows-1251", "cp866", "utf-8", ...).
// Unknown names fall back to Windows-1251.
class CCodec {
public:
    explicit CCodec(const QString& name = QString::fromLatin1(kWindows1251));
    QString Name() const { return m_name; }
    bool IsWindows1251() const { return m_is1251; }
    QByteArray Encode(QStringView text) const;
    void AppendEncoded(QStringView text, QByteArray& out) const;
    QString Decode(const char* data, qsizetype size) const;
    QString Decode(const QByteArray& bytes) const { return Decode(bytes.constData(), bytes.size()); }

private:
    QString m_name;
    bool m_is1251 = true;
};

// True when `name` is a code page this program can convert.
bool IsKnown(const QString& name);

}  // namespace CodePage
