#include "app/LinkPairing.h"

#include "app/CommandLineGrammar.h"

#include "exchange/ComponentRegistry.h"
#include "exchange/ExchangeCodes.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

CPairOutcome PairTerminal(const QString& port, const QString& code) { return PairThroughComponent(port, code); }

int PairingResultCode(EPairResult result) {
    switch (result) {
    case EPairResult::Paired:
        return ExchangeCode::kOk;
    case EPairResult::NotNetworkPort:
    case EPairResult::BadCode:
        return kCommandLineSyntaxError;
    case EPairResult::ComponentNotRegistered:
        return ExchangeCode::kComponentNotRegistered;
    case EPairResult::ComponentCannotPair:
        return ExchangeCode::kComponentNotCreated;
    default:
        return ExchangeCode::kPortNotOpened;
    }
}

bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool ReadPairingCode(const QString& prompt, QString* code, QString* why) {
    if (!prompt.isEmpty()) {
        std::fputs(prompt.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
    // Byte by byte up to the line's end, so nothing after it is taken from a
    // pipe; a code is short, so a long line is refused rather than read on.
    constexpr int kMostBytes = 64;
    QByteArray line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') break;
        if (line.size() >= kMostBytes) {
            *why = QStringLiteral("the pairing code on standard input is longer than a line of %1 characters").arg(kMostBytes);
            return false;
        }
        line.append(c);
    }
    if (line.endsWith('\r')) line.chop(1);
    if (line.trimmed().isEmpty()) {
        *why = QStringLiteral("no pairing code on standard input");
        return false;
    }
    *code = QString::fromLocal8Bit(line);
    return true;
}
