// kxterminal: an emulated terminal on the far side of the link, for tests,
// demonstrations and training.
//
//   kxterminal --state DIR [--pty | --listen NAME | --listen-tcp ADDR:PORT [--pairing-window]]
//              [--baud N] [--protocol 1|2] [--capabilities LIST]
//   kxterminal --state DIR --scan LINE [--scan LINE ...]
//   kxterminal -h | --help | -V | --version
//
// Wrong options end with 64 (the helpers' usage status), naming the word.
//
// Prints "port: NAME" when ready (the name to give the program as its port),
// on the network, while pairing is open (--pairing-window, or SIGUSR1 at any
// time), also "pairing code: NNNNNN" (and again for every new code), and
// serves session after session until SIGTERM or SIGINT.

#include "platform/CodePage.h"
#include "platform/ProgramInformation.h"
#include "tools/kxterminal/TerminalServer.h"
#include "tools/kxterminal/TerminalTlsLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

int g_stopPipe[2] = {-1, -1};
int g_windowPipe[2] = {-1, -1};

const char kUsage[] =
    "usage: kxterminal --state DIR [--pty | --listen NAME | --listen-tcp ADDR:PORT [--pairing-window]]\n"
    "                  [--baud N] [--protocol 1|2] [--capabilities sequence,one-program,blocks,rows,stored|none]\n"
    "       kxterminal --state DIR --scan LINE [--scan LINE ...]\n";

// What --help prints (man kxterminal says more).
QString HelpText() {
    return QString::fromLatin1(kUsage) + QStringLiteral(
        "An emulated barcode terminal for the KXConfig programs: prints \"port: NAME\" when ready\n"
        "and serves session after session until SIGTERM or SIGINT.\n"
        "  --state DIR      the state folder (journal.txt, info.txt, terminal.ini, scenario.ini ...)\n"
        "  --pty            serve on a new pseudo-terminal (default): port: /dev/pts/N\n"
        "  --listen NAME    serve on a local socket: port: local:NAME\n"
        "  --listen-tcp ADDR:PORT  serve paired programs over TLS on the network (port 0: any free one):\n"
        "                   port: tcp:ADDR:PORT\n"
        "  --pairing-window open pairing at once: pairing code: NNNNNN (the code to pair a computer with);\n"
        "                   kill -USR1 PID opens it at any time. It stays open 10 minutes, until a\n"
        "                   computer is paired (paired: NAME) or its codes are used up (pairing closed)\n"
        "  --baud N         pace the line to N baud\n"
        "  --protocol 1|2   the highest link protocol version spoken (default 2)\n"
        "  --capabilities LIST  what a version-2 session may agree on beyond compression: sequence\n"
        "                   (numbered scans), one-program (\"busy\" to a second program), blocks (records\n"
        "                   and lines as column blocks), rows (a journal's barcodes as rows of the wares\n"
        "                   when the program holds a copy of them; with blocks), stored (units sent as\n"
        "                   they stand while the line keeps up); none: none of them. Default: all five\n"
        "  --scan LINE      add a scan to the journal as the scanner would, and exit (the emulator\n"
        "                   may be serving the same state folder meanwhile)\n"
        "  -h, --help       this text;  -V, --version  the version\n"
        "Wrong options end with status 64. See man kxterminal.\n");
}

void OnStopSignal(int) {
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &c, 1);
}

void OnPairingSignal(int) {
    const char c = 'p';
    [[maybe_unused]] const ssize_t n = ::write(g_windowPipe[1], &c, 1);
}

