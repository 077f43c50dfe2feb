// The command line of kxloader: any words after the program name, run as a
// batch against the demo's directories and an emulated terminal in this
// process (kxterminal's command handling behind an in-process link).
//
// Input: the words, separated by NUL bytes (fuzz/dict/command_line.dict
// holds the switches and their words).
//
// Whatever the words, the run ends with one of the documented result codes,
// every session it opened is closed, the report file (when /x came before
// the end of the run and could be written) holds that code, and nothing is
// written outside the project's files folder and the terminal's state.

#include "app/CommandLine.h"
#include "app/KXConfigApp.h"
#include "directories/DirectoryFiles.h"
#include "fuzz/FuzzDeviceParlink.h"
#include "fuzz/FuzzSupport.h"
#include "tools/kxterminal/TerminalState.h"

#include <QDir>
#include <QDirIterator>

namespace {

class CFuzzConfiguration : public ICommandLineConfiguration {
public:
    bool LoadConfigFileFMT() override { return true; }
    bool IsUploadJournalIdOn() override { return journalIdOn; }
    bool journalIdOn = false;
};

bool Documented(int code) {
    static const QList<int> codes = {0,  1,  2,  3,  4,  5,  10, 11, 12, 20, 21, 22, 23,  24,  25,  26,  30,
                                     31, 32, 33, 34, 35, 36, 40, 50, 55, 57, 59, 69, 100, 105, 110, 150};
    return codes.contains(code) || code >= 200;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4000) return 0;
    QStringList arguments{QStringLiteral("kxloader")};
    for (const QByteArray& word : QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\0'))
        arguments << QString::fromUtf8(word);
    if (size == 0 || arguments.size() > 40) return 0;
    // File names are relative to the files folder as they stand; a name that
    // climbs out of it would write wherever it points (this process may run
    // as root), so such runs are not made.
    for (const QString& word : arguments)
        if (word.contains(QLatin1String(".."))) return 0;
    // Nor are runs made with an absolute name: a word beginning with '/'
    // that is no switch, or any such word after "--" (a file name there),
    // would be written where it names, outside this run's folders.
    const qsizetype switchesEnd = arguments.indexOf(QStringLiteral("--"));
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (word.startsWith(QLatin1Char('/')) && (!IsKnownSwitch(word) || (switchesEnd >= 0 && i > switchesEnd)))
            return 0;
    }

    QuietPlatform();
    ClearScratch();
    const QString root = ScratchPath(QString());
    QDir().mkpath(ScratchPath(QStringLiteral("program")));
    QDir().mkpath(ScratchPath(QStringLiteral("project/files")));
    WriteScratchFile(ScratchPath(QStringLiteral("project/files/demo_opers.ux3")), "1;1;Приемка;1;2000000000015\r\n");
    WriteScratchFile(ScratchPath(QStringLiteral("project/files/ops.txt")), "2;2;Отгрузка;1;;\r\n");
    WriteScratchFile(ScratchPath(QStringLiteral("project/files/info.txt")), "Склад;Главный\r\n");

    CTerminalState state(ScratchPath(QStringLiteral("terminal")));
    state.EnsureFolders();
    WriteScratchFile(state.Path(QStringLiteral("journal.txt")),
                     "4600001;1;1;7;9;11;Молоко;20240101120000;\r\n4600002;2;3;7;9;11;;20240101120100;\r\n");
    WriteScratchFile(state.Path(QStringLiteral("info.txt")), "Склад;Главный\r\n");
    CTerminalDevice device(state);
    CDeviceParlink link(device);
    CScopedParlinkProvider provider(link);

    CKXConfigApp app;
    app.ProgramFolder = ScratchPath(QStringLiteral("program/"));
    app.Paths = CSettingsPaths::ForProgramFolder(app.ProgramFolder);
    app.Settings.config = ScratchPath(QStringLiteral("project/demo.kxc"));
    app.Settings.port = QStringLiteral("COM1");
    app.Settings.overwriteJournal = size % 2;
    CFuzzConfiguration configuration;
    configuration.journalIdOn = size % 3 == 0;

    RunCommandLine(app, configuration, arguments);
    const int code = app.ResultCode;
    app.ExitInstance();

    KX_FUZZ_CHECK(Documented(code), QStringLiteral("result %1").arg(code));
    KX_FUZZ_CHECK(link.Balanced(), QStringLiteral("%1 sessions opened, %2 closed").arg(link.opens).arg(link.closes));
    if (!app.ReportFilePath.isEmpty() && QFileInfo(app.ReportFilePath).isFile()) {
        const QByteArray report = ReadScratchFile(app.ReportFilePath);
        KX_FUZZ_CHECK(report.startsWith(QByteArray::number(code) + ';'),
                      QStringLiteral("result %1, report %2").arg(code).arg(HexPreview(report)));
    }
    const QString files = QDir::cleanPath(ScratchPath(QStringLiteral("project/files")));
    const QString terminal = QDir::cleanPath(state.Folder());
    const QString program = QDir::cleanPath(ScratchPath(QStringLiteral("program")));
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir::cleanPath(it.next());
        KX_FUZZ_CHECK(path.startsWith(files + QLatin1Char('/')) || path.startsWith(terminal + QLatin1Char('/')) ||
                          path.startsWith(program + QLatin1Char('/')),
                      QStringLiteral("written outside the files folder: %1").arg(path));
    }
    return 0;
}
