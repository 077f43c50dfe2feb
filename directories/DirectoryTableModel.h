#pragma once
// One directory as a Qt table model with the editor's rules: numbering of new
// rows, the highest-ID rule of typed IDs, the order in which Tab moves through
// the cells, the modified flag, the read-only journal view, what a cell may
// hold (CellText.h), the protection of a file that could not be read, and the
// question and message flows of adding, deleting, clearing, importing, saving
// and closing (asked through the process-wide prompt). The editor window only
// puts a view, the in-place editors and the buttons on it.
//
// Model columns are the table's columns: column 0 is the dummy column (width
// 0, never data), data columns are 1..N. Rows are decoded only when shown, so
// a view over a million rows costs nothing per row.

#include "directories/DirectoryTable.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QStringList>

class CDirectoryTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CDirectoryTableModel(IOperationTypeNames* names, QObject* parent = nullptr);

    // --- Opening ---------------------------------------------------------
    // Sets the kind (a directory file kind or JournalView) and its columns, loads the kind's
    // directory file (the journal file for JournalView) with the damage
    // message on, and clears the modified flag. False when the file is
    // missing or damaged (the table is then empty; see IsDamaged).
    bool Open(int kind, bool journalIdOn = false);
    // The same on a given file (tests, other tools).
    bool OpenFile(int kind, const QString& path, bool journalIdOn = false);

    int Kind() const { return m_table.Kind(); }
    QString Caption() const { return DirectoryCaption(m_table.Kind()); }
    bool IsReadOnly() const { return m_table.Kind() == JournalView; }
    // The file the table is loaded from and saved to.
    QString FilePath() const { return m_path; }
    // The file is there but could not be read (damaged, or not readable): the
    // table is empty, and the first save over the file asks first (default
    // No) and keeps the file's bytes in a copy beside it (DamagedFileCopyPath).
    bool IsDamaged() const { return m_damaged; }
    // The name that copy would get now ("<file>.bak", or the next free one).
    QString DamagedFileCopyPath() const;

    // --- Model -----------------------------------------------------------
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Commits a text into a cell with the rules of CommitCell (no advance); a
    // paste into a cell comes this way too.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // --- Layout for the view ---------------------------------------------
    // Column width in pixels for a view of this client width (0 for column 0).
    int ColumnWidth(int column, int clientWidth) const;
    Qt::Alignment ColumnAlignment(int column) const;

    // --- Buttons ---------------------------------------------------------
    bool CanAddRow() const;     // "+"
    bool CanDeleteRow() const;  // "-" of the selected row
    bool CanClear() const;      // "-" of the directory (the journal file in JournalView)
    bool CanImport() const;     // "Импорт csv..."
    bool CanSave() const;       // "Сохранить"

    // --- State -----------------------------------------------------------
    // Row count and data column count N as the opener reads them afterwards:
    // -1 until the first load; N is the widest loaded row, then the column
    // count after a save.
    int RowCountValue() const { return m_rowCount; }
    int DataColumnCountValue() const { return m_dataColumns; }
    int HighestId() const { return m_table.highestId; }
    bool IsModified() const { return m_table.modified; }
    int SelectedRow() const { return m_selectedRow; }
    void SetSelectedRow(int row) { m_selectedRow = row; }
    const DirectoryTable& Table() const { return m_table; }

    // --- Commands --------------------------------------------------------
    // Appends a numbered row and selects it; its index, or -1 in JournalView.
    // When the highest ID is already the largest there is (2147483647) the new
    // row's ID is left empty for the user to fill, and the user is told why.
    int AddRow();
    enum class DeleteResult { Ignored, Declined, Deleted, Failed };
    // Asks, then deletes the selected row (the row at the same index is
    // selected next; the selected index itself does not change).
    DeleteResult DeleteSelectedRow();
    // Asks, then removes every row; in JournalView deletes the journal file.
    bool Clear();
    // Asks for a CSV file and imports it; false when cancelled or failed (a
    // failed import leaves the table as it was).
    bool ImportCsvFile();
    bool ImportCsvFrom(const QString& path);
    // Saves to the directory file and reports the outcome. Over a damaged file
    // it asks first; No saves nothing and shows nothing more. So it does when
    // another program saved the file after it was read or saved here.
    bool Save();
    // The close flow: asks "Сохранить последние изменения?" with Yes, No and
    // Cancel; true when the window may close (No, or a successful save; not
    // after Cancel or a save that failed or was declined).
    bool RequestClose();

    // --- In-place editing ------------------------------------------------
    enum class EditorType { None, Edit, TypeList };
    struct CellEditor {
        EditorType type = EditorType::None;
        int row = -1;
        int column = -1;
        QString text;                  // the cell's text
        Qt::Alignment alignment = Qt::AlignLeft;
        QStringList choices;           // TypeList: every operation type name
        int currentChoice = -1;        // TypeList: the last entry equal to the text, else 0
    };
    // A click on a cell: selects its row and returns the editor to open over
    // it (type None in JournalView, on column 0 or outside the table).
    CellEditor BeginEdit(int row, int column);
    // Called by the editor of the remembered cell: with `commit` puts the text
    // into the cell (raising the highest ID for column 1 of the numbered
    // kinds; ';' and line breaks are replaced, a text that would make the
    // line too long is shortened, and the user told so); with
    // `advance` returns the editor of the next cell (the next column, or
    // column 1 of the next row; type None after the last cell).
    CellEditor CommitCell(const QString& text, bool commit, bool advance);
    // Shift+Tab: commits as CommitCell does without advancing, then returns
    // the editor of the cell before (the column to the left, or the last
    // column of the row above; type None at the first cell).
    CellEditor CommitCellAndGoBack(const QString& text, bool commit);
    int EditingRow() const { return m_editRow; }
    int EditingColumn() const { return m_editColumn; }

