#include "directories/DirectoryTable.h"

#include "directories/DirectoryCodePage.h"
#include "directories/DirectoryFiles.h"
#include "directories/LineReader.h"
#include "platform/Prompt.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QVarLengthArray>

#include <climits>
#include <cstring>

// ---------------------------------------------------------------------------
// DirectoryTable

DirectoryTable::DirectoryTable(int kind, IOperationTypeNames* names, bool journalIdOn)
    : m_names(names), m_codec(DirectoryCodec()) {
    SetKind(kind, journalIdOn);
}

void DirectoryTable::SetKind(int kind, bool journalIdOn) {
    m_kind = kind;
    m_rows.Clear();
    m_columns.clear();
    m_columns.append(DirectoryColumn{QString(), ColumnAlign::Left, 0.0, 0});
    m_columns.append(DirectoryColumns(kind, journalIdOn));
}

QString DirectoryTable::Cell(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 1) return QString();
    return m_rows.Cell(row, column - 1, m_codec);
}

QStringList DirectoryTable::RowCells(int row) const {
    QStringList cells;
    if (row < 0 || row >= RowCount()) return cells;
    cells = m_rows.Cells(row, m_codec);
    while (cells.size() < DataColumnCount()) cells.append(QString());
    return cells;
}

void DirectoryTable::SetCell(int row, int column, const QString& text) {
    if (row < 0 || row >= RowCount() || column < 1) return;
    QStringList cells = m_rows.Cells(row, m_codec);
    while (cells.size() < column) cells.append(QString());
    cells[column - 1] = text;
    m_rows.SetText(row, cells, m_codec);
}

void DirectoryTable::AppendRow(const QStringList& cells) { m_rows.AppendText(cells, m_codec); }

void DirectoryTable::AppendEmptyRow() { m_rows.AppendEncoded(nullptr, 0); }

bool DirectoryTable::RemoveRow(int row) {
    if (row < 0 || row >= RowCount()) return false;
    m_rows.Remove(row);
    return true;
}

void DirectoryTable::ClearRows() { m_rows.Clear(); }

// ---------------------------------------------------------------------------
// Parsing

namespace {

inline bool IsTrimmed(char c) { return c == ' ' || c == '\r' || c == '\n'; }

QByteArrayView Trim(QByteArrayView field) {
    qsizetype begin = 0;
    qsizetype end = field.size();
    while (begin < end && IsTrimmed(field[begin])) ++begin;
    while (end > begin && IsTrimmed(field[end - 1])) --end;
    return field.sliced(begin, end - begin);
}

inline bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Grows the columns so that data column `lastColumn` exists.
void EnsureColumns(DirectoryTable& table, qsizetype lastColumn) {
    while (table.ColumnCount() <= lastColumn)
        table.AppendColumn(ExtraFieldColumn(table.ColumnCount()));
}

}  // namespace

int LeadingInt(QByteArrayView text) {
    qsizetype i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    qint64 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > qint64(INT_MAX) + 1) value = qint64(INT_MAX) + 1;  // saturate
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int LeadingInt(const QString& text) {
    // Only ASCII digits, signs and spaces matter; anything else ends the number.
    QByteArray ascii;
    ascii.reserve(text.size());
    for (QChar c : text) ascii.append(c.unicode() < 0x80 ? char(c.unicode()) : 'x');
    return LeadingInt(QByteArrayView(ascii));
}

