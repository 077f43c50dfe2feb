#include "platform/ProgramInformation.h"

#include <cstdio>

InformationSwitch FindInformationSwitch(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--help")) return InformationSwitch::Help;
        if (arguments[i] == QLatin1String("--version")) return InformationSwitch::Version;
    }
    return InformationSwitch::None;
}

QString ProgramVersionLine(const QString& program) {
    // The same numbers the about box shows: the build number only when set.
    QString text = QStringLiteral("%1 (KXConfig) %2").arg(program, QStringLiteral(KX_VERSION_TEXT));
    if (KX_VERSION_BUILD != 0) text += QStringLiteral(".%1").arg(KX_VERSION_BUILD);
    const QString special = QStringLiteral(KX_VERSION_SPECIAL_BUILD);
    if (!special.isEmpty()) text += QLatin1Char(' ') + special;
    return text + QLatin1Char('\n');
}

void PrintToStandardOutput(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

bool AnswerInformationSwitch(const QStringList& arguments, const QString& program, const QString& usage) {
    switch (FindInformationSwitch(arguments)) {
        case InformationSwitch::Help: PrintToStandardOutput(usage); return true;
        case InformationSwitch::Version: PrintToStandardOutput(ProgramVersionLine(program)); return true;
        case InformationSwitch::None: break;
    }
    return false;
}
