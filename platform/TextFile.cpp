#include "platform/TextFile.h"

bool CTextFileWriter::Open(const QString& path, TextFileMode mode, const CodePage::CCodec& codec) {
    Close();
    m_codec = codec;
    m_failed = false;
    m_file.setFileName(path);
    const QIODevice::OpenMode flags = mode == TextFileMode::Append
                                          ? QIODevice::WriteOnly | QIODevice::Append
                                          : QIODevice::WriteOnly | QIODevice::Truncate;
    return m_file.open(flags);
}

QByteArray ToCrLf(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 16 + 2);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n') out += "\r\n";
        else out += c;
    }
    return out;
}

bool CTextFileWriter::Write(QStringView text) {
    if (!m_file.isOpen()) return false;
    return WriteRaw(ToCrLf(m_codec.Encode(text)));
}

bool CTextFileWriter::WriteRaw(const QByteArray& bytes) {
    if (!m_file.isOpen()) return false;
    if (m_file.write(bytes) != bytes.size()) m_failed = true;
    return !m_failed;
}

bool CTextFileWriter::Close() {
    if (!m_file.isOpen()) return !m_failed;
    m_file.close();
    const bool ok = !m_failed && m_file.error() == QFileDevice::NoError;
    return ok;
}

bool WriteTextFile(const QString& path, QStringView text, TextFileMode mode,
                   const CodePage::CCodec& codec) {
    CTextFileWriter writer;
    if (!writer.Open(path, mode, codec)) return false;
    const bool written = writer.Write(text);
    return writer.Close() && written;
}
