#include "directories/CellText.h"

#include <cstring>

namespace {
constexpr char16_t kReplacedSeparator = u',';
constexpr char16_t kReplacedBreak = u' ';
}  // namespace

QString CleanCellText(const QString& text, bool* replaced) {
    const auto forbidden = [](char16_t c) { return c == u';' || c == u'\r' || c == u'\n' || c == u'\0'; };
    qsizetype first = 0;
    while (first < text.size() && !forbidden(text[first].unicode())) ++first;
    if (replaced) *replaced = first < text.size();
    if (first == text.size()) return text;

    QString out;
    out.reserve(text.size());
    out.append(QStringView(text).first(first));
    for (qsizetype i = first; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u';') {
            out.append(QChar(kReplacedSeparator));
        } else if (forbidden(c)) {
            // CR LF is one line break: one space.
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            out.append(QChar(kReplacedBreak));
        } else {
            out.append(QChar(c));
        }
    }
    return out;
}

bool CleanFieldBytes(QByteArrayView* fields, qsizetype count, QByteArray& scratch) {
    const auto needsCleaning = [](QByteArrayView field) {
        for (const char c : {';', '\r', '\n', '\0'})
            if (std::memchr(field.data(), c, size_t(field.size()))) return true;
        return false;
    };
    qsizetype total = 0;
    bool any = false;
    for (qsizetype i = 0; i < count; ++i) {
        total += fields[i].size();
        any = any || (!fields[i].isEmpty() && needsCleaning(fields[i]));
    }
    if (!any) return false;
    // Room for every field at once: the views into it never move.
    scratch.resize(0);
    scratch.reserve(total);
    for (qsizetype i = 0; i < count; ++i) {
        if (fields[i].isEmpty() || !needsCleaning(fields[i])) continue;
        const qsizetype start = scratch.size();
        for (const char c : fields[i]) {
            if (c == ';')
                scratch.append(char(kReplacedSeparator));
            else if (c == '\r' || c == '\n' || c == '\0')
                scratch.append(char(kReplacedBreak));
            else
                scratch.append(c);
        }
        fields[i] = QByteArrayView(scratch.constData() + start, fields[i].size());
    }
    return true;
}
