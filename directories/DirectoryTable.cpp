#include "directories/DirectoryTable.h"

#include "directories/CellText.h"
#include "directories/DirectoryCodePage.h"
#include "directories/LineReader.h"
#include "platform/LeadingInteger.h"
#include "platform/Prompt.h"
#include "filesafety/TargetWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QVarLengthArray>

#include <climits>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------------------
// DirectoryTable

DirectoryTable::DirectoryTable(int kind, IOperationTypeNames* names, bool journalIdOn)
    : m_names(names), m_encoding{DirectoryCodec(), false} {
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
    return m_rows.Cell(row, column - 1, Codec());
}

QStringList DirectoryTable::RowCells(int row) const {
    QStringList cells;
    if (row < 0 || row >= RowCount()) return cells;
    cells = m_rows.Cells(row, Codec());
    while (cells.size() < DataColumnCount()) cells.append(QString());
    return cells;
}

void DirectoryTable::AppendEmptyRow() { m_rows.AppendEncoded(nullptr, 0); }

bool DirectoryTable::RemoveRow(int row) {
    if (row < 0 || row >= RowCount()) return false;
    m_rows.Remove(row);
    return true;
}

void DirectoryTable::ClearRows() { m_rows.Clear(); }

DirectoryTable::Contents DirectoryTable::TakeContents() {
    Contents contents{m_columns, std::move(m_rows), m_encoding, widestRow, modified};
    m_rows = CDirectoryRowStore();
    return contents;
}

void DirectoryTable::RestoreContents(Contents&& contents) {
    m_columns = std::move(contents.columns);
    m_rows = std::move(contents.rows);
    m_encoding = contents.encoding;
    widestRow = contents.widestRow;
    modified = contents.modified;
}

// ---------------------------------------------------------------------------
// Parsing

namespace {

// Grows the columns so that data column `lastColumn` exists.
void EnsureColumns(DirectoryTable& table, qsizetype lastColumn) {
    while (table.ColumnCount() <= lastColumn)
        table.AppendColumn(ExtraFieldColumn(table.ColumnCount()));
}

}  // namespace

bool ParseRow(DirectoryTable& table, int row, std::span<const QByteArrayView> fields) {
    if (!table.OperationTypeNames() || fields.size() <= 2) return false;
    if (row != table.RowCount()) return false;
    const int kind = table.Kind();
    if (!IsDirectoryKind(kind)) return false;
    const qsizetype count =
        fields.size() < qsizetype(CDirectoryRowStore::kMaxCells) ? fields.size()
                                                                 : CDirectoryRowStore::kMaxCells;
    EnsureColumns(table, count);
    if (kind == Operations) {
        // The fields keep their file bytes; only the type column holds a text
        // of our own (the type's name), kept as UTF-16 so that it needs no
        // code page and the encoding may still be decided after the last line.
        QString name;
        if (!table.OperationTypeNames()->GetOperationTypeName(
                table.Codec().Decode(fields[1].data(), fields[1].size()), &name))
            name = QString::fromUtf8(kUndefinedOperationType);
        QVarLengthArray<CDirectoryRowStore::StoredCell, 16> cells;
        cells.append({fields[0], false});
        cells.append({QByteArrayView(reinterpret_cast<const char*>(name.utf16()), name.size() * 2),
                      true});
        for (qsizetype i = 2; i < count; ++i) cells.append({TrimField(fields[i]), false});
        table.Rows().AppendCells(cells.data(), static_cast<int>(cells.size()));
    } else {
        QVarLengthArray<QByteArrayView, 16> cells;
        for (qsizetype i = 0; i < count; ++i) cells.append(TrimField(fields[i]));
        table.Rows().AppendEncoded(cells.data(), static_cast<int>(cells.size()));
    }
    if (IsNumberedKind(kind)) {
        const int id = LeadingInteger(fields[0]);
        if (id > table.highestId) table.highestId = id;
    }
    if (count > table.widestRow) table.widestRow = static_cast<int>(count);
    return true;
}

