#include "exchange/UploadFileReader.h"

#include "platform/LocalFileName.h"

namespace {
constexpr qsizetype kBufferBytes = 64 * 1024;

bool IsUtf8(const CodePage::CCodec& codec) {
    return codec.Name() == QLatin1String("utf-8") || codec.Name() == QLatin1String("utf8");
}

// How many bytes at the end of `bytes` begin a UTF-8 character that is not
// complete there (0 when the last character is whole, or not UTF-8 at all).
qsizetype IncompleteUtf8Tail(const QByteArray& bytes) {
    for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const auto b = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const qsizetype length = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

}  // namespace

bool CUploadFileReader::Open(const QString& path, const CodePage::CCodec& setting) {
    m_file.close();
    m_buffer.clear();
    m_pos = 0;
    m_carry.clear();
    m_hitEnd = false;
    m_failed = false;
    m_encoding = {setting, false};
    m_openError.clear();
    if (path.isEmpty()) return false;
    // A name a script gave in Windows-1251 bytes is opened by those bytes.
    if (!OpenLocalFile(m_file, path, QIODevice::ReadOnly, &m_openError)) return false;
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
    *line = m_carry;
    m_carry.clear();
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
    // A line cut at the limit in a UTF-8 file is cut before a character that
    // would be split in two: the character begins the next part, so that
    // neither part turns it into garbage.
    if (line->size() >= kMaxLineBytes && IsUtf8(m_encoding.codec)) {
        const qsizetype tail = IncompleteUtf8Tail(*line);
        if (tail > 0 && tail < line->size()) {
            m_carry = line->right(tail);
            line->chop(tail);
        }
    }
    return line->isEmpty() ? EndOfFile : Line;
}

QByteArray StripLineEnd(QByteArray line) {
    if (line.endsWith('\n')) line.chop(1);
    if (line.endsWith('\r')) line.chop(1);
    return line;
}

qint64 CountRecordLines(const QString& path) {
    QFile file;
    if (!OpenLocalFile(file, path, QIODevice::ReadOnly)) return 0;
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
