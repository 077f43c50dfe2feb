#include "platform/ProgramInformation.h"

#include <cstdio>

InformationSwitch FindInformationSwitch(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--")) break;  // names follow, whatever they look like
        if (arguments[i] == QLatin1String("--help") || arguments[i] == QLatin1String("-h")) return InformationSwitch::Help;
        if (arguments[i] == QLatin1String("--version") || arguments[i] == QLatin1String("-V"))
            return InformationSwitch::Version;
    }
    return InformationSwitch::None;
}

// The version resource of the Windows program packed every part into 8 bits
// (CFileVersionInfo keeps that packing); a larger part would be shown as
// another number there, so no build may have one.
static_assert(KX_VERSION_MAJOR <= 255 && KX_VERSION_MINOR <= 255 && KX_VERSION_PATCH <= 255 &&
                  KX_VERSION_BUILD <= 255,
              "every part of the version must fit into 8 bits");

QString FormatVersion(unsigned major, unsigned minor, unsigned patch, unsigned build, const QString& specialBuild) {
    QString text = build != 0 ? QStringLiteral("%1.%2.%3.%4").arg(major).arg(minor).arg(patch).arg(build)
                              : QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
    if (!specialBuild.isEmpty()) text += QLatin1Char(' ') + specialBuild;
    return text;
}

QString ProgramVersion() {
    return FormatVersion(KX_VERSION_MAJOR, KX_VERSION_MINOR, KX_VERSION_PATCH, KX_VERSION_BUILD,
                         QStringLiteral(KX_VERSION_SPECIAL_BUILD));
}

QString ProgramVersionLine(const QString& program) {
    return QStringLiteral("%1 (KXConfig) %2\n").arg(program, ProgramVersion());
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
