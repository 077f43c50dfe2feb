// kxsync: one kxloader batch against many terminals at once.
//
//   kxsync [-j N] [--] TERMINALS [kxloader switches...]
//   kxsync -h | --help | -V | --version
//
// TERMINALS lists the terminals, a name and a port a line
// (tools/kxsync/TerminalList.h). Every terminal gets its own kxloader run with
// its own settings file and its own output files; the project and the
// uploaded files are shared. Exit status: 0 when every terminal succeeded,
// else that of the first terminal in the list that failed; 64 for kxsync's
// own wrong options or list (docs/command-line.md).

#include "app/Settings.h"
#include "platform/InstallLayout.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "platform/ProgramInformation.h"
#include "platform/StopSignal.h"
#include "tools/kxsync/SyncRun.h"
#include "tools/kxsync/TerminalList.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

namespace {

const char kUsage[] = "usage: kxsync [-j N] [--] TERMINALS SWITCHES...\n";

QString HelpText(const QString& settings) {
    return QString::fromLatin1(kUsage) + QStringLiteral(
        "Runs one kxloader batch (SWITCHES, as kxloader takes them) against every terminal of the\n"
        "list TERMINALS at once: one line a terminal, its name and its port (# starts a comment).\n"
        "Each terminal's output files get its name: journal.txt -> journal-NAME.txt (/j /n /i /x, /q without -s);\n"
        "the project and the uploaded files are shared. A terminal that fails does not stop the others.\n"
        "  -j, --jobs N     at most N terminals at once (default: all of them, at most 16)\n"
        "  -h, --help       this text;  -V, --version  the version\n"
        "  --               ends kxsync's options (a list file whose name starts with -)\n"
        "Options come before TERMINALS; every word after it is kxloader's.\n"
        "Settings: %1 (the project, config=); each terminal's copy with its port\n"
        "is kept in the folder kxsync-terminals beside it.\n"
        "Exit status: 0 when every terminal succeeded; else that of the first terminal in the list\n"
        "that failed (kxloader's code; 125: kxloader could not be run); 64 kxsync's own wrong options\n"
        "or terminal list. See man kxsync and /usr/share/doc/kxconfig/command-line.md.gz.\n").arg(settings);
}

int Fail(const QString& text) {
    std::fprintf(stderr, "kxsync: %s\n", text.toUtf8().constData());
    return kSyncBadArguments;
}

}  // namespace

int main(int argc, char** argv) {
    // Taken before anything runs; passed on to the kxloaders started later.
    InstallSyncStopSignals();
    QCoreApplication app(argc, argv);
    SetProgramFolder(ResolveProgramFolder(QString::fromLocal8Bit(argv[0])));
    const CInstallLayout layout =
        CInstallLayout::Resolve(ProgramFolder(), QProcessEnvironment::systemEnvironment());

    // kxsync's options stand before the list; the words after the list are
    // kxloader's, whatever they look like.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption jobsOption(QStringList{"j", "jobs"}, QString(), QStringLiteral("N"));
    const QCommandLineOption helpOption(QStringList{"h", "help"});
    const QCommandLineOption versionOption(QStringList{"V", "version"});
    parser.addOptions({jobsOption, helpOption, versionOption});
    if (!parser.parse(QCoreApplication::arguments()))
        return Fail(parser.errorText() + QStringLiteral(" (kxsync --help)"));
    if (parser.isSet(helpOption)) {
        PrintToStandardOutput(HelpText(layout.loaderSettings));
        return 0;
    }
    if (parser.isSet(versionOption)) {
        PrintToStandardOutput(ProgramVersionLine(QStringLiteral("kxsync")));
        return 0;
    }

    SyncOptions options;
    if (parser.isSet(jobsOption)) {
        const QString value = parser.value(jobsOption);
        bool number = false;
        options.jobs = value.toInt(&number);
        if (!number || options.jobs < 1 || options.jobs > kSyncMaxJobs)
            return Fail(QStringLiteral("-j/--jobs takes a number from 1 to %1, not \"%2\"").arg(kSyncMaxJobs).arg(value));
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) return Fail(QStringLiteral("no terminal list given\n") + kUsage);
    QList<SyncTerminal> terminals;
    QString error;
    if (!ReadTerminalList(positional.first(), &terminals, &error)) return Fail(error);
    options.batch = positional.mid(1);
    // kxloader without switches would open its window, once a terminal.
    if (options.batch.isEmpty()) return Fail(QStringLiteral("no kxloader switches given\n") + kUsage);

    options.sharedSettings = layout.loaderSettings;
    if (!QFileInfo(options.sharedSettings).isFile())
        return Fail(QStringLiteral("no settings file %1: kxloader's settings name the project (config=) every "
                                   "terminal uses").arg(options.sharedSettings));
    options.loader = ProgramFolder() + QStringLiteral("kxloader");
    options.progress = ::isatty(::fileno(stderr)) != 0;
    options.console = stderr;

    const QList<SyncOutcome> outcomes = RunSync(terminals, options);
    const QByteArray summary = SyncSummary(outcomes).toUtf8();
    std::fwrite(summary.constData(), 1, static_cast<size_t>(summary.size()), stdout);
    std::fflush(stdout);
    if (const int signal = SyncStopSignal(); signal != 0) {
        std::fprintf(stderr, "kxsync: stopped by %s: every kxloader it had started has ended\n",
                     StopSignalName(signal));
        return 128 + signal;
    }
    return SyncExitStatus(outcomes);
}
