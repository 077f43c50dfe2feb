#include "ui/directories/EditDirGridDlg.h"

#include "ui/common/Buttons.h"
#include "ui/common/DialogUnits.h"
#include "ui/common/Glyphs.h"
#include "ui/common/WaitCursor.h"
#include "ui/editors/KxLoaderListChildCombo.h"
#include "ui/editors/KxLoaderListChildEdit.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QPushButton* GlyphButton(QWidget* parent, Glyph glyph, const QColor& colour, const QString& id, const QString& tip) {
    QPushButton* button = MakeButton(parent, QString(), id);
    button->setIcon(GlyphIcon(glyph, colour));
    button->setToolTip(tip);
    return button;
}

const QColor kAddColour(0x2e, 0x7d, 0x32);
const QColor kRemoveColour(0xc6, 0x28, 0x28);

}  // namespace

CEditDirGridDlg::CEditDirGridDlg(IOperationTypeNames* names, const QFont& font, QWidget* parent)
    : QDialog(parent), m_model(names) {
    setObjectName(QStringLiteral("CEditDirGridDlg"));
    setSizeGripEnabled(true);

    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("id1003"));
    m_view->setModel(&m_model);
    m_view->setFont(font);
    m_view->setShowGrid(true);
    m_view->setWordWrap(false);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    // The window opens its own editors on a single click.
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    // Fixed row heights: the view never asks a million rows for their size.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // The last column takes whatever width the window gives the table.
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->horizontalHeader()->setHighlightSections(false);
    // F2 and Enter open the current cell's editor.
    m_view->installEventFilter(this);
    // Tab on the grid goes on to the buttons; between the cells it moves
    // only from an open editor.
    m_view->setTabKeyNavigation(false);

    m_add = GlyphButton(this, Glyph::Plus, kAddColour, QStringLiteral("id1004"), QStringLiteral("Добавить строку"));
    m_deleteRow =
        GlyphButton(this, Glyph::Minus, kRemoveColour, QStringLiteral("id1008"), QStringLiteral("Удалить строку"));
    m_clear = GlyphButton(this, Glyph::Clear, kRemoveColour, QStringLiteral("id1010"), QStringLiteral("Очистить"));
    QPushButton* clearOld = MakeButton(this, QStringLiteral("Очистить..."), QStringLiteral("id1006"));
    clearOld->setEnabled(false);
    clearOld->hide();
    QPushButton* excel = MakeButton(this, QStringLiteral("Импорт Excel"), QStringLiteral("id1005"));
    excel->hide();
    m_import = MakeButton(this, QStringLiteral("Импорт csv..."), QStringLiteral("id1002"));
    m_save = MakeButton(this, QStringLiteral("Сохранить"), QStringLiteral("id1"));
    QPushButton* close = MakeButton(this, QStringLiteral("Закрыть"), QStringLiteral("id2"));

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_add, m_deleteRow, m_clear, clearOld, excel}) buttons->addWidget(b);
    buttons->addStretch(1);
    for (QPushButton* b : {m_import, m_save, close}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);
    resize(CDialogUnits(font).Size(522, 255));

    connect(m_add, &QPushButton::clicked, this, &CEditDirGridDlg::AddRow);
    connect(m_deleteRow, &QPushButton::clicked, this, [this] {
        // Only a row the user chose goes; the focus frame alone chooses none.
        if (SelectedViewRow() < 0) return;
        // The question comes after the list has been redrawn.
        m_view->viewport()->update();
        QTimer::singleShot(0, this, &CEditDirGridDlg::AskDeleteRow);
    });
    connect(m_clear, &QPushButton::clicked, this, [this] { m_model.Clear(); });
    AddKeys();
    connect(m_import, &QPushButton::clicked, this, [this] {
        CWaitCursor wait;
        m_model.ImportCsvFile();
    });
    connect(m_save, &QPushButton::clicked, this, [this] {
        CWaitCursor wait;
        if (m_model.Save()) m_loaded = true;
    });
    connect(close, &QPushButton::clicked, this, &CEditDirGridDlg::reject);
    connect(m_view, &QTableView::clicked, this,
            [this](const QModelIndex& index) { OpenEditor(m_model.BeginEdit(index.row(), index.column())); });
    // The selected row is the row the user selected (a click, the arrow keys,
    // an add), not merely the one with the focus frame: the view puts that
    // frame on the first row as soon as it gets the focus.
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_followView) m_model.SetSelectedRow(SelectedViewRow());
        UpdateButtons();
    });
    // The editor belongs to the current row: when the arrow keys (or
    // anything else) move the current row away, it closes, storing a change.
    connect(m_view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!m_closeOnRowChange || !m_editor) return;
                const QModelIndex cell = m_editorCell;
                if (!cell.isValid() || current.row() != cell.row()) CloseEditors();
            });
    connect(&m_model, &CDirectoryTableModel::buttonsChanged, this, &CEditDirGridDlg::UpdateButtons);
    // After an add or a delete the row is selected and the list has the focus.
    connect(&m_model, &CDirectoryTableModel::rowSelected, this, [this](int row) {
        SelectRow(row);
        m_view->setFocus(Qt::OtherFocusReason);
    });
    // The editor shows what its cell holds once it is stored (a ';' typed
    // there is stored as ','), before any message about it.
    connect(&m_model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                auto* edit = qobject_cast<CKxLoaderListChildEdit*>(m_editor.data());
                const QModelIndex cell = m_editorCell;
                if (edit && cell.isValid() && cell.row() >= topLeft.row() && cell.row() <= bottomRight.row() &&
                    cell.column() >= topLeft.column() && cell.column() <= bottomRight.column())
                    edit->ShowStored(cell.data(Qt::EditRole).toString());
            });
    // No editor outlives its row: one whose cell went with a delete, a clear
    // or an import closes without storing anything; one whose row moved
    // follows it.
    for (auto signal : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
        connect(&m_model, signal, this, &CEditDirGridDlg::FollowEditorCell);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &CEditDirGridDlg::FollowEditorCell);
    // An open editor follows its cell when the table scrolls.
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, &CEditDirGridDlg::FollowEditorCell);
    connect(m_view->horizontalScrollBar(), &QScrollBar::valueChanged, this, &CEditDirGridDlg::FollowEditorCell);
}

