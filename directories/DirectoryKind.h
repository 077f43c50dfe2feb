#pragma once
// The kinds of reference directory of a project, with their fixed codes, and
// everything known of each kind in one table: its file, how the editor shows
// it, how its rows are numbered, how it goes to the terminal and what a
// failure there is called, its command-line switch and its row in the main
// window. Every part of the program takes a kind's facts from this table, so
// a new kind is one enumerator and one row here.

#include <QList>
#include <QString>

#include <iterator>
#include <span>

enum DirectoryKind : int {
    Operations = 0,
    Executors = 1,
    Addresses = 2,
    Documents = 3,
    Wares = 4,
    WareDetails = 5,
    DocumentPlan = 6,
    // The journal is shown like a directory but is no directory file: it is
    // read only, never uploaded and has no row of the main window. Codes 7..9
    // do not exist.
    JournalView = 10,
};

enum class ColumnAlign { Left, Right };

// One data column of a directory as the editor shows it. The width is the
// view's client width divided by `widthDivisor` (truncated), or `fixedWidth`
// pixels when the divisor is 0.
struct DirectoryColumn {
    QString title;
    ColumnAlign align = ColumnAlign::Left;
    double widthDivisor = 0.0;
    int fixedWidth = 0;

    int Width(int clientWidth) const {
        if (widthDivisor > 0.0) return static_cast<int>(clientWidth / widthDivisor);
        return fixedWidth;
    }
};

// A column as the table states it. `numeric`: the in-place editor
// right-aligns what is typed (not every right-aligned column is numeric).
// Only the journal's columns depend on its ID option: a column may exist only
// with it, and the barcode column is narrower beside it.
struct DirectoryColumnEntry {
    const char* title;
    ColumnAlign align;
    double widthDivisor;
    int fixedWidth = 0;
    bool numeric = false;
    bool onlyWithJournalId = false;
    double widthDivisorWithJournalId = 0.0;  // 0: the same divisor either way
};

// One upload step: the command that opens the table on the terminal, the
// text the progress window shows, and the messages and result codes of a file
// that cannot be opened or read and of a send that failed. The report file's
// texts of the two codes stand beside them (the info table's step and texts
// are the exchange's own).
struct DirectoryUploadStep {
    const char* command;
    const char* stageText;
    const char* cannotOpen;
    int openCode;
    const char* openCodeText;
    const char* cannotRead;
    int readCode;
    const char* readCodeText;
    const char* sendFailed;
};

// The main window's row of a kind: its place from the top, the object names
// (ids) of its check box, label and edit button, and the label's text.
struct MainWindowRow {
    int position;
    int checkId;
    int labelId;
    int editId;
    const char* label;
};

struct DirectoryKindInfo {
    DirectoryKind kind;
    const char* fileSuffix;  // after the project name: "_opers.ux3"
    const char* caption;     // the editor's window caption
    std::span<const DirectoryColumnEntry> columns;
    // Column 1 holds an ID: a new row takes the highest ID so far + 1.
    bool numbered;
    // A last column (1-based) that the line leaves out when it is empty
    // (the extra-info mode); 0 for none.
    int omittedWhenEmptyColumn;
    DirectoryUploadStep upload;
    // The command-line switch that names the kind's file ("/o") and its line
    // of the help; a kind that is the second file of another kind's switch
    // has neither and names that kind in `secondFileOf`.
    const char* commandLineSwitch;
    const char* commandLineHelp;
    int secondFileOf;
    MainWindowRow mainWindow;
};

namespace DirectoryKindTable {

constexpr ColumnAlign L = ColumnAlign::Left;
constexpr ColumnAlign R = ColumnAlign::Right;

inline constexpr DirectoryColumnEntry kOperationsColumns[] = {
    {"ID операции", R, 9.475, 0, true},  {"Тип операции", L, 5.8}, {"Наименование", L, 5.6},
    {"Множитель", R, 7.5, 0, true},      {"Штрихкод", L, 5.0},     {"Режим доп-инфо", R, 0.0, 120, true}};
inline constexpr DirectoryColumnEntry kExecutorsColumns[] = {
    {"ID исполнителя", R, 7.5, 0, true}, {"Наименование", L, 3.2}, {"Штрихкод", L, 3.2}};
inline constexpr DirectoryColumnEntry kAddressesColumns[] = {
    {"ID адреса", R, 7.5, 0, true}, {"Наименование", L, 3.2}, {"Штрихкод", L, 3.2}};
inline constexpr DirectoryColumnEntry kDocumentsColumns[] = {{"ID документа", R, 7.5, 0, true},
                                                            {"Наименование", L, 3.2},
                                                            {"Комментарий", L, 7.5},
                                                            {"Штрихкод", L, 5.0}};
inline constexpr DirectoryColumnEntry kWaresColumns[] = {
    {"Код товара", L, 7.0}, {"Наименование", L, 3.5}, {"Штрихкод", L, 3.5}, {"Режим доп-инфо", R, 0.0, 120, true}};
inline constexpr DirectoryColumnEntry kWareDetailsColumns[] = {{"Штрихкод", L, 4.7},
                                                              {"Код товара", L, 5.0},
                                                              {"Количество в товаре", R, 5.4, 0, true},
                                                              {"Строковый параметр", L, 5.4}};
inline constexpr DirectoryColumnEntry kDocumentPlanColumns[] = {{"ID накладной", R, 7.5, 0, true},
                                                               {"Код товара", L, 5.0},
                                                               {"План", R, 7.5, 0, true},
                                                               {"Номер п/п", R, 7.5},
                                                               {"Подсказка", L, 5.0}};
inline constexpr DirectoryColumnEntry kJournalColumns[] = {
    {"id", L, 9.0, 0, false, true},
    {"Штрихкод", L, 6.3, 0, false, false, 6.0},
    {"Кол-во", R, 15.2},
    {"Операция", L, 7.9},
    {"Исполнитель", L, 9.4},
    {"Адрес", L, 9.4},
    {"Документ", L, 9.4},
    {"Товар", L, 7.5},
    {"Дата/время", L, 5.0},
    {"Спец. поле", L, 5.0}};

}  // namespace DirectoryKindTable

