#include "directories/DirectoryFields.h"

#include "directories/DirectoryCodePage.h"
#include "directories/DirectoryEncoding.h"
#include "directories/LineReader.h"

bool ForEachDirectoryLine(const QString& path, const std::function<bool(const QStringList& fields)>& take) {
    CDirectoryLineReader reader(CDirectoryLineReader::kDirectoryLineBytes);
    if (!reader.Open(path)) return false;
    // A file made on Linux may be UTF-8: the editor's rule decides how to read it.
    const DirectoryFileEncoding encoding = DetectFileEncoding(path, DirectoryCodec());
    QByteArrayView line;
    bool first = true;
    while (reader.ReadLine(&line)) {
        if (first) line = WithoutBom(line, encoding);
        first = false;
        if (!take(encoding.codec.Decode(line.data(), line.size()).split(QLatin1Char(';'), Qt::KeepEmptyParts)))
            break;
    }
    return true;
}