bool ParseRow(DirectoryTable& table, int row, const QStringList& fields) {
    QList<QByteArray> encoded;
    encoded.reserve(fields.size());
    for (const QString& f : fields) encoded.append(table.Codec().Encode(CleanCellText(f)));
    QList<QByteArrayView> views;
    views.reserve(encoded.size());
    for (const QByteArray& b : encoded) views.append(QByteArrayView(b));
    return ParseRow(table, row, std::span<const QByteArrayView>(views.constData(), views.size()));
}

// ---------------------------------------------------------------------------
// Loading

namespace {

enum class LoadOutcome { Loaded, NotOpened, Damaged };

// Splits a line at `sep`. With `csvQuotes` a field that starts with '"' and
// whose closing '"' stands before the next separator (or the line's end) is
// read as CSV writes it: without the quotes, "" inside standing for one '"',
// a separator inside belonging to the text. Any other field, and every field
// without `csvQuotes`, is taken as it stands. Unquoted text lands in views of
// the line; unquoted text with doubled quotes in `store`.
void SplitFields(QByteArrayView line, char sep, bool csvQuotes, QVarLengthArray<QByteArrayView, 32>& fields,
                 std::vector<QByteArray>& store) {
    fields.clear();
    store.clear();
    const char* p = line.data();
    const char* end = p + line.size();
    for (;;) {
        if (csvQuotes && p < end && *p == '"') {
            // Find the closing quote: a '"' not followed by another '"'.
            const char* q = p + 1;
            bool doubled = false;
            while (q < end) {
                if (*q == '"') {
                    if (q + 1 < end && q[1] == '"') {
                        doubled = true;
                        q += 2;
                        continue;
                    }
                    break;
                }
                ++q;
            }
            if (q < end && (q + 1 == end || q[1] == sep)) {
                const QByteArrayView inner(p + 1, q - (p + 1));
                if (!doubled) {
                    fields.append(inner);
                } else {
                    QByteArray text = inner.toByteArray();
                    text.replace("\"\"", "\"");
                    store.push_back(std::move(text));
                    fields.append(QByteArrayView(store.back()));
                }
                if (q + 1 == end) break;
                p = q + 2;
                continue;
            }
            // No proper closing quote: the field as it stands.
        }
        const void* hit = std::memchr(p, sep, size_t(end - p));
        const char* stop = hit ? static_cast<const char*>(hit) : end;
        fields.append(QByteArrayView(p, stop - p));
        if (!hit) break;
        p = stop + 1;
    }
}

// The lines after which a load sizes the row list for the whole file.
constexpr int kLinesToEstimate = 4096;

// ParseRow for a line that the rows keep as it is (AppendLine): the line of a
// directory file read as it stands, fields separated by ';', in any kind but
// Operations (whose type column is a text of its own). One pass over the line
// finds what ParseRow takes from its fields: the field count, the last field
// that is not empty once trimmed (the rows leave out empty trailing cells) and
// the first field's number.
struct KeptLineRules {
    explicit KeptLineRules(const DirectoryTable& table)
        : valid(table.OperationTypeNames() && IsDirectoryKind(table.Kind()) &&
                table.Kind() != Operations),
          numbered(IsNumberedKind(table.Kind())) {}
    bool valid;
    bool numbered;
};

bool ParseKeptLine(DirectoryTable& table, const KeptLineRules& rules, quint32 block,
                   QByteArrayView line) {
    if (!rules.valid) return false;
    qsizetype count = 0;
    qsizetype cells = 0;
    const char* p = line.data();
    const char* const end = p + line.size();
    const char* firstEnd = end;
    for (;;) {
        const void* hit = std::memchr(p, ';', size_t(end - p));
        const char* stop = hit ? static_cast<const char*>(hit) : end;
        if (count == 0) firstEnd = stop;
        ++count;
        if (!TrimField(QByteArrayView(p, stop - p)).isEmpty()) cells = count;
        if (!hit) break;
        p = stop + 1;
    }
    if (count <= 2) return false;
    if (count > CDirectoryRowStore::kMaxCells) count = CDirectoryRowStore::kMaxCells;
    if (cells > count) cells = count;
    if (count >= table.ColumnCount()) EnsureColumns(table, count);
    table.Rows().AppendLine(block, line, static_cast<int>(cells));
    if (rules.numbered) {
        const int id = LeadingInteger(QByteArrayView(line.data(), firstEnd - line.data()));
        if (id > table.highestId) table.highestId = id;
    }
    if (count > table.widestRow) table.widestRow = static_cast<int>(count);
    return true;
}

// Reads the file into the table. `cleanCells` applies the cell rule to every
// field (imports); a directory file is read as it stands, so that its rows
// keep their bytes: the rows then point into the bytes read (no row is
// copied), except in Operations, whose rows are stored cell by cell.
// `replaced` is set when the rule changed a field.
LoadOutcome LoadLines(DirectoryTable& table, const QString& path, char sep, bool cleanCells,
                      bool* replaced, FileContentState* read = nullptr) {
    table.ClearRows();
    const CodePage::CCodec setting = DirectoryCodec();
    table.SetEncoding({setting, false});
    CDirectoryLineReader reader;
    const bool keep = !cleanCells && sep == ';' && table.Kind() != Operations;
    quint32 block = 0;
    bool anyBlock = false;
    CDirectoryRowStore& rows = table.Rows();
    const bool opened =
        keep ? reader.OpenKeeping(path, [&](qsizetype capacity) {
                   anyBlock = true;
                   return rows.AddLineBlock(capacity, &block);
               })
             : reader.Open(path);
    if (!opened) return LoadOutcome::NotOpened;
    CContentDigest digest;
    if (read) reader.DigestInto(&digest);

    // Columns added by the lines of a load that fails are taken away again, or
    // the next save would write their empty fields into every line.
    const QList<DirectoryColumn> columnsBefore = table.Columns();
    const bool checkUtf8 = ChecksForUtf8(setting);
    CUtf8Check utf8;
    bool bom = false;
    bool first = true;
    QByteArray scratch;
    QVarLengthArray<QByteArrayView, 32> fields;
    std::vector<QByteArray> quoted;
    QByteArrayView line;
    bool ok = true;
    const qsizetype fileBytes = keep ? QFileInfo(path).size() : 0;
    const KeptLineRules keptRules(table);
    const char* firstLine = nullptr;
    while (reader.ReadLine(&line)) {
        if (first) {
            first = false;
            firstLine = line.data();
            if (line.startsWith(QByteArrayView(kUtf8Bom, kUtf8BomBytes))) {
                // Rows keep their bytes, so the table is UTF-8 from the start.
                bom = true;
                line = line.sliced(kUtf8BomBytes);
                table.SetEncoding(ChooseFileEncoding(setting, true, utf8));
            }
        }
        if (checkUtf8 && !bom && utf8.StillValid()) {
            utf8.Feed(line);
            if (reader.LastLineHadEnd()) utf8.Feed("\n");
        }
        // The line's text ends at a NUL byte, as it always did for C strings.
        if (reader.LastLineHasNul())
            if (const void* nul = std::memchr(line.data(), 0, size_t(line.size())))
                line = line.first(static_cast<const char*>(nul) - line.data());
        if (keep) {
            if (!ParseKeptLine(table, keptRules, block, line)) {
                ok = false;
                break;
            }
            // Once the first lines tell how long a line is, room for the
            // rows of the whole file: a row list that grows by doubling
            // holds up to twice what it needs.
            if (rows.Count() == kLinesToEstimate && fileBytes > 0) {
                const qsizetype read = line.data() + line.size() - firstLine;
                if (read > 0) {
                    const double estimate = double(fileBytes) * kLinesToEstimate / double(read);
                    if (estimate * 1.03 < double(INT_MAX / 2)) rows.Reserve(int(estimate * 1.03) + 64);
                }
            }
            continue;
        }
        // Imports read CSV's quoted fields; a directory file is split as it stands.
        SplitFields(line, sep, cleanCells, fields, quoted);
        if (cleanCells && CleanFieldBytes(fields.data(), fields.size(), scratch) && replaced)
            *replaced = true;
        if (!ParseRow(table, table.RowCount(),
                      std::span<const QByteArrayView>(fields.data(), fields.size()))) {
            ok = false;
            break;
        }
    }
    if (ok && reader.Failed()) ok = false;  // a read error is not the end of the file
    if (ok && anyBlock) rows.EndLineBlock(block, reader.KeptBytes());
    reader.Close();
    if (!ok) {
        table.ClearRows();
        table.SetColumns(columnsBefore);
        table.SetEncoding({setting, false});
        return LoadOutcome::Damaged;
    }
    // The rows hold the file's bytes; the encoding says how to show and write them.
    table.SetEncoding(ChooseFileEncoding(setting, bom, utf8));
    if (read) *read = {true, digest.Bytes(), digest.Result()};
    return LoadOutcome::Loaded;
}

void ShowDamaged() {
    Prompt().Message(QString::fromUtf8(DirectoryText::kDamaged),
                     QString::fromUtf8(DirectoryText::kCaption), PromptIcon::Warning,
                     PromptButtons::Ok);
}

char SeparatorByte(const QString& separator) {
    return separator.isEmpty() ? ';' : char(separator.at(0).unicode() & 0x7F);
}

}  // namespace