int CEditDirGridDlg::SelectedViewRow() const {
    const QModelIndexList rows = m_view->selectionModel()->selectedRows(1);
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CEditDirGridDlg::FollowEditorCell() {
    if (!m_editor) return;
    const QModelIndex cell = m_editorCell;
    if (!cell.isValid()) {
        DiscardEditor();
        return;
    }
    m_editor->setGeometry(m_view->visualRect(cell).adjusted(2, 0, 0, -1));
}

void CEditDirGridDlg::DiscardEditor() {
    // Every editor over the grid, not only the latest: one left behind would
    // show an old text over its cell and write it back when left.
    for (auto* edit : m_view->viewport()->findChildren<CKxLoaderListChildEdit*>()) edit->Discard();
    for (auto* combo : m_view->viewport()->findChildren<CKxLoaderListChildCombo*>()) combo->Discard();
    m_editor = nullptr;
    m_editorCell = QPersistentModelIndex();
}

void CEditDirGridDlg::CloseEditors() {
    // A change still in an editor goes to its own cell first.
    const QPointer<QWidget> latest = m_editor;
    for (auto* edit : m_view->viewport()->findChildren<CKxLoaderListChildEdit*>()) edit->CommitPending();
    for (auto* combo : m_view->viewport()->findChildren<CKxLoaderListChildCombo*>()) combo->CommitPending();
    const bool hadFocus = latest && latest->hasFocus();
    DiscardEditor();
    if (hadFocus) m_view->setFocus(Qt::OtherFocusReason);
}

void CEditDirGridDlg::AddKeys() {
    const auto key = [this](const QKeySequence& sequence, auto action) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    // Out of the grid and back: the buttons are a Tab away from there.
    for (const QKeySequence& sequence :
         {QKeySequence(Qt::Key_F6), QKeySequence(Qt::SHIFT | Qt::Key_F6), QKeySequence(Qt::CTRL | Qt::Key_Tab),
          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)})
        key(sequence, &CEditDirGridDlg::SwitchGridAndButtons);
    // Ctrl with "+" as the keyboard has it: "+" itself, "=" under it, the keypad's.
    for (const QKeySequence& sequence : {QKeySequence(Qt::Key_Insert), QKeySequence(Qt::CTRL | Qt::Key_Plus),
                                         QKeySequence(Qt::CTRL | Qt::Key_Equal),
                                         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus)})
        key(sequence, [this] { PressButton(m_add); });
    key(QKeySequence(Qt::CTRL | Qt::Key_Delete), [this] { PressButton(m_deleteRow); });
    key(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { PressButton(m_save); });
}