bool ParseRow(DirectoryTable& table, int row, std::span<const QByteArrayView> fields) {
    if (!table.OperationTypeNames() || fields.size() <= 2) return false;
    if (row != table.RowCount()) return false;
    const int kind = table.Kind();
    if (!IsDirectoryKind(kind)) return false;
    const qsizetype count =
        fields.size() < qsizetype(CDirectoryRowStore::kMaxCells) ? fields.size()
                                                                 : CDirectoryRowStore::kMaxCells;
    const CodePage::CCodec& codec = table.Codec();

    EnsureColumns(table, count);
    if (kind == Operations) {
        QStringList cells;
        cells.reserve(count);
        cells << codec.Decode(fields[0].data(), fields[0].size());
        QString name;
        if (!table.OperationTypeNames()->GetOperationTypeName(
                codec.Decode(fields[1].data(), fields[1].size()), &name))
            name = QString::fromUtf8(kUndefinedOperationType);
        cells << name;
        for (qsizetype i = 2; i < count; ++i) {
            const QByteArrayView f = Trim(fields[i]);
            cells << codec.Decode(f.data(), f.size());
        }
        table.Rows().AppendText(cells, codec);
    } else {
        QVarLengthArray<QByteArrayView, 16> cells;
        for (qsizetype i = 0; i < count; ++i) cells.append(Trim(fields[i]));
        table.Rows().AppendEncoded(cells.data(), static_cast<int>(cells.size()));
    }
    if (kind >= Operations && kind <= Documents) {
        const int id = LeadingInt(fields[0]);
        if (id > table.highestId) table.highestId = id;
    }
    if (count > table.widestRow) table.widestRow = static_cast<int>(count);
    return true;
}

bool ParseRow(DirectoryTable& table, int row, const QStringList& fields) {
    QList<QByteArray> encoded;
    encoded.reserve(fields.size());
    for (const QString& f : fields) encoded.append(table.Codec().Encode(f));
    QList<QByteArrayView> views;
    views.reserve(encoded.size());
    for (const QByteArray& b : encoded) views.append(QByteArrayView(b));
    return ParseRow(table, row, std::span<const QByteArrayView>(views.constData(), views.size()));
}

// ---------------------------------------------------------------------------
// Loading

