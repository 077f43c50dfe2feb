#pragma once
// The directory editor: one reference directory of the current project (or,
// read-only, the downloaded journal) as a table with in-place editing, rows
// added, deleted and cleared, CSV import and save. The rules and the
// questions live in CDirectoryTableModel; this window puts a view, the
// in-place editors and the buttons on it. A million-row wares directory
// scrolls freely: the view never measures its rows.

#include "directories/DirectoryTableModel.h"
#include "ui/editors/CellMove.h"

#include <QDialog>
#include <QFont>
#include <QPersistentModelIndex>
#include <QPointer>

class QPushButton;
class QTableView;

class CEditDirGridDlg : public QDialog {
    Q_OBJECT
public:
    // `names` translates operation type identifiers (the open configuration).
    CEditDirGridDlg(IOperationTypeNames* names, const QFont& font, QWidget* parent = nullptr);

    // Set by the opener before the window is shown: a directory kind 0..6,
    // or JournalView with the configuration's journal ID option.
    void SetKind(int kind, bool journalIdOn = false);
    int Kind() const { return m_kind; }

    // Read by the opener afterwards: the row count and the data column
    // count N (-1 until loaded).
    int RowCount() const { return m_model.RowCountValue(); }
    int ColumnCount() const { return m_model.DataColumnCountValue(); }
    // Whether the rows shown at the end are those of the directory file:
    // nothing was left unsaved and the file was read (or saved) whole.
    bool RowsMatchFile() const;

    CDirectoryTableModel& Model() { return m_model; }
    QTableView* View() const { return m_view; }
    // The open in-place editor, if any.
    QWidget* CellEditor() const { return m_editor; }

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    void Load();
    // The keys of the buttons (Insert, Ctrl++, Ctrl+Delete, Ctrl+S) and of
    // leaving the grid (F6, Ctrl+Tab).
    void AddKeys();
    void PressButton(QPushButton* button);
    // From the grid (or its editor) to the first button, from elsewhere back.
    void SwitchGridAndButtons();
    void SizeColumns();
    void UpdateButtons();
    void OpenEditor(const CDirectoryTableModel::CellEditor& editor);
    void OnCellCommit(const QPersistentModelIndex& cell, const QString& text, bool commit, CellMove move);
    void CommitOpenEditor();
    // The editor over its cell after the table scrolled or rows came and
    // went; closed without storing when its row is gone.
    void FollowEditorCell();
    void DiscardEditor();
    // Stores what the open editors hold and closes them all; the grid takes
    // the focus when an editor had it.
    void CloseEditors();
    // The row selected in the view, -1 when none is.
    int SelectedViewRow() const;
    void AddRow();
    void AskDeleteRow();
    void SelectRow(int row);

    CDirectoryTableModel m_model;
    int m_kind = -1;
    bool m_journalIdOn = false;
    bool m_loaded = false;       // the file was read whole, or it does not exist
    bool m_opened = false;
    bool m_followView = true;    // the view's current row is the model's selected row
    bool m_closeOnRowChange = true;  // a new current row closes the open editor
    QTableView* m_view = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_deleteRow = nullptr;
    QPushButton* m_clear = nullptr;
    QPushButton* m_import = nullptr;
    QPushButton* m_save = nullptr;
    QPointer<QWidget> m_editor;
    QPersistentModelIndex m_editorCell;
};
