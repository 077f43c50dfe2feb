#include "ui/directories/EditDirGridDlg.h"

#include "ui/editors/KxLoaderListChildCombo.h"
#include "ui/editors/KxLoaderListChildEdit.h"
#include "ui/main/DialogUnits.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

enum class Glyph { Plus, Minus, Clear };

// The pictures of the three small buttons: a plus, a minus, and a minus over
// a page for clearing the whole directory.
QIcon GlyphIcon(Glyph glyph, const QColor& ink) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (glyph == Glyph::Clear) {
        p.setPen(QPen(ink, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 1.5, 11, 13));
    }
    p.setPen(QPen(glyph == Glyph::Plus ? QColor(0x2e, 0x7d, 0x32) : QColor(0xc6, 0x28, 0x28), 2.5,
                  Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 8), QPointF(12, 8));
    if (glyph == Glyph::Plus) p.drawLine(QPointF(8, 4), QPointF(8, 12));
    return QIcon(pixmap);
}

QPushButton* Button(QWidget* parent, const QString& text, const QString& id) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(id);
    button->setAutoDefault(false);
    return button;
}

QPushButton* GlyphButton(QWidget* parent, Glyph glyph, const QString& id, const QString& tip) {
    auto* button = Button(parent, QString(), id);
    button->setIcon(GlyphIcon(glyph, parent->palette().color(QPalette::WindowText)));
    button->setToolTip(tip);
    return button;
}

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
    m_view->horizontalHeader()->setStretchLastSection(false);
    m_view->horizontalHeader()->setHighlightSections(false);

    m_add = GlyphButton(this, Glyph::Plus, QStringLiteral("id1004"), QStringLiteral("Добавить строку"));
    m_deleteRow = GlyphButton(this, Glyph::Minus, QStringLiteral("id1008"), QStringLiteral("Удалить строку"));
    m_clear = GlyphButton(this, Glyph::Clear, QStringLiteral("id1010"), QStringLiteral("Очистить"));
    auto* clearOld = Button(this, QStringLiteral("Очистить..."), QStringLiteral("id1006"));
    clearOld->setEnabled(false);
    clearOld->hide();
    auto* excel = Button(this, QStringLiteral("Импорт Excel"), QStringLiteral("id1005"));
    excel->hide();
    m_import = Button(this, QStringLiteral("Импорт csv..."), QStringLiteral("id1002"));
    m_save = Button(this, QStringLiteral("Сохранить"), QStringLiteral("id1"));
    auto* close = Button(this, QStringLiteral("Закрыть"), QStringLiteral("id2"));

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_add, m_deleteRow, m_clear, clearOld, excel}) buttons->addWidget(b);
    buttons->addStretch(1);
    for (QPushButton* b : {m_import, m_save, close}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);
    resize(DialogUnits(QFontMetrics(font), 522, 255));

    connect(m_add, &QPushButton::clicked, this, &CEditDirGridDlg::AddRow);
    connect(m_deleteRow, &QPushButton::clicked, this, [this] {
        // The question comes after the list has been redrawn.
        m_view->viewport()->update();
        QTimer::singleShot(0, this, &CEditDirGridDlg::AskDeleteRow);
    });
    connect(m_clear, &QPushButton::clicked, this, [this] { m_model.Clear(); });
    connect(m_import, &QPushButton::clicked, this, [this] { m_model.ImportCsvFile(); });
    connect(m_save, &QPushButton::clicked, this, [this] {
        if (m_model.Save()) m_loaded = true;
    });
    connect(close, &QPushButton::clicked, this, &CEditDirGridDlg::reject);
    connect(m_view, &QTableView::clicked, this,
            [this](const QModelIndex& index) { OpenEditor(m_model.BeginEdit(index.row(), index.column())); });
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (m_followView && current.isValid()) m_model.SetSelectedRow(current.row());
            });
    connect(&m_model, &CDirectoryTableModel::buttonsChanged, this, &CEditDirGridDlg::UpdateButtons);
    // After an add or a delete the row is selected and the list has the focus.
    connect(&m_model, &CDirectoryTableModel::rowSelected, this, [this](int row) {
        SelectRow(row);
        m_view->setFocus(Qt::OtherFocusReason);
    });
    // An open editor follows its cell when the table scrolls.
    const auto follow = [this] {
        if (!m_editor) return;
        const QModelIndex cell = m_model.index(m_model.EditingRow(), m_model.EditingColumn());
        if (cell.isValid()) m_editor->setGeometry(m_view->visualRect(cell).adjusted(2, 0, 0, -1));
    };
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, follow);
    connect(m_view->horizontalScrollBar(), &QScrollBar::valueChanged, this, follow);
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
    const bool read = m_model.Open(m_kind, m_journalIdOn);
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
    m_deleteRow->setEnabled(m_model.CanDeleteRow());
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
    m_view->scrollTo(cell);
    SelectRow(row);
    QRect area = m_view->visualRect(cell);
    auto commit = [this, row, column](const QString& text, bool store, bool advance) {
        OnCellCommit(row, column, text, store, advance);
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
        edit->setText(editor.text);
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
}

void CEditDirGridDlg::OnCellCommit(int row, int column, const QString& text, bool commit, bool advance) {
    // The model stores into the cell it last opened an editor on; an editor
    // reporting late speaks for its own cell.
    if (m_model.EditingRow() != row || m_model.EditingColumn() != column) {
        if (m_model.BeginEdit(row, column).type == CDirectoryTableModel::EditorType::None) return;
    }
    const CDirectoryTableModel::CellEditor next = m_model.CommitCell(text, commit, advance);
    if (advance) OpenEditor(next);
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
    if (m_model.RequestClose()) QDialog::reject();
}