bool LoadDirectoryFile(DirectoryTable& table, const QString& path, bool showError,
                       const QString& separator, FileContentState* read) {
    const LoadOutcome outcome = LoadLines(table, path, SeparatorByte(separator), false, nullptr, read);
    if (outcome == LoadOutcome::Damaged && showError) ShowDamaged();
    return outcome == LoadOutcome::Loaded;
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
    const DirectoryKindInfo* info = FindDirectoryKind(kind);
    if (info && info->omittedWhenEmptyColumn == n && n > 0)
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

// Appends the line of a row with every column up to `last`, an empty cell as
// an empty field.
void AppendRowLine(const DirectoryTable& table, int row, int last, CTypeIdCache& ids, QByteArray& out) {
    const CodePage::CCodec& codec = table.Codec();
    const bool operations = table.Kind() == Operations;
    if (!operations) {
        table.Rows().AppendCellsEncoded(row, last, codec, out);
        return;
    }
    for (int c = 1; c <= last; ++c) {
        if (c > 1) out.append(';');
        if (operations && c == 2)
            codec.AppendEncoded(ids.Id(table.Cell(row, 2)), out);
        else
            table.Rows().AppendCellEncoded(row, c - 1, codec, out);
    }
}

// The empty fields at the end of a row's full line, after its last stored
// cell: one ';' each, and they read back the same whether written or not.
int TrailingEmptyFields(const DirectoryTable& table, int row, int last) {
    const int cells = table.Rows().CellCount(row);
    return last > cells ? last - cells : 0;
}

// Every row is written with every column, except where that line would be
// longer than the reader takes: then without its trailing empty fields. (A
// row read from the first 1023 bytes of a longer line, in a table that a line
// with more fields widened, fits only so.)
void AppendWrittenLine(const DirectoryTable& table, int row, int last, CTypeIdCache& ids, QByteArray& out) {
    const qsizetype start = out.size();
    AppendRowLine(table, row, last, ids, out);
    if (out.size() - start > kMaxLineBytes) out.chop(TrailingEmptyFields(table, row, last));
}

// The line with every column, or the line as written (see AppendWrittenLine).
enum class LineForm { Full, Written };

qsizetype LineBytes(const DirectoryTable& table, int row, LineForm form, CTypeIdCache& ids,
                    QByteArray& scratch) {
    const int last = LastLineColumn(table, row);
    if (last == 0) return 0;
    scratch.resize(0);
    if (form == LineForm::Full)
        AppendRowLine(table, row, last, ids, scratch);
    else
        AppendWrittenLine(table, row, last, ids, scratch);
    return scratch.size();
}

// The form a row's line must keep fitting in through a change: a row written
// with every column keeps them all (so that no column of the table is lost at
// the next open), another only its written line.
LineForm FormToKeep(const DirectoryTable& table, int row, CTypeIdCache& ids, QByteArray& scratch) {
    return LineBytes(table, row, LineForm::Full, ids, scratch) <= kMaxLineBytes ? LineForm::Full
                                                                                : LineForm::Written;
}

// Shortens the longest texts of a row (never the operation type, which is a
// choice) until its line in `form` fits; true when it shortened any. Each
// round takes the excess off the longest text, so the texts only get shorter.
bool ShortenRowToLine(DirectoryTable& table, int row, LineForm form, CTypeIdCache& ids,
                      QByteArray& scratch) {
    const CodePage::CCodec& codec = table.Codec();
    bool shortened = false;
    for (;;) {
        const qsizetype over = LineBytes(table, row, form, ids, scratch) - kMaxLineBytes;
        if (over <= 0) return shortened;
        int longest = 0;
        qsizetype longestBytes = 0;
        for (int c = 1; c <= table.DataColumnCount(); ++c) {
            if (table.Kind() == Operations && c == 2) continue;
            const qsizetype bytes = codec.Encode(table.Cell(row, c)).size();
            if (bytes > longestBytes) {
                longest = c;
                longestBytes = bytes;
            }
        }
        if (longest == 0) return shortened;  // nothing left that could be shortened
        const QString kept = FitCellText(table.Cell(row, longest), longestBytes - over, codec);
        table.Rows().SetCellText(row, longest - 1, kept, codec);
        shortened = true;
    }
}

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

qsizetype RowLineBytes(const DirectoryTable& table, int row) {
    CTypeIdCache ids(table.OperationTypeNames());
    QByteArray scratch;
    return LineBytes(table, row, LineForm::Written, ids, scratch);
}

// A save waits this long for a download writing the same file.
constexpr int kSaveWaitMs = 10000;

bool SaveDirectoryFile(DirectoryTable& table, const QString& path, FileContentState* written) {
    if (table.Kind() == JournalView || !IsDirectoryKind(table.Kind())) return false;
    if (path.isEmpty()) return false;
    // Without the configuration every type would be written as an empty field.
    if (table.Kind() == Operations && !table.OperationTypeNames()) return false;
    if (QFileInfo(path).isDir()) return false;
    QDir().mkpath(QFileInfo(path).absolutePath());

    // Written beside the file and renamed over it at the end, so a failure
    // part-way (full disk, lost share, a kill) leaves the previous file whole.
    // A folder that lets nobody make a file in it, but holds a file the user
    // may write, gets the file written in place: with the space reserved
    // first and the old bytes kept until the new ones are whole
    // (filesafety/TargetWriter.h).
    CTargetWriter file;
    if (!file.Open(path)) return false;

    CTypeIdCache ids(table.OperationTypeNames());
    CContentDigest digest;
    const auto write = [&](const QByteArray& bytes) {
        digest.Feed(bytes.constData(), bytes.size());
        return file.Write(bytes);
    };
    constexpr qsizetype kFlushBytes = 1 << 20;
    QByteArray out;
    out.reserve(kFlushBytes + 4096);
    if (table.Encoding().bom) out.append(kUtf8Bom, kUtf8BomBytes);
    for (int row = 0;; ++row) {
        const int last = LastLineColumn(table, row);
        if (last == 0) break;
        AppendWrittenLine(table, row, last, ids, out);
        out.append("\r\n", 2);
        if (out.size() >= kFlushBytes) {
            if (!write(out)) return false;
            out.resize(0);
        }
    }
    if (!out.isEmpty() && !write(out)) return false;
    if (!file.Commit(CTargetWriter::Mode::Replace, kSaveWaitMs)) return false;
    table.modified = false;
    if (written) *written = {true, digest.Bytes(), digest.Result()};
    return true;
}

// ---------------------------------------------------------------------------
// The cell rule on the way into the rows

void DirectoryTable::SetCell(int row, int column, const QString& text, CellTextNotes* notes) {
    if (row < 0 || row >= RowCount() || column < 1) return;
    bool replaced = false;
    const QString clean = CleanCellText(text, &replaced);
    if (notes && replaced) notes->replaced = true;
    CTypeIdCache ids(m_names);
    QByteArray scratch;
    const LineForm form = FormToKeep(*this, row, ids, scratch);
    // The type of an operation is a name from a list: it cannot be shortened,
    // only refused (its ID may be longer than the one it replaces).
    const bool typeColumn = m_kind == Operations && column == 2;
    const QString before = typeColumn ? Cell(row, column) : QString();
    m_rows.SetCellText(row, column - 1, clean, Codec());
    const qsizetype over = LineBytes(*this, row, form, ids, scratch) - kMaxLineBytes;
    if (over <= 0) return;
    if (typeColumn) {
        m_rows.SetCellText(row, column - 1, before, Codec());
        if (notes) notes->refused = true;
        return;
    }
    const QString kept = FitCellText(clean, Codec().Encode(clean).size() - over, Codec());
    m_rows.SetCellText(row, column - 1, kept, Codec());
    if (notes) notes->shortenedTo = static_cast<int>(kept.size());
}

void DirectoryTable::AppendRow(const QStringList& cells, CellTextNotes* notes) {
    bool any = false;
    QStringList clean;
    clean.reserve(cells.size());
    for (const QString& cell : cells) {
        bool changed = false;
        clean.append(CleanCellText(cell, &changed));
        any = any || changed;
    }
    m_rows.AppendText(clean, Codec());
    CTypeIdCache ids(m_names);
    QByteArray scratch;
    const bool shortened = ShortenRowToLine(*this, RowCount() - 1, LineForm::Written, ids, scratch);
    if (notes) {
        notes->replaced = notes->replaced || any;
        if (shortened) ++notes->shortenedRows;
    }
}

// ---------------------------------------------------------------------------
// CSV import

bool ImportCsv(DirectoryTable& table, const QString& path) {
    if (!IsDirectoryFileKind(table.Kind())) return false;  // the journal is never imported
    const QString caption = QString::fromUtf8(DirectoryText::kCaption);

    // What the table is now, put back whole when the import fails: the unsaved
    // edits, the columns and the modified flag must survive a bad file.
    DirectoryTable::Contents before = table.TakeContents();
    CellTextNotes notes;
    bool imported = LoadLines(table, path, ';', true, &notes.replaced) == LoadOutcome::Loaded;
    if (!imported) {
        const int answer = Prompt().Message(QString::fromUtf8(DirectoryText::kImportAskComma),
                                            QString::fromUtf8(DirectoryText::kImportAskCaption),
                                            PromptIcon::Warning, PromptButtons::YesNo);
        if (answer == AnswerYes) {
            notes.replaced = false;
            imported = LoadLines(table, path, ',', true, &notes.replaced) == LoadOutcome::Loaded;
        }
    }
    if (imported) {
        // Each CSV line fitted the reader, but a line may grow in the
        // directory's encoding (Windows-1251 text into a UTF-8 file): such a
        // row has its longest texts shortened, in the form it had.
        CTypeIdCache ids(table.OperationTypeNames());
        QByteArray scratch;
        std::vector<LineForm> forms;
        forms.reserve(static_cast<size_t>(table.RowCount()));
        for (int row = 0; row < table.RowCount(); ++row) forms.push_back(FormToKeep(table, row, ids, scratch));
        // The rows are in the CSV file's encoding; the directory file keeps its own.
        if (!(table.Encoding() == before.encoding))
            table.Rows().Recode(table.Codec(), before.encoding.codec);
        table.SetEncoding(before.encoding);
        for (int row = 0; row < table.RowCount(); ++row)
            if (ShortenRowToLine(table, row, forms[size_t(row)], ids, scratch)) ++notes.shortenedRows;
        table.modified = true;
        Prompt().Message(QString::fromUtf8(DirectoryText::kImportOk), caption,
                         PromptIcon::Information, PromptButtons::Ok);
        ShowCellTextNotes(notes);
        return true;
    }

    // The IDs met in the rejected file still count for the highest ID (the next
    // added row gets a number above them), as they always did.
    table.RestoreContents(std::move(before));
    Prompt().Message(QString::fromUtf8(DirectoryText::kImportFailed), caption,
                     PromptIcon::Warning, PromptButtons::Ok);
    return false;
}
