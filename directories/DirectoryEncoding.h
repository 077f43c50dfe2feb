#pragma once
// Which encoding a directory, journal, info or CSV file is in. The terminal's
// files are single-byte Windows-1251, but files made on Linux are usually
// UTF-8, often with a byte-order mark. The rule, the same for the editor, the
// CSV import and the upload:
// - a file that starts with the UTF-8 byte-order mark is UTF-8, whatever the
//   setting; the mark is not part of the first line and is written back;
// - with the Windows-1251 setting, a file that is valid UTF-8 as a whole and
//   holds at least one multi-byte sequence is UTF-8 as well;
// - anything else is in the configured code page.
// The one ambiguity: a short Windows-1251 text whose every non-ASCII byte
// happens to pair up as UTF-8 ("Рё" is the UTF-8 of "и") is read as UTF-8. Real
// Cyrillic text almost never does, since two Windows-1251 letters in a row are
// never valid UTF-8; and the rows keep their file bytes, so such a file is
// still written back byte for byte.

#include "platform/CodePage.h"

#include <QByteArrayView>
#include <QString>

inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
inline constexpr int kUtf8BomBytes = 3;

struct DirectoryFileEncoding {
    CodePage::CCodec codec;
    bool bom = false;  // the file starts with the UTF-8 byte-order mark

    bool operator==(const DirectoryFileEncoding& other) const {
        return bom == other.bom && codec.Name() == other.codec.Name();
    }
};

// Checks bytes fed piece by piece (a multi-byte character may be split between
// two pieces) for well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF. Stops looking once the bytes are known not to be UTF-8.
class CUtf8Check {
public:
    void Feed(QByteArrayView bytes);
    bool StillValid() const { return m_valid; }
    // Everything fed is complete, valid UTF-8 with at least one multi-byte character.
    bool IsMultiByteUtf8() const { return m_valid && m_pending == 0 && m_multiByte; }

private:
    bool m_valid = true;
    bool m_multiByte = false;
    int m_pending = 0;            // continuation bytes still expected
    unsigned char m_low = 0x80;   // range of the next continuation byte
    unsigned char m_high = 0xBF;
};

// The encoding to read and write a file with, from the configured code page,
// whether the file starts with the byte-order mark, and the check of its bytes
// (after the mark).
DirectoryFileEncoding ChooseFileEncoding(const CodePage::CCodec& setting, bool bom,
                                         const CUtf8Check& check);

// Whether the configured code page asks for the UTF-8 check of the bytes.
inline bool ChecksForUtf8(const CodePage::CCodec& setting) { return setting.IsWindows1251(); }

// The bytes of a file's first line without the byte-order mark, when the file
// has one; for readers that take the file line by line from its start.
inline QByteArrayView WithoutBom(QByteArrayView firstLine, const DirectoryFileEncoding& encoding) {
    if (encoding.bom && firstLine.startsWith(QByteArrayView(kUtf8Bom, kUtf8BomBytes)))
        return firstLine.sliced(kUtf8BomBytes);
    return firstLine;
}

// Reads the whole file to decide (for readers that must know before their
// first line, like the upload). A file that cannot be read is in the setting.
DirectoryFileEncoding DetectFileEncoding(const QString& path, const CodePage::CCodec& setting);
