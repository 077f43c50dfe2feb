#include "directories/DirectoryTableModel.h"

#include "directories/CellText.h"
#include "directories/DirectoryFiles.h"
#include "directories/FileBackup.h"
#include "platform/LeadingInteger.h"
#include "platform/Prompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>

namespace {
QString T(const char* text) { return QString::fromUtf8(text); }
}  // namespace

CDirectoryTableModel::CDirectoryTableModel(IOperationTypeNames* names, QObject* parent)
    : QAbstractTableModel(parent), m_table(Operations, names) {}

// ---------------------------------------------------------------------------
// Opening

bool CDirectoryTableModel::Open(int kind, bool journalIdOn) {
    QString path;
    if (kind == JournalView)
        path = CurrentDirectoryFiles().journalFile;
    else
        DirectoryPath(kind, &path);
    return OpenFile(kind, path, journalIdOn);
}

bool CDirectoryTableModel::OpenFile(int kind, const QString& path, bool journalIdOn) {
    beginResetModel();
    m_path = path;
    m_table.SetKind(kind, journalIdOn);
    m_table.highestId = 0;
    m_table.widestRow = -1;
    m_selectedRow = -1;
    m_editRow = m_editColumn = -1;
    FileContentState read;
    const bool loaded =
        IsDirectoryKind(kind) && LoadDirectoryFile(m_table, path, true, QStringLiteral(";"), &read);
    // A file that is there but gave no table (damaged, unreadable) must not be
    // wiped unasked by the next save: it may hold a million wares.
    m_damaged = !loaded && IsDirectoryFileKind(kind) && QFileInfo(path).isFile();
    endResetModel();
    m_dataColumns = m_table.widestRow;
    m_rowCount = m_table.RowCount();
    // The bytes the rows came from, not a second read: a save by another
    // program between the two would otherwise pass for what was loaded.
    m_fileState = loaded ? read : ReadFileContentState(m_path);
    SetModified(false);
    emit buttonsChanged();
    return loaded;
}

// ---------------------------------------------------------------------------
// Model

int CDirectoryTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_table.RowCount();
}

int CDirectoryTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_table.ColumnCount();
}

QVariant CDirectoryTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_table.RowCount() ||
        index.column() >= m_table.ColumnCount())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_table.Cell(index.row(), index.column());
    case Qt::TextAlignmentRole:
        return static_cast<int>(ColumnAlignment(index.column()) | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant CDirectoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_table.ColumnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole) return m_table.Columns()[section].title;
    if (role == Qt::TextAlignmentRole)
        return static_cast<int>(ColumnAlignment(section) | Qt::AlignVCenter);
    return QVariant();
}

Qt::ItemFlags CDirectoryTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!IsReadOnly() && index.column() >= 1) f |= Qt::ItemIsEditable;
    return f;
}

QString CDirectoryTableModel::DamagedFileCopyPath() const {
    return m_damaged ? FreeBackupPath(m_path) : QString();
}

bool CDirectoryTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || IsReadOnly() || !index.isValid() || index.column() < 1 ||
        index.row() >= m_table.RowCount() || index.column() >= m_table.ColumnCount())
        return false;
    m_editRow = index.row();
    m_editColumn = index.column();
    CommitCell(value.toString(), true, false);
    return true;
}

// ---------------------------------------------------------------------------
// Layout

int CDirectoryTableModel::ColumnWidth(int column, int clientWidth) const {
    if (column <= 0 || column >= m_table.ColumnCount()) return 0;
    return m_table.Columns()[column].Width(clientWidth);
}

Qt::Alignment CDirectoryTableModel::ColumnAlignment(int column) const {
    if (column <= 0 || column >= m_table.ColumnCount()) return Qt::AlignLeft;
    return m_table.Columns()[column].align == ColumnAlign::Right ? Qt::AlignRight : Qt::AlignLeft;
}

// ---------------------------------------------------------------------------
// Buttons

bool CDirectoryTableModel::CanAddRow() const { return !IsReadOnly(); }
bool CDirectoryTableModel::CanDeleteRow() const { return !IsReadOnly() && m_table.RowCount() > 0; }
bool CDirectoryTableModel::CanClear() const { return m_table.RowCount() > 0; }
bool CDirectoryTableModel::CanImport() const { return !IsReadOnly(); }
bool CDirectoryTableModel::CanSave() const { return !IsReadOnly(); }

