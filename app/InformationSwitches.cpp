#include "app/InformationSwitches.h"

#include "app/CommandLine.h"

QString VersionText() { return ProgramVersionLine(QStringLiteral("kxloader")); }

QString UsageText(const CInstallLayout& layout) {
    const bool installed = layout.mode == InstallMode::Installed;
    QString text = QStringLiteral(
        "Использование: kxloader                 главное окно\n"
        "               kxloader КЛЮЧ [КЛЮЧ...]  пакетный режим без окна; код результата - код выхода\n"
        "               kxloader -h | --help | -V | --version\n"
        "\n");
    text += CommandLineHelpText();
    text += QStringLiteral(
        "/h, /? - эта справка в пакетном режиме (нужна открываемая конфигурация)\n"
        "-h, --help - эта справка, -V, --version - версия программы; -- завершает ключи (дальше только имена файлов)\n"
        "Код выхода - код результата; 100 - ошибка в словах ключа, 105 - неизвестный ключ или параметр,\n"
        "64 - главное окно без графического дисплея\n"
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
    text += QStringLiteral("Подробнее: man kxloader и /usr/share/doc/kxconfig/command-line.md.gz (пакет kxconfig).\n");
    return text;
}

void PrintInformation(InformationSwitch which, const CInstallLayout& layout) {
    PrintToStandardOutput(which == InformationSwitch::Version ? VersionText() : UsageText(layout));
}
