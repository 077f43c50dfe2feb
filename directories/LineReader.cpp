#include "directories/LineReader.h"

#include "directories/ContentDigest.h"
#include "directories/DirectoryEncoding.h"
#include "platform/FileBlock.h"

#include <QFileInfo>

#include <cstring>

namespace {
constexpr qsizetype kFirstBlockBytes = 64 * 1024;  // enough for a summary's 1000 lines
constexpr qsizetype kBlockBytes = 1 << 20;
// A kept block's size limit: rows address their bytes with 32-bit offsets.
constexpr qsizetype kMaxKeptBlockBytes = qsizetype(1) << 30;
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
    m_data = m_buffer.data();
    m_capacity = m_buffer.size();
    m_open = true;
    return true;
}

bool CDirectoryLineReader::OpenKeeping(const QString& path, BlockSource newBlock) {
    Close();
    if (!newBlock || path.isEmpty() || QFileInfo(path).isDir()) return false;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return false;
    m_keeping = true;
    m_open = true;
    m_newBlock = std::move(newBlock);
    // The whole file and the read that finds its end, when it does not change
    // meanwhile (a pipe or a special file says 0: it starts small and grows).
    const qsizetype size = m_file.isSequential() ? 0 : qsizetype(m_file.size());
    m_nextBlockBytes = qBound(kFirstBlockBytes, size + m_max + 3 + kUtf8BomBytes, kMaxKeptBlockBytes);
    return true;
}

void CDirectoryLineReader::Close() {
    if (m_file.isOpen()) m_file.close();
    m_buffer = QByteArray();
    m_data = nullptr;
    m_capacity = 0;
    m_keeping = false;
    m_newBlock = nullptr;
    m_digest = nullptr;
    m_pos = m_end = 0;
    m_eof = m_failed = m_lastHadEnd = m_lastHasNul = m_open = false;
    m_atStart = true;
    m_nul = -1;
    m_nulScan = 0;
}

void CDirectoryLineReader::MovedTo(qsizetype pos, qsizetype end) {
    m_pos = pos;
    m_end = end;
    // The unread bytes are searched again (less than a line).
    m_nul = -1;
    m_nulScan = 0;
}

bool CDirectoryLineReader::NextBlock() {
    const qsizetype rest = m_end - m_pos;
    const qsizetype capacity = qMax(m_nextBlockBytes, rest + kFirstBlockBytes);
    char* block = m_newBlock(capacity);
    if (!block) return false;
    if (rest > 0) std::memcpy(block, m_data + m_pos, size_t(rest));
    m_data = block;
    m_capacity = capacity;
    MovedTo(0, rest);
    m_nextBlockBytes = qMin(qMax(capacity * 2, kBlockBytes), kMaxKeptBlockBytes);
    return true;
}

bool CDirectoryLineReader::Fill() {
    if (m_eof || m_failed) return false;
    qsizetype room = 0;
    if (m_keeping) {
        // Read behind what was read; a full block continues in a new one.
        if (m_capacity - m_end <= 0 && !NextBlock()) {
            m_failed = true;
            return false;
        }
        room = qMin(m_capacity - m_end, m_end == 0 ? kFirstBlockBytes : kBlockBytes);
    } else {
        // Start small (a count stops early), then read big blocks.
        if (m_buffer.size() < kBlockBytes + m_max + 2 + kUtf8BomBytes && m_end > 0) {
            m_buffer.resize(kBlockBytes + m_max + 2 + kUtf8BomBytes);
            m_data = m_buffer.data();
            m_capacity = m_buffer.size();
        }
        // Keep the unread tail at the start of the buffer, then read behind it.
        if (m_pos > 0) {
            const qsizetype rest = m_end - m_pos;
            if (rest > 0) std::memmove(m_data, m_data + m_pos, rest);
            MovedTo(0, rest);
        }
        room = m_capacity - m_end;
    }
    if (room <= 0) return false;
    if (m_keeping) PreparePagesForWrite(m_data + m_end, room, m_capacity);
    const qint64 got = m_file.read(m_data + m_end, room);
    if (got < 0) {
        m_failed = true;
        return false;
    }
    if (got == 0) {
        m_eof = true;
        return false;
    }
    if (m_digest) m_digest->Feed(m_data + m_end, got);
    m_end += got;
    return true;
}

void CDirectoryLineReader::FindNul() {
    // A NUL found before this line is behind us: search on from here.
    if (m_nul >= 0 && m_nul < m_pos) {
        m_nul = -1;
        m_nulScan = m_pos;
    }
    if (m_nul >= 0 || m_nulScan >= m_end) return;
    const qsizetype from = m_nulScan > m_pos ? m_nulScan : m_pos;
    const void* hit = std::memchr(m_data + from, 0, size_t(m_end - from));
    m_nul = hit ? static_cast<const char*>(hit) - m_data : -1;
    m_nulScan = m_end;
}

void CDirectoryLineReader::NoteNul(qsizetype length) {
    m_lastHasNul = m_nul >= 0 && m_nul < m_pos + length;
}

bool CDirectoryLineReader::ReadLine(QByteArrayView* line) {
    if (!m_open) return false;
    // Enough bytes to see the longest line with its CR LF (and a byte-order
    // mark before the first line).
    const qsizetype want = qsizetype(m_max) + 2 + (m_atStart ? kUtf8BomBytes : 0);
    while (m_end - m_pos < want && Fill()) {
    }
    if (m_failed || m_pos >= m_end) return false;

    const char* start = m_data + m_pos;
    const qsizetype available = m_end - m_pos;
    // The mark is no text of the first line: a saved first line of the
    // longest length must stay one line behind it.
    qsizetype max = m_max;
    if (m_atStart && QByteArrayView(start, available).startsWith(QByteArrayView(kUtf8Bom, kUtf8BomBytes)))
        max += kUtf8BomBytes;
    m_atStart = false;

    FindNul();
    const qsizetype window = max + 2;
    const qsizetype look = available < window ? available : window;
    const void* nl = std::memchr(start, '\n', static_cast<size_t>(look));
    if (nl) {
        const qsizetype at = static_cast<const char*>(nl) - start;
        qsizetype length = at;
        if (length > 0 && start[length - 1] == '\r') --length;
        if (length <= max) {
            *line = QByteArrayView(start, length);
            NoteNul(length);
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
            NoteNul(length);
            m_pos = m_end;
            m_lastHadEnd = false;
            return true;
        }
    }
    // Too long for one line: its first `max` bytes, the rest follows.
    *line = QByteArrayView(start, max);
    NoteNul(max);
    m_pos += max;
    m_lastHadEnd = false;
    return true;
}
