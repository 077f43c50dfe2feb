#include "directories/DirectoryKind.h"

namespace {

DirectoryColumn Col(const char* title, ColumnAlign align, double divisor, int fixed = 0) {
    return DirectoryColumn{QString::fromUtf8(title), align, divisor, fixed};
}

constexpr ColumnAlign L = ColumnAlign::Left;
constexpr ColumnAlign R = ColumnAlign::Right;

}  // namespace

QString DirectoryCaption(int kind) {
    switch (kind) {
    case Operations: return QStringLiteral("Справочник операций");
    case Executors: return QStringLiteral("Справочник исполнителей");
    case Addresses: return QStringLiteral("Справочник адресов");
    case Documents: return QStringLiteral("Справочник документов");
    case Wares: return QStringLiteral("Справочник товаров (шапка)");
    case WareDetails: return QStringLiteral("Справочник товаров (детали)");
    case DocumentPlan: return QStringLiteral("Справочник документов (детали)");
    case JournalView: return QStringLiteral("Журнал (просмотр)");
    default: return QString();
    }
}

QList<DirectoryColumn> DirectoryColumns(int kind, bool journalIdOn) {
    switch (kind) {
    case Operations:
        return {Col("ID операции", R, 9.475), Col("Тип операции", L, 5.8),
                Col("Наименование", L, 5.6), Col("Множитель", R, 7.5),
                Col("Штрихкод", L, 5.0), Col("Режим доп-инфо", R, 0.0, 120)};
    case Executors:
        return {Col("ID исполнителя", R, 7.5), Col("Наименование", L, 3.2),
                Col("Штрихкод", L, 3.2)};
    case Addresses:
        return {Col("ID адреса", R, 7.5), Col("Наименование", L, 3.2), Col("Штрихкод", L, 3.2)};
    case Documents:
        return {Col("ID документа", R, 7.5), Col("Наименование", L, 3.2),
                Col("Комментарий", L, 7.5), Col("Штрихкод", L, 5.0)};
    case Wares:
        return {Col("Код товара", L, 7.0), Col("Наименование", L, 3.5), Col("Штрихкод", L, 3.5),
                Col("Режим доп-инфо", R, 0.0, 120)};
    case WareDetails:
        return {Col("Штрихкод", L, 4.7), Col("Код товара", L, 5.0),
                Col("Количество в товаре", R, 5.4), Col("Строковый параметр", L, 5.4)};
    case DocumentPlan:
        return {Col("ID накладной", R, 7.5), Col("Код товара", L, 5.0), Col("План", R, 7.5),
                Col("Номер п/п", R, 7.5), Col("Подсказка", L, 5.0)};
    case JournalView: {
        QList<DirectoryColumn> columns;
        if (journalIdOn) columns << Col("id", L, 9.0);
        columns << Col("Штрихкод", L, journalIdOn ? 6.0 : 6.3) << Col("Кол-во", R, 15.2)
                << Col("Операция", L, 7.9) << Col("Исполнитель", L, 9.4) << Col("Адрес", L, 9.4)
                << Col("Документ", L, 9.4) << Col("Товар", L, 7.5) << Col("Дата/время", L, 5.0)
                << Col("Спец. поле", L, 5.0);
        return columns;
    }
    default:
        return {};
    }
}

DirectoryColumn ExtraFieldColumn(int columnNumber) {
    return DirectoryColumn{QStringLiteral("Поле #%1").arg(columnNumber), ColumnAlign::Left, 0.0,
                           100};
}

bool IsNumericColumn(int kind, int column) {
    switch (kind) {
    case Operations: return column == 1 || column == 4 || column == 6;
    case Executors:
    case Addresses:
    case Documents: return column == 1;
    case DocumentPlan: return column == 1 || column == 3;
    case Wares: return column == 4;
    case WareDetails: return column == 3;
    default: return false;
    }
}