// ---------------------------------------------------------------------------
// State

void CDirectoryTableModel::SetModified(bool modified) {
    const bool changed = m_table.modified != modified;
    m_table.modified = modified;
    if (changed) emit modifiedChanged(modified);
}

void CDirectoryTableModel::RefreshCounts() {
    m_rowCount = m_table.RowCount();
    emit buttonsChanged();
}

bool CDirectoryTableModel::IsNumbered() const { return IsNumberedKind(m_table.Kind()); }

// ---------------------------------------------------------------------------
// Commands

int CDirectoryTableModel::AddRow() {
    if (IsReadOnly()) return -1;
    const int row = m_table.RowCount();
    QStringList cells;
    bool noFreeId = false;
    if (IsNumbered()) {
        // The next number after the highest ID. There is none above the 32-bit
        // limit: the terminal reads no larger ID, and handing out the limit
        // again would make duplicates.
        if (m_table.highestId < INT_MAX) {
            ++m_table.highestId;
            cells << QString::number(m_table.highestId);
        } else {
            cells << QString();
            noFreeId = true;
        }
    }
    if (m_table.Kind() == Operations) {
        while (cells.size() < 3) cells << QString();
        cells << QStringLiteral("1");  // "Множитель"
    }
    beginInsertRows(QModelIndex(), row, row);
    m_table.AppendRow(cells);
    endInsertRows();
    SetModified(true);
    m_selectedRow = row;
    RefreshCounts();
    emit rowSelected(row);
    if (noFreeId)
        Prompt().Message(T(DirectoryEditorText::kNoFreeId), T(DirectoryEditorText::kCaption),
                         PromptIcon::Warning, PromptButtons::Ok);
    return row;
}

CDirectoryTableModel::DeleteResult CDirectoryTableModel::DeleteSelectedRow() {
    if (IsReadOnly()) return DeleteResult::Ignored;
    const int answer = Prompt().Message(T(DirectoryEditorText::kAskDeleteRow),
                                        T(DirectoryEditorText::kCaption), PromptIcon::Question,
                                        PromptButtons::YesNo);
    if (answer != AnswerYes) return DeleteResult::Declined;
    if (m_selectedRow == -1) return DeleteResult::Ignored;
    if (m_selectedRow < 0 || m_selectedRow >= m_table.RowCount()) {
        Prompt().Message(T(DirectoryEditorText::kDeleteFailed), T(DirectoryEditorText::kCaption),
                         PromptIcon::Error, PromptButtons::Ok);
        return DeleteResult::Failed;
    }
    beginRemoveRows(QModelIndex(), m_selectedRow, m_selectedRow);
    m_table.RemoveRow(m_selectedRow);
    endRemoveRows();
    SetModified(true);
    RefreshCounts();
    if (m_selectedRow < m_table.RowCount()) emit rowSelected(m_selectedRow);
    return DeleteResult::Deleted;
}

bool CDirectoryTableModel::Clear() {
    if (IsReadOnly()) {
        const int answer = Prompt().Message(T(DirectoryEditorText::kAskDeleteJournal),
                                            T(DirectoryEditorText::kAskDeleteJournalCaption),
                                            PromptIcon::Warning, PromptButtons::YesNoDefaultNo);
        if (answer != AnswerYes) return false;
        // A journal that stays on disk must not look deleted.
        if (!m_path.isEmpty() && QFileInfo::exists(m_path) && !QFile::remove(m_path)) {
            Prompt().Message(T(DirectoryEditorText::kJournalNotDeleted),
                             T(DirectoryEditorText::kCaption), PromptIcon::Error,
                             PromptButtons::Ok);
            return false;
        }
        beginResetModel();
        m_table.ClearRows();
        endResetModel();
        RefreshCounts();
        return true;
    }
    const int answer = Prompt().Message(T(DirectoryEditorText::kAskClear),
                                        T(DirectoryEditorText::kCaption), PromptIcon::Question,
                                        PromptButtons::YesNo);
    if (answer != AnswerYes) return false;
    beginResetModel();
    m_table.ClearRows();
    m_table.highestId = 0;
    m_selectedRow = -1;
    m_editRow = m_editColumn = -1;
    endResetModel();
    SetModified(true);
    RefreshCounts();
    return true;
}

