#include "directories/CellText.h"

#include "directories/DirectoryTable.h"
#include "platform/Prompt.h"

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

QString FitCellText(const QString& text, qsizetype maxBytes, const CodePage::CCodec& codec) {
    if (maxBytes <= 0) return QString();
    if (codec.Encode(text).size() <= maxBytes) return text;
    // Never between the two halves of a surrogate pair.
    const auto boundary = [&](qsizetype length) {
        if (length > 0 && text[length - 1].isHighSurrogate() && text[length].isLowSurrogate()) --length;
        return length;
    };
    // The encoded size grows with the length of the beginning taken: the
    // longest one that fits lies between `fits` and `tooLong`.
    qsizetype fits = 0;
    qsizetype tooLong = text.size();
    while (tooLong - fits > 1) {
        const qsizetype middle = fits + (tooLong - fits) / 2;
        if (codec.Encode(QStringView(text).first(boundary(middle))).size() <= maxBytes)
            fits = middle;
        else
            tooLong = middle;
    }
    // A field is read without the blanks at its ends: a cut that ends in
    // blanks leaves them out, or the text would read back shorter than shown.
    qsizetype length = boundary(fits);
    while (length > 0 && text[length - 1] == u' ') --length;
    return text.first(length);
}

void ShowCellTextNotes(const CellTextNotes& notes) {
    const QString caption = QString::fromUtf8(DirectoryText::kCaption);
    const auto show = [&](const QString& text) {
        Prompt().Message(text, caption, PromptIcon::Information, PromptButtons::Ok);
    };
    const QString limit = QString::number(kMaxLineBytes);
    if (notes.replaced) show(QString::fromUtf8(DirectoryText::kCellTextReplaced));
    if (notes.shortenedTo >= 0)
        show(QString::fromUtf8(DirectoryText::kCellTextShortened).arg(limit).arg(notes.shortenedTo));
    if (notes.refused) show(QString::fromUtf8(DirectoryText::kCellTextRefused).arg(limit));
    if (notes.shortenedRows > 0)
        show(QString::fromUtf8(DirectoryText::kRowsShortened).arg(limit).arg(notes.shortenedRows));
}
