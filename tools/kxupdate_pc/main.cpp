// kxupdate_pc: the configuration updater. The configurator calls it with
//
//   kxupdate_pc /p PORT /u FILE REMOTE
//
// and waits for its exit code: 0 when the terminal stored FILE as REMOTE, else
// one of the codes in Updater.h (docs/config-upload.md). It needs no display.

#include "platform/ProgramFolder.h"
#include "tools/kxupdate_pc/Updater.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The link component is found through components.ini beside this program.
    SetProgramFolder(ResolveProgramFolder(QString::fromLocal8Bit(argv[0])));

    UpdaterArguments arguments;
    QString error;
    if (!ParseUpdaterArguments(QCoreApplication::arguments().mid(1), &arguments, &error)) {
        std::fprintf(stderr, "kxupdate_pc: %s\nusage: kxupdate_pc /p PORT /u FILE REMOTE\n", qPrintable(error));
        return UpdaterExit::kBadArguments;
    }
    QString log;
    const int code = RunUpdater(arguments, &log);
    std::fprintf(code == UpdaterExit::kOk ? stdout : stderr, "kxupdate_pc: %s\n", log.toLocal8Bit().constData());
    return code;
}