// The directory file kinds by code: row k is kind k. The order is the upload
// order and the order of the files everywhere a loop walks the kinds.
inline constexpr DirectoryKindInfo kDirectoryKinds[] = {
    {Operations, "_opers.ux3", "Справочник операций", DirectoryKindTable::kOperationsColumns, true, 6,
     {"111", "Справочник операций", "Внимание! Не могу открыть справочник операций!\n", 20,
      "Ошибка открытия файла", "Внимание! Не могу прочитать строку из файла справочника операций!\n", 30,
      "Ошибка чтения файла операций", "Ошибка обмена! Ошибка в отправлении справочника операций!"},
     "/o", "/o filename - загрузка справочника операций", -1, {0, 1018, 1032, 1002, "Операции"}},
    {Executors, "_authors.ux4", "Справочник исполнителей", DirectoryKindTable::kExecutorsColumns, true, 0,
     {"121", "Справочник сотрудников", "Внимание! Не могу открыть справочник сотрудников!\n", 21,
      "Ошибка открытия файла исполнителей",
      "Внимание! Не могу прочитать строку из файла справочника сотрудников!\n", 31,
      "Ошибка чтения файла исполнителей", "Ошибка обмена! Ошибка в отправлении справочника сотрудников!"},
     "/e", "/e filename - загрузка справочника исполнителей", -1, {1, 1025, 1033, 1005, "Исполнители"}},
    {Addresses, "_address.ux5", "Справочник адресов", DirectoryKindTable::kAddressesColumns, true, 0,
     {"131", "Справочник адресов", "Внимание! Не могу открыть справочник адресов!\n", 22,
      "Ошибка открытия файла адресов", "Внимание! Не могу прочитать строку из файла справочника адресов!\n", 32,
      "Ошибка чтения файла адресов", "Ошибка обмена! Ошибка в отправлении справочника адресов!"},
     "/a", "/a filename - загрузка справочника адресов", -1, {2, 1026, 1034, 1006, "Адреса"}},
    {Documents, "_ndocs.ux6", "Справочник документов", DirectoryKindTable::kDocumentsColumns, true, 0,
     {"141", "Справочник документов", "Внимание! Не могу открыть справочник документов!\n", 25,
      "Ошибка открытия файла документов",
      "Внимание! Не могу прочитать строку из файла справочника документов!\n", 35,
      "Ошибка чтения файла документов", "Ошибка обмена! Ошибка в отправлении справочника документов!"},
     "/d", "/d filename [filename] - загрузка справочника накладных (шапка) [вместе с деталями]", -1, {5, 1019, 1037, 1007, "Документы"}},
    {Wares, "_wares.ux7", "Справочник товаров (шапка)", DirectoryKindTable::kWaresColumns, false, 4,
     {"151", "Справочник товаров", "Внимание! Не могу открыть справочник товаров (шапка)!\n", 23,
      "Ошибка открытия файла товаров",
      "Внимание! Не могу прочитать строку из файла справочника товаров (шапка)!\n", 33,
      "Ошибка чтения файла товаров", "Ошибка обмена! Ошибка в отправлении справочника товаров (шапка)!"},
     "/w", "/w filename filename - загрузка справочников товаров (шапка) и товаров (детали)", -1, {3, 1028, 1035, 1009, "Товары"}},
    {WareDetails, "_waresl2.ux8", "Справочник товаров (детали)", DirectoryKindTable::kWareDetailsColumns, false,
     0,
     {"161", "Справочник товаров(детали)", "Внимание! Не могу открыть справочник товаров (детали)!\n", 24,
      "Ошибка открытия файла товаров - S/N",
      "Внимание! Не могу прочитать строку из файла справочника товаров (детали)!\n", 34,
      "Ошибка чтения файла товаров - S/N", "Ошибка обмена! Ошибка в отправлении справочника товаров (детали)!"},
     nullptr, nullptr, Wares, {4, 1030, 1039, 1011, "Товары - S/N"}},
    {DocumentPlan, "_ndocsplan.ux9", "Справочник документов (детали)", DirectoryKindTable::kDocumentPlanColumns,
     false, 0,
     {"171", "Справочник документов(детали)", "Внимание! Не могу открыть справочник документов (детали)!\n", 26,
      "Ошибка открытия файла документов - план",
      "Внимание! Не могу прочитать строку из файла справочника документов (детали)!\n", 36,
      "Ошибка чтения файла документов - план",
      "Ошибка обмена! Ошибка в отправлении справочника документов (детали)!"},
     nullptr, nullptr, Documents, {6, 1031, 1038, 1012, "Документы - план"}},
};