void CEditDirGridDlg::PressButton(QPushButton* button) {
    if (!button->isEnabled() || !button->isVisible()) return;
    // As a click on the button would: a change in the editor is stored first.
    if (button == m_save) CommitOpenEditor();
    else CloseEditors();
    button->click();
}

void CEditDirGridDlg::SwitchGridAndButtons() {
    QWidget* focus = focusWidget();
    const bool inGrid = focus && (focus == m_view || m_view->isAncestorOf(focus));
    if (!inGrid) {
        m_view->setFocus(Qt::TabFocusReason);
        return;
    }
    CloseEditors();
    for (QWidget* w = m_view->nextInFocusChain(); w && w != m_view; w = w->nextInFocusChain()) {
        if (m_view->isAncestorOf(w) || w->window() != this || !w->isVisible() || !w->isEnabled() ||
            !(w->focusPolicy() & Qt::TabFocus))
            continue;
        w->setFocus(Qt::TabFocusReason);
        return;
    }
}

bool CEditDirGridDlg::eventFilter(QObject* object, QEvent* event) {
    if (object == m_view && event->type() == QEvent::KeyPress) {
        const auto* press = static_cast<QKeyEvent*>(event);
        const int key = press->key();
        const Qt::KeyboardModifiers modifiers = press->modifiers() & ~Qt::KeypadModifier;
        if (key == Qt::Key_F2 || key == Qt::Key_Return || key == Qt::Key_Enter) {
            const QModelIndex current = m_view->currentIndex();
            if (current.isValid()) OpenEditor(m_model.BeginEdit(current.row(), qMax(1, current.column())));
            return true;
        }
        // On the grid itself (no editor open) the plain keys do it too.
        if (key == Qt::Key_Delete && modifiers == Qt::NoModifier) {
            PressButton(m_deleteRow);
            return true;
        }
        if (key == Qt::Key_Plus && (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
            PressButton(m_add);
            return true;
        }
    }
    return QDialog::eventFilter(object, event);
}

void CEditDirGridDlg::SetKind(int kind, bool journalIdOn) {
    m_kind = kind;
    m_journalIdOn = journalIdOn;
}

bool CEditDirGridDlg::RowsMatchFile() const { return m_loaded && !m_model.IsModified(); }

void CEditDirGridDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_opened) return;
    m_opened = true;
    Load();
}

void CEditDirGridDlg::Load() {
    const bool journal = m_kind == JournalView;
    setWindowTitle(journal ? QStringLiteral("Журнал (просмотр)") : DirectoryCaption(m_kind));
    bool read = false;
    {
        CWaitCursor wait;
        read = m_model.Open(m_kind, m_journalIdOn);
    }
    // A missing file is an empty directory; a damaged one was not shown.
    m_loaded = read || !QFileInfo::exists(m_model.FilePath());
    m_import->setEnabled(m_model.CanImport());
    m_save->setEnabled(m_model.CanSave());
    SizeColumns();
    UpdateButtons();
}

void CEditDirGridDlg::SizeColumns() {
    const int clientWidth = m_view->viewport()->width();
    m_view->setColumnHidden(0, true);  // the dummy column of width 0
    for (int column = 1; column < m_model.columnCount(); ++column)
        m_view->setColumnWidth(column, m_model.ColumnWidth(column, clientWidth));
}

void CEditDirGridDlg::UpdateButtons() {
    m_add->setEnabled(m_model.CanAddRow());
    m_deleteRow->setEnabled(m_model.CanDeleteRow() && SelectedViewRow() >= 0);
    m_clear->setEnabled(m_model.CanClear());
    // An import may bring columns the table did not have.
    for (int column = 1; column < m_model.columnCount(); ++column)
        if (m_view->columnWidth(column) == 0 && !m_view->isColumnHidden(column))
            m_view->setColumnWidth(column, m_model.ColumnWidth(column, m_view->viewport()->width()));
}