bool CDirectoryTableModel::ImportCsvFile() {
    if (IsReadOnly()) return false;
    FileDialogRequest request;
    request.filter = T(DirectoryEditorText::kCsvFilter);
    request.defaultExt = T(DirectoryEditorText::kCsvDefaultExt);
    request.overwritePrompt = false;
    const QString path = Prompt().OpenFileName(request);
    if (path.isEmpty()) return false;
    return ImportCsvFrom(path);
}

bool CDirectoryTableModel::ImportCsvFrom(const QString& path) {
    if (IsReadOnly()) return false;
    const bool wasModified = m_table.modified;
    const int selectedBefore = m_selectedRow;
    beginResetModel();
    m_editRow = m_editColumn = -1;
    const bool imported = ImportCsv(m_table, path);
    m_selectedRow = imported ? -1 : selectedBefore;  // a failed import changed nothing
    endResetModel();
    if (m_table.modified != wasModified) emit modifiedChanged(m_table.modified);
    RefreshCounts();
    return imported;
}

CDirectoryTableModel::SaveOutcome CDirectoryTableModel::SaveToFile() {
    // A file that could not be read is replaced only when the user says so,
    // and only once its bytes are safe in a copy beside it.
    if (m_damaged && QFileInfo(m_path).isFile()) {
        const QString copy = FreeBackupPath(m_path);
        const int answer = Prompt().Message(
            T(DirectoryEditorText::kAskOverwriteDamaged)
                .arg(QDir::toNativeSeparators(m_path), QDir::toNativeSeparators(copy)),
            T(DirectoryEditorText::kCaption), PromptIcon::Warning, PromptButtons::YesNoDefaultNo);
        if (answer != AnswerYes) return SaveOutcome::NotSaved;
        if (!MakeBackupCopy(m_path, copy)) {
            Prompt().Message(
                T(DirectoryEditorText::kDamagedCopyFailed).arg(QDir::toNativeSeparators(copy)),
                T(DirectoryEditorText::kCaption), PromptIcon::Error, PromptButtons::Ok);
            return SaveOutcome::NotSaved;
        }
    }
    // Another program (another instance of this one) saved the file after it
    // was read here: writing now would throw that save away without a word.
    if (!m_damaged && FileChangedByOther()) {
        const int answer = Prompt().Message(
            T(DirectoryEditorText::kAskOverOtherSave).arg(QDir::toNativeSeparators(m_path)),
            T(DirectoryEditorText::kCaption), PromptIcon::Warning, PromptButtons::YesNoDefaultNo);
        if (answer != AnswerYes) return SaveOutcome::NotSaved;
    }
    const bool wasModified = m_table.modified;
    FileContentState written;
    const bool saved = SaveDirectoryFile(m_table, m_path, &written);
    m_dataColumns = m_table.DataColumnCount();
    if (!saved) return SaveOutcome::Failed;
    // What this save wrote, not a read after it: another program's save
    // right after it would otherwise pass for this one.
    m_fileState = written;
    m_damaged = false;  // the file now holds this table
    m_table.modified = wasModified;  // so that SetModified tells the window
    SetModified(false);
    return SaveOutcome::Saved;
}

bool CDirectoryTableModel::Save() {
    if (IsReadOnly()) return false;
    const SaveOutcome outcome = SaveToFile();
    if (outcome == SaveOutcome::Saved)
        Prompt().Message(T(DirectoryEditorText::kSaved), T(DirectoryEditorText::kCaption),
                         PromptIcon::Information, PromptButtons::Ok);
    else if (outcome == SaveOutcome::Failed)
        Prompt().Message(T(DirectoryEditorText::kSaveFailed), T(DirectoryEditorText::kCaption),
                         PromptIcon::Warning, PromptButtons::Ok);
    RefreshCounts();
    return outcome == SaveOutcome::Saved;
}

