#include "directories/DirectoryEncoding.h"

#include <QFile>

#include <cstring>

void CUtf8Check::Feed(QByteArrayView bytes) {
    if (!m_valid) return;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char b = *p++;
        if (m_pending > 0) {
            if (b < m_low || b > m_high) {
                m_valid = false;
                return;
            }
            m_low = 0x80;
            m_high = 0xBF;
            --m_pending;
            continue;
        }
        if (b < 0x80) {
            // Runs of ASCII eight bytes at a time.
            while (end - p >= 8) {
                quint64 word;
                std::memcpy(&word, p, 8);
                if (word & 0x8080808080808080ULL) break;
                p += 8;
            }
            continue;
        }
        m_multiByte = true;
        if (b >= 0xC2 && b <= 0xDF) {
            m_pending = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            m_pending = 2;
            if (b == 0xE0) m_low = 0xA0;   // overlong
            if (b == 0xED) m_high = 0x9F;  // surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            m_pending = 3;
            if (b == 0xF0) m_low = 0x90;   // overlong
            if (b == 0xF4) m_high = 0x8F;  // above U+10FFFF
        } else {
            m_valid = false;
            return;
        }
    }
}

DirectoryFileEncoding ChooseFileEncoding(const CodePage::CCodec& setting, bool bom,
                                         const CUtf8Check& check) {
    static const CodePage::CCodec utf8(QStringLiteral("utf-8"));
    if (bom) return {utf8, true};
    if (ChecksForUtf8(setting) && check.IsMultiByteUtf8()) return {utf8, false};
    return {setting, false};
}

DirectoryFileEncoding DetectFileEncoding(const QString& path, const CodePage::CCodec& setting) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return {setting, false};
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
