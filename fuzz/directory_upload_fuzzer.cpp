// A directory file from the program's files folder to the terminal's store:
// the upload's reader and its records (exchange/) through an in-process link
// into kxterminal's command handling, which stores the load.
//
// Input: which directory (the seven and the info table), the code page
// setting, then the file's bytes.
//
// The upload must end with the terminal's confirmation, and the terminal's
// stored file must hold every character of the file's lines in order, as
// Windows-1251 holds them, line ends aside: no line lost, doubled, cut
// wrongly or garbled between the file and the terminal, whatever its length,
// its line ends and its encoding.

#include "directories/DirectoryCodePage.h"
#include "directories/DirectoryEncoding.h"
#include "directories/DirectoryFiles.h"
#include "exchange/ComponentRegistry.h"
#include "exchange/DirectoryUpload.h"
#include "exchange/ExchangeCodes.h"
#include "fuzz/FuzzDeviceParlink.h"
#include "fuzz/FuzzSupport.h"
#include "tools/kxterminal/TerminalDevice.h"
#include "tools/kxterminal/TerminalState.h"

#include <QDir>
#include <QFileInfo>
#include <QList>

namespace {

QByteArray WithoutLineEnds(QByteArray bytes) {
    bytes.replace('\r', QByteArray());
    bytes.replace('\n', QByteArray());
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int item = data[0] % kUploadItemCount;
    static const char* const kPages[] = {"windows-1251", "utf-8", "cp866", "koi8-r"};
    SetDirectoryCodePage(QString::fromLatin1(kPages[(data[0] >> 3) % 4]));
    const QByteArray file(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    QuietPlatform();

    ClearScratch();
    SetProjectPath(ScratchPath(QStringLiteral("project/demo.kxc")));
    QDir().mkpath(ScratchPath(QStringLiteral("project/files")));
    const DirectoryFiles files = CurrentDirectoryFiles();
    const QString path = item == UploadInfo ? files.infoFile : files.directories[item];
    WriteScratchFile(path, file);

    CTerminalState state(ScratchPath(QStringLiteral("terminal")));
    state.EnsureFolders();
    CTerminalDevice device(state);
    CDeviceParlink link(device);
    CScopedParlinkProvider provider(link);

    UploadSelection selection;
    selection.showMessages = false;
    selection.Select(item);
    const int result = UploadDirectories(selection, QStringLiteral("COM1"));

    static const char* const kStored[] = {"directories/opers.ux3", "directories/authors.ux4",
                                          "directories/address.ux5", "directories/ndocs.ux6",
                                          "directories/wares.ux7", "directories/waresl2.ux8",
                                          "directories/ndocsplan.ux9", "info.txt"};
    const QString storedPath = state.Path(QString::fromLatin1(kStored[item]));

    // The file's text as the upload reads it (the info table is Windows-1251
    // unless it is UTF-8), in Windows-1251 as the terminal keeps it.
    const CodePage::CCodec setting = item == UploadInfo ? CodePage::CCodec() : DirectoryCodec();
    const DirectoryFileEncoding encoding = DetectFileEncoding(path, setting);
    const QByteArray body = encoding.bom ? file.mid(kUtf8BomBytes) : file;
    const QString text = encoding.codec.Decode(body);

    // The info table comes back as the terminal keeps it, so a record that
    // could not make the way back (a character Windows-1251 lacks, or the
    // end character alone) is refused before anything is stored.
    if (item == UploadInfo && result == ExchangeCode::kReadInfo) {
        bool cannotComeBack = CodePage::FromWindows1251(CodePage::ToWindows1251(text)) != text;
        for (const QString& line : text.split(QLatin1Char('\n')))
            if (line == QString(QChar(0x0004)) || line == QString(QChar(0x0004)) + QLatin1Char('\r'))
                cannotComeBack = true;
        KX_FUZZ_CHECK(cannotComeBack, QStringLiteral("an info table whose every record can come back was refused"));
        KX_FUZZ_CHECK(!QFileInfo::exists(storedPath), QStringLiteral("a refused info table reached the terminal"));
        return 0;
    }
    KX_FUZZ_CHECK(result == 0, QStringLiteral("the upload ended with %1").arg(result));
    const QByteArray stored = ReadScratchFile(storedPath);
    const QByteArray expected = WithoutLineEnds(CodePage::ToWindows1251(text));
    KX_FUZZ_CHECK(WithoutLineEnds(stored) == expected,
                  QStringLiteral("%1 in %2: the terminal stored %3, the file holds %4")
                      .arg(QString::fromLatin1(kStored[item]), encoding.codec.Name(), HexPreview(WithoutLineEnds(stored)),
                           HexPreview(expected)));
    return 0;
}
