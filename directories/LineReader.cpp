#include "directories/LineReader.h"

#include "directories/DirectoryEncoding.h"

#include <QFileInfo>

#include <cstring>

namespace {
constexpr qsizetype kFirstBlockBytes = 64 * 1024;  // enough for a summary's 1000 lines
constexpr qsizetype kBlockBytes = 1 << 20;
}

CDirectoryLineReader::CDirectoryLineReader(int maxLineBytes)
    : m_max(maxLineBytes < 1 ? 1 : maxLineBytes) {}

bool CDirectoryLineReader::Open(const QString& path) {
    Close();
    if (path.isEmpty() || QFileInfo(path).isDir()) return false;
    m_file.setFileName(path);
    // Unbuffered: we read big blocks ourselves; QFile's buffer would copy twice.
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return false;
    m_buffer.resize(kFirstBlockBytes + m_max + 2 + kUtf8BomBytes);
    return true;
}

void CDirectoryLineReader::Close() {
    if (m_file.isOpen()) m_file.close();
    m_buffer = QByteArray();
    m_pos = m_end = 0;
    m_eof = m_failed = m_lastHadEnd = false;
    m_atStart = true;
}

bool CDirectoryLineReader::Fill() {
    if (m_eof || m_failed) return false;
    // Start small (a count stops early), then read big blocks.
    if (m_buffer.size() < kBlockBytes + m_max + 2 + kUtf8BomBytes && m_end > 0)
        m_buffer.resize(kBlockBytes + m_max + 2 + kUtf8BomBytes);
    // Keep the unread tail at the start of the buffer, then read behind it.
    if (m_pos > 0) {
        const qsizetype rest = m_end - m_pos;
        if (rest > 0) std::memmove(m_buffer.data(), m_buffer.constData() + m_pos, rest);
        m_end = rest;
        m_pos = 0;
    }
    const qsizetype room = m_buffer.size() - m_end;
    if (room <= 0) return false;
    const qint64 got = m_file.read(m_buffer.data() + m_end, room);
    if (got < 0) {
        m_failed = true;
        return false;
    }
    if (got == 0) {
        m_eof = true;
        return false;
    }
    m_end += got;
    return true;
}

bool CDirectoryLineReader::ReadLine(QByteArrayView* line) {
    if (!m_file.isOpen()) return false;
    // Enough bytes to see the longest line with its CR LF (and a byte-order
    // mark before the first line).
    const qsizetype want = qsizetype(m_max) + 2 + (m_atStart ? kUtf8BomBytes : 0);
    while (m_end - m_pos < want && Fill()) {
    }
    if (m_failed || m_pos >= m_end) return false;

    const char* start = m_buffer.constData() + m_pos;
    const qsizetype available = m_end - m_pos;
    // The mark is no text of the first line: a saved first line of the
    // longest length must stay one line behind it.
    qsizetype max = m_max;
    if (m_atStart && QByteArrayView(start, available).startsWith(QByteArrayView(kUtf8Bom, kUtf8BomBytes)))
        max += kUtf8BomBytes;
    m_atStart = false;

    const qsizetype window = max + 2;
    const qsizetype look = available < window ? available : window;
    const void* nl = std::memchr(start, '\n', static_cast<size_t>(look));
    if (nl) {
        const qsizetype at = static_cast<const char*>(nl) - start;
        qsizetype length = at;
        if (length > 0 && start[length - 1] == '\r') --length;
        if (length <= max) {
            *line = QByteArrayView(start, length);
            m_pos += at + 1;
            m_lastHadEnd = true;
            return true;
        }
    } else if (available < window) {
        // The last line of the file, without a line end (a CR just before the
        // end of the file is none of its text).
        qsizetype length = available;
        if (length > 0 && start[length - 1] == '\r') --length;
        if (length <= max) {
            *line = QByteArrayView(start, length);
            m_pos = m_end;
            m_lastHadEnd = false;
            return true;
        }
    }
    // Too long for one line: its first `max` bytes, the rest follows.
    *line = QByteArrayView(start, max);
    m_pos += max;
    m_lastHadEnd = false;
    return true;
}
