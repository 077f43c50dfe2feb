#pragma once
// Reads a directory or info file the way the upload always has: as text-mode
// lines of at most 1023 bytes each, CR LF read as LF. A longer physical line
// comes back in several parts, each sent as a record of its own, as the
// terminal has always received it. The file's encoding follows the directory
// files' rule (DirectoryEncoding.h): a UTF-8 file is read as UTF-8, and its
// byte-order mark is not part of the first line.

#include "directories/DirectoryEncoding.h"
#include "platform/CodePage.h"

#include <QByteArray>
#include <QFile>
#include <QString>

class CUploadFileReader {
public:
    static constexpr qsizetype kMaxLineBytes = 1023;
    enum Result { Line, EndOfFile, ReadError };

    // Opens the file and decides its encoding from the configured code page
    // (which reads the whole file once when that needs checking).
    bool Open(const QString& path, const CodePage::CCodec& setting);
    // The code page to decode the lines with.
    const CodePage::CCodec& Codec() const { return m_encoding.codec; }
    // The next line with its LF (when one was reached), at most kMaxLineBytes
    // bytes; in a UTF-8 file a line cut at that length ends before a character
    // the cut would split (it begins the next line). EndOfFile when nothing
    // was left to read.
    Result Next(QByteArray* line);
    // A read has reached the end of the file (the C library's end-of-file
    // indicator: set only by a read that met the end).
    bool HitEnd() const { return m_hitEnd; }
    void Close() { m_file.close(); }
    // The system's reason of the last failed Open or read.
    QString ErrorString() const { return m_file.isOpen() ? m_file.errorString() : m_openError; }

private:
    bool Fill();

    QFile m_file;
    QString m_openError;
    DirectoryFileEncoding m_encoding;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    QByteArray m_carry;  // the start of a character cut off the last line
    bool m_hitEnd = false;
    bool m_failed = false;
};

// How many lines of `path` hold anything besides their line end: the records
// an upload of the file sends (a line longer than the read limit counts once).
// 0 when the file cannot be read.
qint64 CountRecordLines(const QString& path);

// The record text of a line read by CUploadFileReader: the line end (LF, CR LF
// or a trailing CR) removed, so no record ever carries one.
QByteArray StripLineEnd(QByteArray line);
