#include "exchange/UploadFileReader.h"

namespace {
constexpr qsizetype kBufferBytes = 64 * 1024;
}

bool CUploadFileReader::Open(const QString& path, const CodePage::CCodec& setting) {
    m_file.close();
    m_buffer.clear();
    m_pos = 0;
    m_hitEnd = false;
    m_failed = false;
    m_encoding = {setting, false};
    if (path.isEmpty()) return false;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) return false;
    m_encoding = DetectFileEncoding(path, setting);
    if (m_encoding.bom && !m_file.seek(kUtf8BomBytes)) m_failed = true;
    return true;
}

bool CUploadFileReader::Fill() {
    m_buffer.resize(kBufferBytes);
    const qint64 got = m_file.read(m_buffer.data(), kBufferBytes);
    if (got < 0) {
        m_buffer.clear();
        m_pos = 0;
        m_failed = true;
        return false;
    }
    m_buffer.resize(got);
    m_pos = 0;
    if (got == 0) m_hitEnd = true;
    return true;
}

CUploadFileReader::Result CUploadFileReader::Next(QByteArray* line) {
    line->clear();
    if (m_failed) return ReadError;
    while (line->size() < kMaxLineBytes) {
        if (m_pos >= m_buffer.size()) {
            if (!Fill()) return ReadError;
            if (m_buffer.isEmpty()) break;
        }
        char c = m_buffer[m_pos++];
        if (c == '\r') {
            // CR LF counts as one LF, as text-mode reading sees it.
            if (m_pos >= m_buffer.size() && !Fill()) return ReadError;
            if (m_pos < m_buffer.size() && m_buffer[m_pos] == '\n') {
                ++m_pos;
                c = '\n';
            }
        }
        line->append(c);
        if (c == '\n') return Line;
    }
    return line->isEmpty() ? EndOfFile : Line;
}

QByteArray StripLineEnd(QByteArray line) {
    if (line.endsWith('\n')) line.chop(1);
    if (line.endsWith('\r')) line.chop(1);
    return line;
}

qint64 CountRecordLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    qint64 lines = 0;
    bool lineHasText = false;
    QByteArray chunk;
    while (!(chunk = file.read(kBufferBytes)).isEmpty()) {
        for (const char c : std::as_const(chunk)) {
            if (c == '\n') {
                if (lineHasText) ++lines;
                lineHasText = false;
            } else if (c != '\r') {
                lineHasText = true;
            }
        }
    }
    return lines + (lineHasText ? 1 : 0);
}
