#include "directories/DirectoryEncoding.h"

#include "platform/LocalFileName.h"

#include <QFile>


void CUtf8Check::Feed(QByteArrayView bytes) {
    if (!m_valid) return;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    // First the rest of a character begun in the previous piece.
    for (; m_pending > 0 && p < end; ++p, --m_pending) {
        if (*p < m_low || *p > m_high) {
            m_valid = false;
            return;
        }
        m_low = 0x80;
        m_high = 0xBF;
    }
    // Then whole characters, the state in locals (the bytes are read through a
    // char pointer, which could alias the members and make the compiler reload
    // them for every byte).
    bool multiByte = m_multiByte;
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        multiByte = true;
        // Runs of two-byte characters (Cyrillic), a pair at a time: a lead
        // byte C2..DF and a continuation byte 80..BF.
        while (end - p >= 2 && (p[0] & 0xE0) == 0xC0 && p[0] >= 0xC2 && (p[1] & 0xC0) == 0x80) p += 2;
        if (p == end || *p < 0x80) continue;
        const unsigned char b = *p++;
        int need = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            if (b == 0xE0) low = 0xA0;   // overlong
            if (b == 0xED) high = 0x9F;  // surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            if (b == 0xF0) low = 0x90;   // overlong
            if (b == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            m_valid = false;
            return;
        }
        for (; need > 0 && p < end; ++p, --need) {
            if (*p < low || *p > high) {
                m_valid = false;
                return;
            }
            low = 0x80;
            high = 0xBF;
        }
        if (need > 0) {  // continued in the next piece
            m_pending = need;
            m_low = low;
            m_high = high;
        }
    }
    m_multiByte = multiByte;
}

DirectoryFileEncoding ChooseFileEncoding(const CodePage::CCodec& setting, bool bom,
                                         const CUtf8Check& check) {
    static const CodePage::CCodec utf8(QStringLiteral("utf-8"));
    if (bom) return {utf8, true};
    if (ChecksForUtf8(setting) && check.IsMultiByteUtf8()) return {utf8, false};
    return {setting, false};
}

DirectoryFileEncoding DetectFileEncoding(const QString& path, const CodePage::CCodec& setting) {
    QFile file;
    if (path.isEmpty() || !OpenLocalFile(file, path, QIODevice::ReadOnly)) return {setting, false};
    const QByteArray head = file.read(kUtf8BomBytes);
    const bool bom = head == QByteArrayView(kUtf8Bom, kUtf8BomBytes);
    CUtf8Check check;
    if (bom || !ChecksForUtf8(setting)) return ChooseFileEncoding(setting, bom, check);
    check.Feed(head);
    QByteArray block(1 << 20, Qt::Uninitialized);
    while (check.StillValid()) {
        const qint64 got = file.read(block.data(), block.size());
        if (got <= 0) break;
        check.Feed(QByteArrayView(block.constData(), got));
    }
    return ChooseFileEncoding(setting, bom, check);
}
