#pragma once
// Text files in the terminal's form: single-byte text (Windows-1251 unless a
// code page is given) whose lines end in CR LF. Writing follows the C library's
// "w+" (replace) and "a+" (append) modes of the program's text-mode files: every
// "\n" of the text becomes CR LF.

#include "platform/CodePage.h"

#include <QFile>
#include <QString>

enum class TextFileMode { Replace, Append };

class CTextFileWriter {
public:
    CTextFileWriter() = default;
    ~CTextFileWriter() { Close(); }
    CTextFileWriter(const CTextFileWriter&) = delete;
    CTextFileWriter& operator=(const CTextFileWriter&) = delete;

    bool Open(const QString& path, TextFileMode mode,
              const CodePage::CCodec& codec = CodePage::CCodec());
    bool IsOpen() const { return m_file.isOpen(); }
    // Writes `text` converted to the code page, "\n" as CR LF.
    bool Write(QStringView text);
    // Writes bytes as they stand (already converted, no line-end translation).
    bool WriteRaw(const QByteArray& bytes);
    bool Close();

private:
    QFile m_file;
    CodePage::CCodec m_codec;
    bool m_failed = false;
};

// Converts "\n" to "\r\n" in already-encoded bytes (a "\r\n" already there is
// left alone, as text mode would double it only for a lone "\n").
QByteArray ToCrLf(const QByteArray& bytes);

// Writes `text` in one go; false when the file cannot be written.
bool WriteTextFile(const QString& path, QStringView text, TextFileMode mode,
                   const CodePage::CCodec& codec = CodePage::CCodec());