bool CDirectoryTableModel::RequestClose() {
    if (!m_table.modified || IsReadOnly()) return true;
    // Three answers: only "Нет" throws the edits away; "Отмена" (and Escape)
    // goes back to them.
    const int answer = Prompt().Message(T(DirectoryEditorText::kAskSaveOnClose),
                                        T(DirectoryEditorText::kCaption), PromptIcon::Question,
                                        PromptButtons::YesNoCancel);
    if (answer == AnswerNo) return true;
    if (answer != AnswerYes) return false;
    const SaveOutcome outcome = SaveToFile();
    m_rowCount = m_table.RowCount();
    if (outcome == SaveOutcome::Failed)
        Prompt().Message(T(DirectoryEditorText::kCloseSaveFailed), T(DirectoryEditorText::kCaption),
                         PromptIcon::Error, PromptButtons::Ok);
    // Declined over a damaged file: the edits stay open rather than vanish.
    return outcome == SaveOutcome::Saved;
}

bool CDirectoryTableModel::FileChangedByOther() const {
    // A file removed meanwhile loses nothing when this table is written.
    const FileContentState now = ReadFileContentState(m_path);
    return now.exists && !now.SameContent(m_fileState);
}

// ---------------------------------------------------------------------------
// In-place editing

CDirectoryTableModel::CellEditor CDirectoryTableModel::BeginEdit(int row, int column) {
    CellEditor editor;
    if (IsReadOnly() || row < 0 || row >= m_table.RowCount() || column < 1 ||
        column >= m_table.ColumnCount())
        return editor;
    m_selectedRow = row;
    m_editRow = row;
    m_editColumn = column;
    editor.row = row;
    editor.column = column;
    editor.text = m_table.Cell(row, column);
    if (m_table.Kind() == Operations && column == 2) {
        editor.type = EditorType::TypeList;
        if (IOperationTypeNames* names = m_table.OperationTypeNames())
            editor.choices = names->GetOperationTypeNameList();
        editor.currentChoice = editor.choices.isEmpty() ? -1 : 0;
        for (int i = 0; i < editor.choices.size(); ++i)
            if (editor.choices[i] == editor.text) editor.currentChoice = i;
    } else {
        editor.type = EditorType::Edit;
        editor.alignment =
            IsNumericColumn(m_table.Kind(), column) ? Qt::AlignRight : Qt::AlignLeft;
    }
    return editor;
}

CDirectoryTableModel::CellEditor CDirectoryTableModel::CommitCell(const QString& text, bool commit,
                                                                  bool advance) {
    const int row = m_editRow;
    const int column = m_editColumn;
    if (IsReadOnly() || row < 0 || row >= m_table.RowCount() || column < 1 ||
        column >= m_table.ColumnCount())
        return CellEditor();
    if (commit) {
        CellTextNotes notes;
        m_table.SetCell(row, column, text, &notes);
        const QModelIndex cell = index(row, column);
        emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::EditRole});
        SetModified(true);
        if (IsNumbered() && column == 1) {
            // The ID as the cell holds it (a text too long is kept shortened).
            const int id = LeadingInteger(m_table.Cell(row, column));
            if (id > m_table.highestId) m_table.highestId = id;
        }
        ShowCellTextNotes(notes);
    }
    if (!advance) return CellEditor();
    if (column < m_table.ColumnCount() - 1) return BeginEdit(row, column + 1);
    if (row < m_table.RowCount() - 1) return BeginEdit(row + 1, 1);
    return CellEditor();  // the last cell: nothing more opens
}

CDirectoryTableModel::CellEditor CDirectoryTableModel::CommitCellAndGoBack(const QString& text, bool commit) {
    const int row = m_editRow;
    const int column = m_editColumn;
    CommitCell(text, commit, false);
    if (IsReadOnly() || row < 0 || row >= m_table.RowCount() || column < 1 || column >= m_table.ColumnCount())
        return CellEditor();
    if (column > 1) return BeginEdit(row, column - 1);
    if (row > 0) return BeginEdit(row - 1, m_table.ColumnCount() - 1);
    return CellEditor();  // the first cell: nothing before it
}
