// kxsync: one kxloader batch against many terminals at once.
//
//   kxsync [--jobs N] TERMINALS [kxloader switches...]
//   kxsync --help | --version
//
// TERMINALS lists the terminals, a name and a port a line
// (tools/kxsync/TerminalList.h). Every terminal gets its own kxloader run with
// its own settings file and its own output files; the project and the
// uploaded files are shared. Exit status: 0 when every terminal succeeded,
// else that of the first terminal in the list that failed (docs/command-line.md).

#include "app/Settings.h"
#include "platform/InstallLayout.h"
#include "platform/StopSignal.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "platform/ProgramInformation.h"
#include "tools/kxsync/SyncRun.h"
#include "tools/kxsync/TerminalList.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

namespace {

const char kUsage[] = "usage: kxsync [--jobs N] TERMINALS SWITCHES...\n";

QString HelpText(const QString& settings) {
    return QString::fromLatin1(kUsage) + QStringLiteral(
        "Runs one kxloader batch (SWITCHES, as kxloader takes them) against every terminal of the\n"
        "list TERMINALS at once: one line a terminal, its name and its port (# starts a comment).\n"
        "Each terminal's output files get its name: journal.txt -> journal-NAME.txt (/j /n /i /x, /q without -s);\n"
        "the project and the uploaded files are shared. A terminal that fails does not stop the others.\n"
        "  --jobs N         at most N terminals at once (default: all of them, at most 16)\n"
        "  --help, --version\n"
        "Settings: %1 (the project, config=); each terminal's copy with its port\n"
        "is kept in the folder kxsync-terminals beside it.\n"
        "Exit status: 0 when every terminal succeeded; else that of the first terminal in the list\n"
        "that failed (kxloader's code; 125: kxloader could not be run); 100 wrong arguments or list.\n"
        "See man kxsync.\n").arg(settings);
}

int Fail(const QString& text, int status) {
    std::fprintf(stderr, "kxsync: %s\n", text.toUtf8().constData());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SetProgramFolder(ResolveProgramFolder(QString::fromLocal8Bit(argv[0])));
    const CInstallLayout layout =
        CInstallLayout::Resolve(ProgramFolder(), QProcessEnvironment::systemEnvironment());
    const QStringList arguments = QCoreApplication::arguments();
    if (AnswerInformationSwitch(arguments, QStringLiteral("kxsync"), HelpText(layout.loaderSettings))) return 0;

    SyncOptions options;
    int i = 1;
    for (; i < arguments.size() && arguments[i].startsWith(QLatin1String("--")); ++i) {
        QString value;
        if (arguments[i] == QLatin1String("--jobs")) {
            if (i + 1 >= arguments.size()) return Fail(QStringLiteral("--jobs needs a number"), kSyncBadArguments);
            value = arguments[++i];
        } else if (arguments[i].startsWith(QLatin1String("--jobs="))) value = arguments[i].mid(7);
        else return Fail(QStringLiteral("unknown option %1 (kxsync --help)").arg(arguments[i]), kSyncBadArguments);
        bool number = false;
        options.jobs = value.toInt(&number);
        if (!number || options.jobs < 1 || options.jobs > kSyncMaxJobs)
            return Fail(QStringLiteral("--jobs takes a number from 1 to %1, not \"%2\"").arg(kSyncMaxJobs).arg(value),
                        kSyncBadArguments);
    }
    if (i >= arguments.size()) return Fail(QStringLiteral("no terminal list given\n") + kUsage, kSyncBadArguments);
    QList<SyncTerminal> terminals;
    QString error;
    if (!ReadTerminalList(arguments[i], &terminals, &error)) return Fail(error, kSyncBadArguments);
    options.batch = arguments.mid(i + 1);
    // kxloader without switches would open its window, once a terminal.
    if (options.batch.isEmpty()) return Fail(QStringLiteral("no kxloader switches given\n") + kUsage, kSyncBadArguments);

    options.sharedSettings = layout.loaderSettings;
    if (!QFileInfo(options.sharedSettings).isFile())
        return Fail(QStringLiteral("no settings file %1: kxloader's settings name the project (config=) every "
                                   "terminal uses").arg(options.sharedSettings),
                    kSyncBadArguments);
    options.loader = ProgramFolder() + QStringLiteral("kxloader");
    options.progress = ::isatty(::fileno(stderr)) != 0;
    options.console = stderr;

    // SIGTERM, SIGINT, SIGHUP: passed on to the kxloaders running, which
    // end their exchanges cleanly; kxsync waits for them, then ends.
    InstallStopSignals();
    const QList<SyncOutcome> outcomes = RunSync(terminals, options);
    const QByteArray summary = SyncSummary(outcomes).toUtf8();
    std::fwrite(summary.constData(), 1, static_cast<size_t>(summary.size()), stdout);
    std::fflush(stdout);
    if (const int signal = StopSignal(); signal != 0) {
        std::fprintf(stderr, "kxsync: stopped by %s: every kxloader it had started has ended\n",
                     StopSignalName(signal));
        return 128 + signal;
    }
    return SyncExitStatus(outcomes);
}
