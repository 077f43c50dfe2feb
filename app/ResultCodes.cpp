#include "app/ResultCodes.h"

#include "app/CommandLineGrammar.h"

#include "directories/DirectoryKind.h"

#include <QHash>

namespace {
const QHash<int, QString>& Texts() {
    static const QHash<int, QString> texts = [] {
        QHash<int, QString> all = {
            {0, QStringLiteral("Нет ошибок")},
            {1, QStringLiteral("Компонента Parlink.dll не зарегистрирована")},
            {2, QStringLiteral("Ошибка создания объекта Parlink")},
            {3, QStringLiteral("Ошибка открытия порта")},
            {4, QStringLiteral("Ошибка обмена - терминал не отвечает")},
            {5, QStringLiteral("Ошибка обмена, таймаут синхронизации 100 сек")},
            {6, QStringLiteral("Ошибка - терминал занят другой программой")},
            {10, QStringLiteral("Ошибка создания файла журнала")},
            {11, QStringLiteral("Ошибка создания файла")},
            {12, QStringLiteral("Ошибка обмена - выгружено штрихкодов меньше заявленного")},
            {40, QStringLiteral("Ошибка чтения файла информационной таблицы")},
            {50, QStringLiteral("Ошибка - журнал пуст")},
            {55, QStringLiteral("Ошибка - терминал не готов")},
            {57, QStringLiteral("Ошибка - в терминал загружена слишком старая версия прошивки")},
            {59, QStringLiteral("Ошибка открытия файла информационной таблицы")},
            {69, QStringLiteral("Ошибка создания файла информационной таблицы")},
            {kCommandLineSyntaxError, QStringLiteral("Ошибка в параметрах командной строки KXLoader")},
            {kCommandLineUnknownSwitch, QStringLiteral("Ошибка - неизвестный ключ в параметрах командной строки KXLoader")},
            {110, QStringLiteral("Ошибка - неправильный формат ответа терминала при синхронизации")},
            {kCommandLineConfigurationNotOpened, QStringLiteral("Ошибка открытия/чтения конфигурации")},
            {200, QStringLiteral("Ошибка в формате справочника")},
        };
        // Each directory kind's file that cannot be opened or read.
        for (const DirectoryKindInfo& kind : kDirectoryKinds) {
            all.insert(kind.upload.openCode, QString::fromUtf8(kind.upload.openCodeText));
            all.insert(kind.upload.readCode, QString::fromUtf8(kind.upload.readCodeText));
        }
        return all;
    }();
    return texts;
}
}  // namespace

QString ResultCodeText(int code) {
    return Texts().value(code, QStringLiteral("Неизвестный код ошибки"));
}

QString FormatReportLine(int code, const QString& diagnosticText) {
    return QStringLiteral("%1;%2;%3\n").arg(QString::number(code), ResultCodeText(code), diagnosticText);
}

int ProcessExitStatus(int resultCode) {
    return resultCode >= 0 && resultCode <= 255 ? resultCode : kExitStatusForCodesAbove255;
}
