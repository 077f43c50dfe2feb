#pragma once
// One directory file in memory, as the editor shows it, and the operations
// that read it from its file, write it back and import a CSV file into it.
//
// File format: single-byte text in the directory code page (DirectoryCodec),
// or UTF-8 where the file is (DirectoryEncoding.h), one row a line, fields
// separated by ';' (no header, no quoting: a field never contains the
// separator, CellText.h), every line ended by CR LF. A line needs at least 3
// fields. For Operations the second field is the operation type ID, shown in
// the table as the type's name.

#include "directories/CellText.h"
#include "directories/ContentDigest.h"
#include "directories/DirectoryEncoding.h"
#include "directories/DirectoryKind.h"
#include "directories/OperationTypeNames.h"
#include "directories/RowStore.h"
#include "platform/CodePage.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <span>

// Shown in the type column for an operation type ID without a name; written
// back as an empty field.
inline constexpr const char* kUndefinedOperationType = "!НЕ ОПРЕДЕЛЕНО!";

class DirectoryTable {
public:
    explicit DirectoryTable(int kind = Operations, IOperationTypeNames* names = nullptr,
                            bool journalIdOn = false);
    DirectoryTable(const DirectoryTable&) = delete;
    DirectoryTable& operator=(const DirectoryTable&) = delete;

    // Sets the kind and its columns (the dummy column 0 and the kind's data
    // columns); removes every row.
    void SetKind(int kind, bool journalIdOn = false);
    int Kind() const { return m_kind; }

    // Columns, column 0 being the dummy column (empty title, width 0).
    const QList<DirectoryColumn>& Columns() const { return m_columns; }
    void SetColumns(const QList<DirectoryColumn>& columns) { m_columns = columns; }
    int ColumnCount() const { return static_cast<int>(m_columns.size()); }
    int DataColumnCount() const { return ColumnCount() - 1; }
    void AppendColumn(const DirectoryColumn& column) { m_columns.append(column); }

    int RowCount() const { return m_rows.Count(); }
    // The text of a cell; empty for column 0 and for cells the row lacks.
    QString Cell(int row, int column) const;
    QStringList RowCells(int row) const;  // columns 1..N
    // Cells take texts through the cell rule (CellText.h): characters replaced,
    // a text that would make the row's line too long shortened (an operation
    // type refused); `notes` collects what it changed. Only the cell set is
    // re-encoded.
    void SetCell(int row, int column, const QString& text, CellTextNotes* notes = nullptr);
    void AppendRow(const QStringList& cells, CellTextNotes* notes = nullptr);  // columns 1.. in order
    void AppendEmptyRow();
    bool RemoveRow(int row);
    void ClearRows();

    // The configuration's operation type names; loading fails without them.
    IOperationTypeNames* OperationTypeNames() const { return m_names; }
    void SetOperationTypeNames(IOperationTypeNames* names) { m_names = names; }

    // The encoding of the file the rows came from (the process-wide code page
    // at load time, or UTF-8 for a UTF-8 file); the save writes it back.
    const CodePage::CCodec& Codec() const { return m_encoding.codec; }
    const DirectoryFileEncoding& Encoding() const { return m_encoding; }
    void SetEncoding(const DirectoryFileEncoding& encoding) { m_encoding = encoding; }

    // Everything the rows and their shape are, moved out and put back whole
    // (a failed import leaves the table exactly as it was).
    struct Contents {
        QList<DirectoryColumn> columns;
        CDirectoryRowStore rows;
        DirectoryFileEncoding encoding;
        int widestRow = -1;
        bool modified = false;
    };
    Contents TakeContents();  // leaves no rows
    void RestoreContents(Contents&& contents);

    int highestId = 0;   // the largest value seen in the ID column (kinds 0..3)
    int widestRow = -1;  // the largest number of fields in a loaded line
    bool modified = false;

    const CDirectoryRowStore& Rows() const { return m_rows; }
    CDirectoryRowStore& Rows() { return m_rows; }

private:
    int m_kind = Operations;
    QList<DirectoryColumn> m_columns;
    CDirectoryRowStore m_rows;
    IOperationTypeNames* m_names = nullptr;
    DirectoryFileEncoding m_encoding;
};

// Parses the fields of one line (file bytes, kept as they are) into a new last
// row; `row` is the index that row gets (the row count). False when the table
// has no operation type names, there are 2 fields or fewer, or the kind is not
// a directory kind. Adds "Поле #n" columns for fields beyond the columns.
bool ParseRow(DirectoryTable& table, int row, std::span<const QByteArrayView> fields);
// The same for texts, which go through the cell rule first.
bool ParseRow(DirectoryTable& table, int row, const QStringList& fields);

// Replaces the rows by the lines of the file and sets the table's encoding to
// the file's (DetectFileEncoding's rule). A file that cannot be opened gives
// false and an empty table without a message; a line of 2 fields or fewer (or
// a read error) empties the table, shows the damage message when `showError`
// is set, and gives false. `separator` is ";" or ",". A load that gives true
// sets `read` (when given) to the digest and size of exactly the bytes it
// read, so that a later change by another program shows against them.
bool LoadDirectoryFile(DirectoryTable& table, const QString& path, bool showError,
                       const QString& separator = QStringLiteral(";"),
                       FileContentState* read = nullptr);

// The file line of one row without its line end; false when the row does not
// exist or the table has no data columns (Operations: fewer than 3).
bool BuildRowText(const DirectoryTable& table, int row, QString* text);

// The bytes of a row's line as the save writes it, without its line end (0
// when the row is not written); never above kMaxLineBytes for a row the cell
// rule let in.
qsizetype RowLineBytes(const DirectoryTable& table, int row);

// Writes every row, ";"-separated, CR LF after each line, in the table's
// encoding (the byte-order mark first when the file had one; otherwise an
// empty table gives an empty file). The file is replaced only when everything
// was written; where its folder does not let a new file be made beside it, it
// is written in place instead. The files folder is created when missing.
// False for JournalView, an empty path or any write failure; clears the
// modified flag on success, and sets `written` (when given) to the digest and
// size of the bytes written.
bool SaveDirectoryFile(DirectoryTable& table, const QString& path, FileContentState* written = nullptr);

// Imports a CSV file (";", or "," after the user agrees) into the table,
// asking and reporting through the prompt. Texts go through the cell rule
// (the user is told when it changed something); the rows take the table's
// encoding whatever the CSV file's was, and a row whose line grows too long in
// it has its longest texts shortened. On failure the table is put back as it
// was: rows, columns, encoding, modified flag.
bool ImportCsv(DirectoryTable& table, const QString& path);

// Messages of the directory code.
namespace DirectoryText {
inline constexpr const char* kCaption = "KXLoader";
inline constexpr const char* kDamaged = "Ошибка!\nФайл поврежден или содержит неправильные данные!";
inline constexpr const char* kImportOk = "Импорт произведен успешно!";
inline constexpr const char* kImportAskComma =
    "Не удалось импортировать файл используя станратный формат!\r\n"
    "Попытаться импортировать с использованием разделителя 'запятая'?";
inline constexpr const char* kImportAskCaption = "Внимание";
inline constexpr const char* kImportFailed =
    "Ошибка! Файл повреджен или содержит неправильные данные!\nИмпорт не произведен!\n";
}  // namespace DirectoryText
