// kxterminal: an emulated terminal on the far side of the link, for tests,
// demonstrations and training.
//
//   kxterminal --state DIR [--pty | --listen NAME] [--baud N] [--protocol 1|2]
//
// Prints "port: NAME" when ready (the name to give the program as its port)
// and serves session after session until SIGTERM or SIGINT.

#include "tools/kxterminal/TerminalServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &c, 1);
}

int Usage(const char* why) {
    std::fprintf(stderr, "kxterminal: %s\n", why);
    std::fprintf(stderr, "usage: kxterminal --state DIR [--pty | --listen NAME] [--baud N] [--protocol 1|2]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QString stateDir;
    QString listenName;
    int baud = 0;
    int protocol = 2;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--state") && i + 1 < args.size()) {
            stateDir = args[++i];
        } else if (a == QLatin1String("--listen") && i + 1 < args.size()) {
            listenName = args[++i];
        } else if (a == QLatin1String("--pty")) {
            listenName.clear();
        } else if (a == QLatin1String("--baud") && i + 1 < args.size()) {
            bool ok = false;
            baud = args[++i].toInt(&ok);
            if (!ok || baud < 0) return Usage("bad --baud value");
        } else if (a == QLatin1String("--protocol") && i + 1 < args.size()) {
            // 1: a terminal of the first protocol version (no compression, texts in UTF-8).
            bool ok = false;
            protocol = args[++i].toInt(&ok);
            if (!ok || protocol < 1 || protocol > 2) return Usage("bad --protocol value (1 or 2)");
        } else {
            return Usage("unknown argument");
        }
    }
    if (stateDir.isEmpty()) return Usage("--state DIR is required");

    CTerminalState state(stateDir);
    if (!state.EnsureFolders()) return Usage("cannot create the state folder");

    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QString error;
    std::unique_ptr<CTerminalLine> line =
        listenName.isEmpty() ? CTerminalLine::OpenPty(&error) : CTerminalLine::Listen(listenName, &error);
    if (!line) {
        std::fprintf(stderr, "kxterminal: cannot open the line: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("port: %s\n", qPrintable(line->PortName()));
    std::fflush(stdout);

    CTerminalServer server(*line, state, baud, protocol);
    const int rc = server.Run(g_stopPipe[0]);
    line.reset();
    return rc;
}
