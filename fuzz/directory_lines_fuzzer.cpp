// The two line readers of directory, journal, info and CSV files: the
// directories' reader (the editor, the import, the journal view, the line
// counts) and the upload's text-mode reader.
//
// Input: a setting byte (line length, where the bytes fall in the file),
// then the file's bytes. Now and then whole filler lines are put in front so
// that the bytes fall across a reader's block boundary.
//
// The directories' reader must give back the file exactly: every line it
// returns is the next bytes of the file, followed by CR LF or LF when it says
// the line had an end, cut at the line length when it did not, or the last
// bytes (a CR before the end of the file aside); no byte is lost, none is
// invented, no line holds a line feed or is longer than asked (a byte-order
// mark before the first line not counted), and no line is cut right before
// its line end (a line of the longest length written back reads as one). The upload's
// reader must give the file's bytes (after a UTF-8 byte-order mark) with CR LF
// read as LF, in lines of at most 1023 bytes that end only at a line feed,
// the length limit or the end of the file.

#include "directories/LineReader.h"
#include "exchange/UploadFileReader.h"
#include "fuzz/FuzzSupport.h"

#include <QFile>

namespace {

void CheckDirectoryReader(const QByteArray& file, const QString& path, int maxLine) {
    CDirectoryLineReader reader(maxLine);
    KX_FUZZ_CHECK(reader.Open(path), QStringLiteral("cannot open"));
    qsizetype pos = 0;
    qsizetype lines = 0;
    QByteArrayView line;
    while (reader.ReadLine(&line)) {
        ++lines;
        // A byte-order mark at the start does not count against the first line.
        const qsizetype limit = maxLine + (lines == 1 && file.startsWith("\xEF\xBB\xBF") ? 3 : 0);
        // Made only when a check fails: there are many lines.
        const auto where = [&] {
            return QStringLiteral("line %1 at byte %2 (length %3, limit %4)")
                .arg(lines)
                .arg(pos)
                .arg(line.size())
                .arg(limit);
        };
        KX_FUZZ_CHECK(line.size() <= limit, where());
        KX_FUZZ_CHECK(!line.contains('\n'), where());
        KX_FUZZ_CHECK(QByteArrayView(file).sliced(pos).startsWith(line),
                      where() + QStringLiteral(": not the file's bytes"));
        pos += line.size();
        const QByteArrayView rest = QByteArrayView(file).sliced(pos);
        if (reader.LastLineHadEnd()) {
            if (rest.startsWith("\r\n")) {
                pos += 2;
            } else {
                KX_FUZZ_CHECK(rest.startsWith("\n"), where() + QStringLiteral(": no line end follows"));
                pos += 1;
            }
        } else if (rest.isEmpty() || rest == "\r") {
            // The last line: nothing follows but perhaps a CR.
            pos = file.size();
        } else {
            // A cut: only a line longer than the limit is cut, so that every
            // line, written back with a line end, reads back as one.
            KX_FUZZ_CHECK(line.size() == limit, where() + QStringLiteral(": bytes follow the last line"));
            KX_FUZZ_CHECK(!rest.startsWith("\n") && !rest.startsWith("\r\n"),
                          where() + QStringLiteral(": cut right before its line end"));
        }
    }
    KX_FUZZ_CHECK(!reader.Failed(), QStringLiteral("read error"));
    KX_FUZZ_CHECK(pos == file.size(),
                  QStringLiteral("%1 of %2 bytes read in %3 lines").arg(pos).arg(file.size()).arg(lines));
}

void CheckUploadReader(QByteArray file, const QString& path) {
    CUploadFileReader reader;
    KX_FUZZ_CHECK(reader.Open(path, CodePage::CCodec()), QStringLiteral("cannot open"));
    if (file.startsWith("\xEF\xBB\xBF")) file.remove(0, 3);
    const QByteArray expected = QByteArray(file).replace("\r\n", "\n");
    QByteArray got;
    QByteArray line;
    qsizetype guard = 0;
    while (!reader.HitEnd()) {
        const CUploadFileReader::Result r = reader.Next(&line);
        KX_FUZZ_CHECK(r != CUploadFileReader::ReadError, QStringLiteral("read error"));
        KX_FUZZ_CHECK(line.size() <= CUploadFileReader::kMaxLineBytes,
                      QStringLiteral("a line of %1 bytes").arg(line.size()));
        const qsizetype lf = line.indexOf('\n');
        KX_FUZZ_CHECK(lf < 0 || lf == line.size() - 1, QStringLiteral("a line feed inside a line"));
        if (r == CUploadFileReader::EndOfFile) KX_FUZZ_CHECK(line.isEmpty(), QStringLiteral("bytes at the end"));
        got += line;
        KX_FUZZ_CHECK(++guard <= file.size() + 2, QStringLiteral("the reader does not come to an end"));
    }
    KX_FUZZ_CHECK(got == expected, QStringLiteral("upload reader: %1 bytes, expected %2: %3")
                                       .arg(got.size())
                                       .arg(expected.size())
                                       .arg(HexPreview(got)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t setting = data[0];
    QByteArray file(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    // The directories' limit, the counting limit, or a small one that makes
    // every boundary case reachable with short inputs.
    const int maxLine = (setting & 3) == 0   ? CDirectoryLineReader::kDirectoryLineBytes
                        : (setting & 3) == 1 ? CDirectoryLineReader::kCountLineBytes
                                             : 1 + (setting >> 2) % 16;
    // Filler lines in front, now and then, so that the input's bytes straddle
    // the end of the first block a reader takes: 64 KiB plus a line for the
    // directories' reader, 64 KiB for the upload's. Only that reader is
    // checked then (the filler makes the run slow).
    const int pad = (setting & 0xE0) != 0xE0 ? 0 : (setting & 0x10) ? 3 : 2;  // 2: directories'; 3: upload's
    if (pad != 0) {
        const qsizetype boundary = pad == 2 ? 64 * 1024 + maxLine + 2 : 64 * 1024;
        const qsizetype filler = boundary - ((setting >> 2) & 3) * 7 - 1;
        QByteArray lines;
        lines.reserve(filler + 16);
        while (lines.size() + 8 <= filler) lines += "12;ab;c\n";
        lines += QByteArray(filler - lines.size(), 'x');
        file.prepend(lines);
    }
    const QString path = ScratchPath(QStringLiteral("lines.ux3"));
    WriteScratchFile(path, file);
    if (pad != 3) CheckDirectoryReader(file, path, maxLine);
    if (pad != 2) CheckUploadReader(file, path);
    return 0;
}