signals:
    void modifiedChanged(bool modified);
    // Button enablement may have changed (rows added, removed or reloaded).
    void buttonsChanged();
    // The editor selects and focuses this row (after an add or a delete).
    void rowSelected(int row);

private:
    enum class SaveOutcome { Saved, Failed, NotSaved };  // NotSaved: declined or already reported
    SaveOutcome SaveToFile();
    bool FileChangedByOther() const;
    void SetModified(bool modified);
    void RefreshCounts();
    bool IsNumbered() const;  // kinds that number new rows and track the highest ID

    DirectoryTable m_table;
    QString m_path;
    bool m_damaged = false;
    FileContentState m_fileState;  // the file as it was read or last saved here
    int m_rowCount = -1;
    int m_dataColumns = -1;
    int m_selectedRow = -1;
    int m_editRow = -1;
    int m_editColumn = -1;
};

namespace DirectoryEditorText {
inline constexpr const char* kCaption = "KXLoader";
inline constexpr const char* kAskDeleteRow = "Будет удалена выбранная строка в таблице!\nПродолжить?";
inline constexpr const char* kDeleteFailed = "Ошибка! Не удалось удалить строку!";
inline constexpr const char* kAskClear = "Будет произведена очистка справочника!\nПродолжить?";
inline constexpr const char* kAskDeleteJournal = "Вы уверены, что хотите удалить файл журнала?";
inline constexpr const char* kAskDeleteJournalCaption = "Внимание";
inline constexpr const char* kJournalNotDeleted = "Не удалось удалить файл журнала!";
inline constexpr const char* kSaved = "Данные сохранены успешно!";
inline constexpr const char* kSaveFailed = "Не удалось сохранить справочник!";
inline constexpr const char* kAskSaveOnClose = "Сохранить последние изменения?";
inline constexpr const char* kCloseSaveFailed = "Ошибка! Не удалось сохранить!";
inline constexpr const char* kCsvFilter = "Текстовые Файлы csv (*.csv)|*.csv|Все файлы (*)|*|";
inline constexpr const char* kAskOverwriteDamaged =
    "Файл справочника не удалось прочитать:\n%1\n"
    "При сохранении он будет заменен данными таблицы. Прежнее содержимое файла будет "
    "сохранено в копии:\n%2\nСохранить?";
inline constexpr const char* kDamagedCopyFailed =
    "Ошибка! Не удалось сохранить копию файла справочника:\n%1\nСправочник не сохранен!";
inline constexpr const char* kAskOverOtherSave =
    "Файл справочника изменен другой программой после того, как был открыт или сохранен здесь:\n%1\n\n"
    "Заменить его данными этой таблицы? Изменения, сохраненные другой программой, будут потеряны.\n\n"
    "Да - заменить файл\nНет - не сохранять (таблица остается открытой)";
inline constexpr const char* kNoFreeId =
    "ID новой строки не присвоен: наибольший ID (2147483647) уже занят.\n"
    "Введите ID новой строки вручную.";
inline constexpr const char* kCsvDefaultExt = "csv";
}  // namespace DirectoryEditorText
