// kxupdate_pc: the configuration updater. The configurator calls it with
//
//   kxupdate_pc /p PORT /u FILE REMOTE
//   kxupdate_pc -h | --help | -V | --version
//
// and waits for its exit code: 0 when the terminal stored FILE as REMOTE, else
// one of the codes in Updater.h (docs/config-upload.md). It needs no display.

#include "platform/ProgramFolder.h"
#include "platform/ProgramInformation.h"
#include "tools/kxupdate_pc/Updater.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const char kUsage[] = "usage: kxupdate_pc /p PORT /u FILE REMOTE\n";

// What --help prints (man kxupdate_pc says more).
QString HelpText() {
    return QString::fromLatin1(kUsage) + QStringLiteral(
        "Sends FILE over the link to the terminal on PORT, which stores it as REMOTE.\n"
        "  /p PORT          COM1..COM8, USB, ActiveSync, a device such as /dev/ttyUSB0, or local:NAME\n"
        "  /u FILE REMOTE   the local file and the terminal's path for it (quote it in a shell)\n"
        "  --               ends the switches: every word after it belongs to the last switch\n"
        "  -h, --help       this text;  -V, --version  the version\n"
        "Exit status: 0 stored; 1, 2 link component; 3 port; 4 no answer; 5 file unreadable;\n"
        "6 refused by the terminal; 9 wrong arguments (the configurator reads these codes:\n"
        "they keep their numbers). See man kxupdate_pc.\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (AnswerInformationSwitch(QCoreApplication::arguments(), QStringLiteral("kxupdate_pc"), HelpText())) return 0;
    // The link component is found through components.ini beside this program.
    SetProgramFolder(ResolveProgramFolder(QString::fromLocal8Bit(argv[0])));

    UpdaterArguments arguments;
    QString error;
    if (!ParseUpdaterArguments(QCoreApplication::arguments().mid(1), &arguments, &error)) {
        std::fprintf(stderr, "kxupdate_pc: %s\n%s", qPrintable(error), kUsage);
        return UpdaterExit::kBadArguments;
    }
    QString log;
    const int code = RunUpdater(arguments, &log);
    std::fprintf(code == UpdaterExit::kOk ? stdout : stderr, "kxupdate_pc: %s\n", log.toLocal8Bit().constData());
    return code;
}
