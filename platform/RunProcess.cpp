#include "platform/RunProcess.h"

#include "platform/Prompt.h"

#include <QProcess>

QStringList CommandLineArguments(const QString& commandLine) {
    QStringList words = QProcess::splitCommand(commandLine);
    if (!words.isEmpty()) words.removeFirst();
    return words;
}

int RunProcess(const QString& program, const QString& commandLine, bool wait, int* exitCode) {
    QProcess process;
    process.setProgram(program);
#ifdef Q_OS_WIN
    // Windows programs split their own command line: hand it over unchanged.
    qsizetype afterProgram = 0;
    if (commandLine.startsWith(QLatin1Char('"'))) {
        afterProgram = commandLine.indexOf(QLatin1Char('"'), 1);
        afterProgram = afterProgram < 0 ? commandLine.size() : afterProgram + 1;
    } else {
        afterProgram = commandLine.indexOf(QLatin1Char(' '));
        if (afterProgram < 0) afterProgram = commandLine.size();
    }
    process.setNativeArguments(commandLine.mid(afterProgram));
#else
    process.setArguments(CommandLineArguments(commandLine));
#endif
    // Nobody reads the child's output while we wait: a pipe could fill and
    // stop it for good.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setStandardInputFile(QProcess::nullDevice());

    const auto cannotExecute = [&] {
        Prompt().Message(QStringLiteral("Error! Cannot execute: %1!").arg(program), QStringLiteral("Ошибка!"),
                         PromptIcon::None, PromptButtons::Ok);
        return -1;
    };
    if (!wait) {
        if (!process.startDetached()) return cannotExecute();
        return 0;
    }
    process.start();
    if (!process.waitForStarted(-1)) return cannotExecute();
    process.waitForFinished(-1);
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return 0;
}