void CEditDirGridDlg::OpenEditor(const CDirectoryTableModel::CellEditor& editor) {
    if (editor.type == CDirectoryTableModel::EditorType::None) return;
    const int row = editor.row, column = editor.column;
    const QModelIndex cell = m_model.index(row, column);
    // One editor at a time: the one before is closed here, not left to its
    // losing the focus, which never comes while a message box holds the
    // window's activation.
    {
        const bool follow = m_closeOnRowChange;
        m_closeOnRowChange = false;
        CloseEditors();
        m_view->scrollTo(cell);
        SelectRow(row);
        m_closeOnRowChange = follow;
    }
    // What the cell holds now: closing the editor before may have stored
    // into this very cell.
    const QString stored = cell.data(Qt::EditRole).toString();
    QRect area = m_view->visualRect(cell);
    // Each editor speaks for its own cell, wherever its row has moved since.
    const QPersistentModelIndex own(cell);
    auto commit = [this, own](const QString& text, bool store, CellMove move) {
        OnCellCommit(own, text, store, move);
    };
    QWidget* widget = nullptr;
    if (editor.type == CDirectoryTableModel::EditorType::TypeList) {
        auto* combo = new CKxLoaderListChildCombo(commit, editor.choices, editor.currentChoice, m_view->viewport());
        combo->setMaxVisibleItems(qMax(1, 200 / qMax(1, m_view->verticalHeader()->defaultSectionSize())));
        area.translate(0, -3);
        area.setHeight(qMax(area.height() + 3, combo->sizeHint().height()));
        widget = combo;
    } else {
        auto* edit = new CKxLoaderListChildEdit(commit, m_view->viewport());
        edit->setText(stored);
        edit->setAlignment(editor.alignment | Qt::AlignVCenter);
        edit->selectAll();
        area.adjust(2, 0, 0, -1);
        widget = edit;
    }
    widget->setFont(m_view->font());
    widget->setGeometry(area);
    widget->show();
    widget->setFocus(Qt::OtherFocusReason);
    m_editor = widget;
    m_editorCell = own;
}

void CEditDirGridDlg::OnCellCommit(const QPersistentModelIndex& cell, const QString& text, bool commit,
                                   CellMove move) {
    if (!cell.isValid()) return;  // its row is gone
    const int row = cell.row(), column = cell.column();
    // The model stores into the cell it last opened an editor on; an editor
    // reporting late speaks for its own cell.
    if (m_model.EditingRow() != row || m_model.EditingColumn() != column) {
        if (m_model.BeginEdit(row, column).type == CDirectoryTableModel::EditorType::None) return;
    }
    if (move == CellMove::Previous) OpenEditor(m_model.CommitCellAndGoBack(text, commit));
    else if (move == CellMove::Next) OpenEditor(m_model.CommitCell(text, commit, true));
    else m_model.CommitCell(text, commit, false);
}

void CEditDirGridDlg::CommitOpenEditor() {
    if (auto* edit = qobject_cast<CKxLoaderListChildEdit*>(m_editor.data())) edit->CommitPending();
    else if (auto* combo = qobject_cast<CKxLoaderListChildCombo*>(m_editor.data())) combo->CommitPending();
}

void CEditDirGridDlg::AddRow() { m_model.AddRow(); }

void CEditDirGridDlg::AskDeleteRow() {
    // The model moves the selection itself; the view follows it, not the
    // other way round, while rows go.
    m_followView = false;
    const auto result = m_model.DeleteSelectedRow();
    m_followView = true;
    if (result == CDirectoryTableModel::DeleteResult::Declined) m_view->setFocus(Qt::OtherFocusReason);
}

void CEditDirGridDlg::SelectRow(int row) {
    const QModelIndex first = m_model.index(row, 1);
    if (!first.isValid()) return;
    const bool follow = m_followView;
    m_followView = false;
    m_view->selectionModel()->setCurrentIndex(
        first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_followView = follow;
    m_view->scrollTo(first);
}

void CEditDirGridDlg::reject() {
    // Escape leaves the focus where it is: a change still in the editor is
    // stored before the close question.
    CommitOpenEditor();
    bool close = false;
    {
        CWaitCursor wait;
        close = m_model.RequestClose();
    }
    if (close) QDialog::reject();
}