bool LoadDirectoryFile(DirectoryTable& table, const QString& path, bool showError,
                       const QString& separator) {
    table.ClearRows();
    table.SetCodec(DirectoryCodec());
    CDirectoryLineReader reader;
    if (!reader.Open(path)) return false;

    const char sep = separator.isEmpty() ? ';' : char(separator.at(0).unicode() & 0x7F);
    // Columns added by the lines of a load that fails are taken away again, or
    // the next save would write their empty fields into every line.
    const QList<DirectoryColumn> columnsBefore = table.Columns();
    QVarLengthArray<QByteArrayView, 32> fields;
    QByteArrayView line;
    bool ok = true;
    while (reader.ReadLine(&line)) {
        // The line's text ends at a NUL byte, as it always did for C strings.
        if (const void* nul = std::memchr(line.data(), 0, size_t(line.size())))
            line = line.first(static_cast<const char*>(nul) - line.data());
        fields.clear();
        const char* p = line.data();
        const char* end = p + line.size();
        for (;;) {
            const void* hit = std::memchr(p, sep, size_t(end - p));
            const char* stop = hit ? static_cast<const char*>(hit) : end;
            fields.append(QByteArrayView(p, stop - p));
            if (!hit) break;
            p = stop + 1;
        }
        if (!ParseRow(table, table.RowCount(),
                      std::span<const QByteArrayView>(fields.data(), fields.size()))) {
            ok = false;
            break;
        }
    }
    if (ok && reader.Failed()) ok = false;  // a read error is not the end of the file
    reader.Close();
    if (!ok) {
        table.ClearRows();
        table.SetColumns(columnsBefore);
        if (showError)
            Prompt().Message(QString::fromUtf8(DirectoryText::kDamaged),
                             QString::fromUtf8(DirectoryText::kCaption), PromptIcon::Warning,
                             PromptButtons::Ok);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// The last column a row's line carries; 0 when the row cannot be written.
int LastLineColumn(const DirectoryTable& table, int row) {
    const int n = table.DataColumnCount();
    if (row < 0 || row >= table.RowCount() || n < 1) return 0;
    const int kind = table.Kind();
    if (kind == Operations && n < 3) return 0;
    // An empty extra-info mode is left out of the line rather than written empty.
    // Trailing empty cells are not stored, so "empty" is "fewer cells".
    if ((kind == Operations && n == 6) || (kind == Wares && n == 4))
        if (table.Rows().CellCount(row) < n) return n - 1;
    return n;
}

// Type IDs of the names met while writing one file.
class CTypeIdCache {
public:
    explicit CTypeIdCache(IOperationTypeNames* names) : m_names(names) {}
    QString Id(const QString& name) {
        auto it = m_ids.constFind(name);
        if (it != m_ids.constEnd()) return it.value();
        QString id;
        if (!m_names || !m_names->GetOperationTypeId(name, &id)) id.clear();
        m_ids.insert(name, id);
        return id;
    }

private:
    IOperationTypeNames* m_names;
    QHash<QString, QString> m_ids;
};

}  // namespace

bool BuildRowText(const DirectoryTable& table, int row, QString* text) {
    const int last = LastLineColumn(table, row);
    if (last == 0) return false;
    QString line;
    for (int c = 1; c <= last; ++c) {
        if (c > 1) line += QLatin1Char(';');
        if (table.Kind() == Operations && c == 2) {
            QString id;
            IOperationTypeNames* names = table.OperationTypeNames();
            if (names && names->GetOperationTypeId(table.Cell(row, 2), &id)) line += id;
        } else {
            line += table.Cell(row, c);
        }
    }
    if (text) *text = line;
    return true;
}

bool SaveDirectoryFile(DirectoryTable& table, const QString& path) {
    if (table.Kind() == JournalView || !IsDirectoryKind(table.Kind())) return false;
    if (path.isEmpty()) return false;
    // Without the configuration every type would be written as an empty field.
    if (table.Kind() == Operations && !table.OperationTypeNames()) return false;
    if (QFileInfo(path).isDir()) return false;
    QDir().mkpath(QFileInfo(path).absolutePath());

    // Written beside the file and renamed over it at the end, so a failure
    // part-way (full disk, lost share) leaves the previous file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;

    const CodePage::CCodec& codec = table.Codec();
    const CDirectoryRowStore& rows = table.Rows();
    CTypeIdCache ids(table.OperationTypeNames());
    const bool operations = table.Kind() == Operations;
    constexpr qsizetype kFlushBytes = 1 << 20;
    QByteArray out;
    out.reserve(kFlushBytes + 4096);
    for (int row = 0;; ++row) {
        const int last = LastLineColumn(table, row);
        if (last == 0) break;
        for (int c = 1; c <= last; ++c) {
            if (c > 1) out.append(';');
            if (operations && c == 2)
                codec.AppendEncoded(ids.Id(table.Cell(row, 2)), out);
            else
                rows.AppendCellEncoded(row, c - 1, codec, out);
        }
        out.append("\r\n", 2);
        if (out.size() >= kFlushBytes) {
            if (file.write(out) != out.size()) {
                file.cancelWriting();
                return false;
            }
            out.resize(0);
        }
    }
    if (!out.isEmpty() && file.write(out) != out.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) return false;
    table.modified = false;
    return true;
}

// ---------------------------------------------------------------------------
// CSV import

bool ImportCsv(DirectoryTable& table, const QString& path) {
    if (!IsDirectoryFileKind(table.Kind())) return false;  // the journal is never imported
    const QString caption = QString::fromUtf8(DirectoryText::kCaption);
    const bool wasModified = table.modified;

    table.ClearRows();
    bool imported = LoadDirectoryFile(table, path, false, QStringLiteral(";"));
    if (!imported) {
        const int answer = Prompt().Message(QString::fromUtf8(DirectoryText::kImportAskComma),
                                            QString::fromUtf8(DirectoryText::kImportAskCaption),
                                            PromptIcon::Warning, PromptButtons::YesNo);
        if (answer == AnswerYes) imported = LoadDirectoryFile(table, path, false, QStringLiteral(","));
    }
    if (imported) {
        table.modified = true;
        Prompt().Message(QString::fromUtf8(DirectoryText::kImportOk), caption,
                         PromptIcon::Information, PromptButtons::Ok);
        return true;
    }

    // Show the directory's own file again; the edits before the import are gone
    // but the file on disk was never touched.
    table.ClearRows();
    QString own;
    DirectoryPath(table.Kind(), &own);
    LoadDirectoryFile(table, own, true, QStringLiteral(";"));
    table.modified = wasModified;
    Prompt().Message(QString::fromUtf8(DirectoryText::kImportFailed), caption,
                     PromptIcon::Warning, PromptButtons::Ok);
    return false;
}
