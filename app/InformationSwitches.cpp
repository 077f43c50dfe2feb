#include "app/InformationSwitches.h"

#include "app/CommandLine.h"

#include <cstdio>

InformationSwitch FindInformationSwitch(const QStringList& arguments) {
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--")) break;  // names follow, whatever they look like
        if (arguments[i] == QLatin1String("--help")) return InformationSwitch::Help;
        if (arguments[i] == QLatin1String("--version")) return InformationSwitch::Version;
    }
    return InformationSwitch::None;
}

QString VersionText() {
    // The same numbers the about box shows: the build number only when set.
    QString text = QStringLiteral("kxloader (KXConfig) %1").arg(QStringLiteral(KX_VERSION_TEXT));
    if (KX_VERSION_BUILD != 0) text += QStringLiteral(".%1").arg(KX_VERSION_BUILD);
    const QString special = QStringLiteral(KX_VERSION_SPECIAL_BUILD);
    if (!special.isEmpty()) text += QLatin1Char(' ') + special;
    return text + QLatin1Char('\n');
}

QString UsageText(const CInstallLayout& layout) {
    const bool installed = layout.mode == InstallMode::Installed;
    QString text = QStringLiteral(
        "Использование: kxloader                 главное окно\n"
        "               kxloader КЛЮЧ [КЛЮЧ...]  пакетный режим без окна; код результата - код выхода\n"
        "               kxloader --help | --version\n"
        "\n");
    text += CommandLineHelpText();
    text += QStringLiteral(
        "/h, /? - эта справка в пакетном режиме (нужна открываемая конфигурация)\n"
        "--help - эта справка, --version - версия программы\n"
        "\n");
    text += QStringLiteral("Установка: %1\n")
                .arg(installed ? QStringLiteral("в системе (файлы программы только читаются)")
                               : QStringLiteral("переносная (все файлы в папке программы)"));
    text += QStringLiteral("  настройки обмена   %1 (раздел [kxloader.exe]: port, config, OverwriteJournal)\n")
                .arg(layout.loaderSettings);
    text += QStringLiteral("  настройки окна     %1\n").arg(layout.configSettings);
    text += QStringLiteral("  шаблон             %1\n").arg(layout.templateFile);
    text += QStringLiteral("  демонстрационный проект  %1demo.kxc\n").arg(layout.demoFolder);
    text += QStringLiteral(
        "Переменная окружения %1=ФАЙЛ задает другой файл kxloader.ini (например, свой для каждого терминала).\n")
                .arg(QString::fromLatin1(kLoaderSettingsVariable));
    return text;
}

void PrintInformation(InformationSwitch which, const CInstallLayout& layout) {
    const QByteArray bytes = (which == InformationSwitch::Version ? VersionText() : UsageText(layout)).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}