// Wrong options: the reason, the usage, and the helpers' one usage status
// (sysexits' EX_USAGE; the same as kxsync's).
constexpr int kUsageStatus = 64;
int Usage(const QString& why) {
    std::fprintf(stderr, "kxterminal: %s\n", why.toUtf8().constData());
    std::fputs(kUsage, stderr);
    return kUsageStatus;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption stateOption(QStringLiteral("state"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption ptyOption(QStringLiteral("pty"));
    const QCommandLineOption listenOption(QStringLiteral("listen"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption tcpOption(QStringLiteral("listen-tcp"), QString(), QStringLiteral("ADDR:PORT"));
    const QCommandLineOption windowOption(QStringLiteral("pairing-window"));
    const QCommandLineOption baudOption(QStringLiteral("baud"), QString(), QStringLiteral("N"));
    const QCommandLineOption protocolOption(QStringLiteral("protocol"), QString(), QStringLiteral("N"));
    const QCommandLineOption capabilitiesOption(QStringLiteral("capabilities"), QString(), QStringLiteral("LIST"));
    const QCommandLineOption scanOption(QStringLiteral("scan"), QString(), QStringLiteral("LINE"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringList{QStringLiteral("V"), QStringLiteral("version")});
    parser.addOptions({stateOption, ptyOption, listenOption, tcpOption, windowOption, baudOption, protocolOption,
                       capabilitiesOption, scanOption, helpOption, versionOption});
    // Before the state folder is made or a line opened.
    if (!parser.parse(QCoreApplication::arguments())) return Usage(parser.errorText());
    if (parser.isSet(helpOption)) {
        PrintToStandardOutput(HelpText());
        return 0;
    }
    if (parser.isSet(versionOption)) {
        PrintToStandardOutput(ProgramVersionLine(QStringLiteral("kxterminal")));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return Usage(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    const QString stateDir = parser.value(stateOption);
    // The line is the last of --pty, --listen and --listen-tcp given.
    QString listenName;
    QString listenTcp;
    for (const QString& name : parser.optionNames()) {
        if (name == QLatin1String("pty")) {
            listenName.clear();
            listenTcp.clear();
        } else if (name == QLatin1String("listen")) {
            listenName = parser.value(listenOption);
            listenTcp.clear();
        } else if (name == QLatin1String("listen-tcp")) {
            listenTcp = parser.value(tcpOption);
            listenName.clear();
        }
    }
    const bool pairingWindow = parser.isSet(windowOption);
    int baud = 0;
    if (parser.isSet(baudOption)) {
        bool ok = false;
        baud = parser.value(baudOption).toInt(&ok);
        if (!ok || baud < 0) return Usage(QStringLiteral("bad --baud value \"%1\"").arg(parser.value(baudOption)));
    }
    int protocol = 2;
    if (parser.isSet(protocolOption)) {
        // 1: a terminal of the first protocol version (no compression, texts in UTF-8).
        bool ok = false;
        protocol = parser.value(protocolOption).toInt(&ok);
        if (!ok || protocol < 1 || protocol > 2)
            return Usage(QStringLiteral("bad --protocol value \"%1\" (1 or 2)").arg(parser.value(protocolOption)));
    }
    Link::LinkCapabilities capabilities;
    capabilities.maxVersion = static_cast<std::uint8_t>(protocol);
    // A terminal takes stored units wherever a program offers them.
    capabilities.storedUnits = true;
    if (parser.isSet(capabilitiesOption)) {
        capabilities.journalSequence = capabilities.oneProgram = capabilities.recordBlocks = capabilities.waresRows =
            capabilities.storedUnits = false;
        for (const QString& name : parser.value(capabilitiesOption).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (name == QLatin1String("sequence")) capabilities.journalSequence = true;
            else if (name == QLatin1String("one-program")) capabilities.oneProgram = true;
            else if (name == QLatin1String("blocks")) capabilities.recordBlocks = true;
            else if (name == QLatin1String("rows")) capabilities.waresRows = true;
            else if (name == QLatin1String("stored")) capabilities.storedUnits = true;
            else if (name != QLatin1String("none")) return Usage(QStringLiteral("bad --capabilities value \"%1\"").arg(name));
        }
    }
    const QStringList scans = parser.values(scanOption);
    if (stateDir.isEmpty()) return Usage(QStringLiteral("--state DIR is required"));
    if (pairingWindow && listenTcp.isEmpty()) return Usage(QStringLiteral("--pairing-window needs --listen-tcp"));

    CTerminalState state(stateDir);
    if (!state.EnsureFolders()) {
        std::fprintf(stderr, "kxterminal: cannot create the state folder %s\n", qPrintable(stateDir));
        return 1;
    }
    if (!scans.isEmpty()) {
        QList<QByteArray> lines;
        for (const QString& scan : scans) lines << CodePage::ToWindows1251(scan);
        if (state.AppendScans(lines)) return 0;
        std::fprintf(stderr, "kxterminal: cannot add the scans to %s\n", qPrintable(state.Path("journal.txt")));
        return 1;
    }

    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(g_windowPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    struct sigaction sa{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction pair{};
    pair.sa_handler = listenTcp.isEmpty() ? SIG_IGN : OnPairingSignal;
    sigemptyset(&pair.sa_mask);
    pair.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &pair, nullptr);

    QString error;
    // What pairing has to tell the person at the terminal (a new code,
    // paired, closed) is shown as it happens (in the network thread), one
    // whole line at a time.
    std::mutex printLock;
    CTerminalPairing pairing(stateDir, [&](const QString& line) {
        std::lock_guard guard(printLock);
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    });
    std::unique_ptr<CTerminalLine> line;
    if (!listenTcp.isEmpty())
        line = CTlsTerminalLine::Listen(listenTcp, pairing, g_windowPipe[0], &error);
    else if (!listenName.isEmpty())
        line = CTerminalLine::Listen(listenName, &error);
    else
        line = CTerminalLine::OpenPty(&error);
    if (!line) {
        std::fprintf(stderr, "kxterminal: cannot open the line: %s\n", qPrintable(error));
        return 1;
    }
    {
        std::lock_guard guard(printLock);
        std::printf("port: %s\n", qPrintable(line->PortName()));
        std::fflush(stdout);
    }
    // The code is shown once the port is known; a window still open from an
    // earlier run shows its code again.
    if (pairingWindow) {
        pairing.OpenWindow();
    } else if (!listenTcp.isEmpty()) {
        const QString code = pairing.CurrentCode();
        if (!code.isEmpty()) pairing.Show(QStringLiteral("pairing code: %1").arg(code));
    }

    CTerminalServer server(*line, state, baud, capabilities);
    const int rc = server.Run(g_stopPipe[0]);
    line.reset();
    return rc;
}