inline constexpr int kDirectoryKindCount = static_cast<int>(std::size(kDirectoryKinds));

// The journal's row: what the editor shows of it and its file; nothing of
// the upload or the main window's rows.
inline constexpr DirectoryKindInfo kJournalViewInfo = {
    JournalView, "_journal.txt", "Журнал (просмотр)", DirectoryKindTable::kJournalColumns, false, 0,
    {}, nullptr, nullptr, -1, {-1, 0, 0, 0, nullptr}};

inline constexpr bool IsDirectoryFileKind(int kind) { return kind >= 0 && kind < kDirectoryKindCount; }
inline constexpr bool IsDirectoryKind(int kind) { return IsDirectoryFileKind(kind) || kind == JournalView; }

// The row of a kind; nullptr for codes that are not kinds.
inline constexpr const DirectoryKindInfo* FindDirectoryKind(int kind) {
    if (IsDirectoryFileKind(kind)) return &kDirectoryKinds[kind];
    if (kind == JournalView) return &kJournalViewInfo;
    return nullptr;
}

// The kind whose row stands at `position` (0 = top) of the main window.
inline constexpr const DirectoryKindInfo& KindAtMainWindowPosition(int position) {
    for (const DirectoryKindInfo& info : kDirectoryKinds)
        if (info.mainWindow.position == position) return info;
    return kDirectoryKinds[0];  // not reached for 0 .. kDirectoryKindCount - 1
}

namespace DirectoryKindTable {

// What the rest of the program assumes of the table, checked where it is written.
constexpr bool RowsAreInCodeOrder() {
    for (int k = 0; k < kDirectoryKindCount; ++k)
        if (kDirectoryKinds[k].kind != k) return false;
    return true;
}
constexpr bool MainWindowPositionsArePermutation() {
    for (int p = 0; p < kDirectoryKindCount; ++p) {
        int found = 0;
        for (const DirectoryKindInfo& info : kDirectoryKinds) found += info.mainWindow.position == p ? 1 : 0;
        if (found != 1) return false;
    }
    return true;
}
constexpr bool CodesAreDistinct() {
    for (int a = 0; a < kDirectoryKindCount; ++a)
        for (int b = 0; b < kDirectoryKindCount; ++b) {
            const DirectoryUploadStep& x = kDirectoryKinds[a].upload;
            const DirectoryUploadStep& y = kDirectoryKinds[b].upload;
            if (x.openCode == y.readCode) return false;
            if (a != b && (x.openCode == y.openCode || x.readCode == y.readCode)) return false;
        }
    return true;
}
constexpr bool EveryKindHasASwitch() {
    for (const DirectoryKindInfo& info : kDirectoryKinds) {
        const bool own = info.commandLineSwitch != nullptr;
        const bool second = IsDirectoryFileKind(info.secondFileOf) &&
                            kDirectoryKinds[info.secondFileOf].commandLineSwitch != nullptr;
        if (own == second) return false;
    }
    return true;
}
constexpr bool OmittedColumnsExist() {
    for (const DirectoryKindInfo& info : kDirectoryKinds)
        if (info.omittedWhenEmptyColumn != 0 &&
            info.omittedWhenEmptyColumn != static_cast<int>(info.columns.size()))
            return false;
    return true;
}

static_assert(RowsAreInCodeOrder(), "kDirectoryKinds is indexed by the kind's code");
static_assert(kDirectoryKindCount <= JournalView, "a file kind's code would take the journal's code");
static_assert(MainWindowPositionsArePermutation(), "every kind has one row of the main window");
static_assert(CodesAreDistinct(), "every open/read failure has a result code of its own");
static_assert(EveryKindHasASwitch(), "every kind's file can be named on the command line");
static_assert(OmittedColumnsExist(), "only a kind's last column can be left out of its line");

}  // namespace DirectoryKindTable

// The editor's window caption ("Справочник операций" ...), empty for other codes.
QString DirectoryCaption(int kind);

// The data columns of a kind in file order (the dummy column 0 not included).
// The journal has an "id" column first only when the journal ID option is on.
QList<DirectoryColumn> DirectoryColumns(int kind, bool journalIdOn = false);

// The column added for a field beyond a kind's own columns: "Поле #<n>",
// left-aligned, 100 pixels.
DirectoryColumn ExtraFieldColumn(int columnNumber);

// Whether the in-place editor right-aligns this column (the numeric ones).
bool IsNumericColumn(int kind, int column);

// Whether column 1 of the kind is an ID that new rows continue.
bool IsNumberedKind(int kind);
