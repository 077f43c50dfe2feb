#include "ui/config/KXConfigDlg.h"

#include "config/ConfigModel.h"
#include "directories/DirectoryFiles.h"
#include "platform/Prompt.h"
#include "ui/common/AboutDlg.h"
#include "ui/common/Buttons.h"
#include "ui/common/Glyphs.h"
#include "ui/common/WaitCursor.h"
#include "ui/config/ConfigDialogParts.h"
#include "ui/config/ConfigMenuDlg.h"
#include "ui/config/ParamEditorPlacement.h"
#include "ui/config/StdInputDlg.h"
#include "ui/config/UpDownButon4Tree.h"
#include "ui/editors/DoubleBufferListCtrl.h"
#include "ui/editors/DoubleBufferTreeCtrl.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kCaptionAttention = QStringLiteral("Внимание!");
const QString kCaptionError = QStringLiteral("Ошибка!");

// The caption and help boxes as the model sees them.
class CEditTextBox : public ITextBox {
public:
    explicit CEditTextBox(QPlainTextEdit* edit) : m_edit(edit) {}
    void SetText(const QString& text) override { m_edit->setPlainText(text); }

private:
    QPlainTextEdit* m_edit;
};

QPlainTextEdit* ReadOnlyBox(const char* name, bool scrollBar, QWidget* parent) {
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(true);
    box->setVerticalScrollBarPolicy(scrollBar ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return box;
}

// A titled pane of the window (`title` over a frame): what it holds stands one
// under the other.
QVBoxLayout* Pane(const QString& title, const CDialogUnits& du, QGroupBox** pane, QWidget* parent) {
    *pane = new QGroupBox(title, parent);
    auto* column = new QVBoxLayout(*pane);
    column->setContentsMargins(du.X(3), du.Y(3), du.X(3), du.Y(5));
    column->setSpacing(du.Y(6));
    return column;
}

}  // namespace

CKXConfigDlg::CKXConfigDlg(CConfigModel& model, const QFont& font, QWidget* parent)
    : QDialog(parent), m_model(model), m_font(ConfiguratorFont(font)) {
    setObjectName(QStringLiteral("CKXConfigDlg"));
    setWindowTitle(QStringLiteral("KXConfig конфигуратор"));
    setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
    setSizeGripEnabled(true);
    BuildControls();
}

CKXConfigDlg::~CKXConfigDlg() {
    // An editor still open goes first, while the models it reports to exist.
    delete m_editor.data();
}

// ------------------------------------------------------------------ layout

void CKXConfigDlg::BuildControls() {
    const CDialogUnits du(m_font);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(du.X(1), du.Y(2), du.X(2), 0);
    outer->setSpacing(du.Y(2));

    auto* bar = new QMenuBar(this);
    bar->setObjectName(QStringLiteral("menuBar"));
    BuildMenu(bar);
    outer->setMenuBar(bar);

    // The window menu's about item; Qt has no system menu, so it is the
    // window's context menu.
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    auto* about = new QAction(QStringLiteral("&О KXConfig..."), this);
    about->setObjectName(QStringLiteral("id16"));
    connect(about, &QAction::triggered, this, &CKXConfigDlg::OnAbout);
    addAction(separator);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    // ---- "Типы операций": the tree, the page caption, the five small buttons
    QGroupBox* types = nullptr;
    auto* left = Pane(QStringLiteral("Типы операций"), du, &types, this);
    m_treeView = new CDoubleBufferTreeCtrl(types);
    m_treeView->setObjectName(QStringLiteral("id1002"));
    m_treeView->setFont(m_font);
    m_treeView->setModel(m_tree.Model());
    QItemSelectionModel* own = m_treeView->selectionModel();
    m_treeView->setSelectionModel(m_tree.Selection());
    delete own;
    m_tree.onFocusRequest = [this] { m_treeView->setFocus(Qt::OtherFocusReason); };
    connect(m_tree.Selection(), &QItemSelectionModel::currentChanged, this, &CKXConfigDlg::PostShowSelectedPage);
    left->addWidget(m_treeView, 1);

    m_caption = ReadOnlyBox("id1000", false, types);
    m_caption->setFont(m_font);
    m_caption->setFixedHeight(du.Y(66));
    left->addWidget(m_caption);

    const QColor ink = palette().color(QPalette::ButtonText);
    struct SmallButton {
        const char* id;
        const char* text;
        Glyph glyph;
        void (CKXConfigDlg::*handler)();
        bool upDown;
    };
    const SmallButton small[] = {
        {"id1004", "+", Glyph::Plus, &CKXConfigDlg::OnAddOperationType, false},
        {"id1005", " []()", Glyph::Copy, &CKXConfigDlg::OnCopyOperationType, false},
        {"id1008", "-", Glyph::Minus, &CKXConfigDlg::OnDeleteOperationType, false},
        {"id1006", "вверх", Glyph::Up, &CKXConfigDlg::OnMoveUp, true},
        {"id1009", "вниз", Glyph::Down, &CKXConfigDlg::OnMoveDown, true},
    };
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(du.X(2));
    buttons->setContentsMargins(du.X(3), 0, du.X(3), 0);
    for (const SmallButton& b : small) {
        QToolButton* button = b.upDown ? new CUpDownButon4Tree(types) : new QToolButton(types);
        button->setObjectName(QLatin1String(b.id));
        button->setIcon(GlyphIcon(b.glyph, ink));
        button->setToolTip(QString::fromUtf8(b.text));
        button->setAccessibleName(QString::fromUtf8(b.text));
        button->setFixedSize(du.Size(21, 17));
        button->setIconSize(QSize(qMin(du.X(12), du.Y(12)), qMin(du.X(12), du.Y(12))));
        connect(button, &QToolButton::clicked, this, b.handler);
        if (b.upDown && buttons->count() == 3) buttons->addSpacing(du.X(8));
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    left->addLayout(buttons);

    // ---- "Параметры": the list, the help text, the page defaults
    QGroupBox* params = nullptr;
    auto* right = Pane(QStringLiteral("Параметры"), du, &params, this);
    m_listView = new CDoubleBufferListCtrl(params);
    m_listView->setObjectName(QStringLiteral("id1003"));
    m_listView->setFont(m_font);
    m_list.setColumnCount(2);
    m_list.setHorizontalHeaderLabels({QStringLiteral("Параметр"), QStringLiteral("Значение")});
    m_listView->setModel(&m_list);
    m_listView->header()->resizeSection(0, 280);
    m_listView->header()->resizeSection(1, 261);
    connect(m_listView, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) PostEditRow(index.row());
    });
    connect(m_listView, &CDoubleBufferListCtrl::editRequested, this, &CKXConfigDlg::PostEditRow);
    right->addWidget(m_listView, 1);

    m_help = ReadOnlyBox("id1001", true, params);
    m_help->setFont(m_font);
    m_help->setFixedHeight(du.Y(66));
    right->addWidget(m_help);

    QPushButton* defaults = MakeButton(params, QStringLiteral("Установки по умолчанию"), QStringLiteral("id1007"));
    defaults->setFixedHeight(du.Y(17));
    defaults->setMinimumWidth(du.X(97));
    connect(defaults, &QPushButton::clicked, this, &CKXConfigDlg::OnLoadPageDefaults);
    auto* defaultsRow = new QHBoxLayout;
    defaultsRow->setContentsMargins(du.X(3), 0, 0, 0);
    defaultsRow->addWidget(defaults);
    defaultsRow->addStretch(1);
    right->addLayout(defaultsRow);

    auto* halves = new QHBoxLayout;
    halves->setSpacing(du.X(3));
    halves->addWidget(types, 156);
    halves->addWidget(params, 369);
    // Small enough for a small screen at twice the scale; the list scrolls.
    types->setMinimumWidth(du.X(120));
    params->setMinimumWidth(du.X(140));
    outer->addLayout(halves, 1);

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("statusBar"));
    status->setSizeGripEnabled(false);
    auto* ready = new QLabel(QStringLiteral(" Готово"), status);
    ready->setObjectName(QStringLiteral("statusText"));
    status->addWidget(ready, 1);
    outer->addWidget(status);

    setTabOrder(m_treeView, m_listView);
    resize(du.X(531), du.Y(352) + bar->sizeHint().height() + status->sizeHint().height());
}

void CKXConfigDlg::BuildMenu(QMenuBar* bar) {
    auto action = [this](QMenu* menu, const char* id, const QString& text, void (CKXConfigDlg::*handler)()) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QLatin1String(id));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    QMenu* file = bar->addMenu(QStringLiteral("Файл"));
    file->setObjectName(QStringLiteral("fileMenu"));
    action(file, "id32786", QStringLiteral("Сохранить"), &CKXConfigDlg::OnSave)->setShortcut(QKeySequence::Save);
    action(file, "id32787", QStringLiteral("Сохранить как"), &CKXConfigDlg::OnSaveAs);
    file->addSeparator();
    action(file, "id32789", QStringLiteral("Закрыть"), &CKXConfigDlg::Leave);

    QAction* menu = bar->addAction(QStringLiteral("Меню терминала"));
    menu->setObjectName(QStringLiteral("id32771"));
    connect(menu, &QAction::triggered, this, &CKXConfigDlg::OnTerminalMenu);

    QMenu* help = bar->addMenu(QStringLiteral("Помощь"));
    help->setObjectName(QStringLiteral("helpMenu"));
    action(help, "id32791", QStringLiteral("О конфигураторе"), &CKXConfigDlg::OnAbout);
}

// ------------------------------------------------------- opening, leaving

bool CKXConfigDlg::Initialise() {
    if (m_initialised) return m_opened;
    m_initialised = true;
    if (!m_model.IsLibraryLoaded()) {
        Prompt().Error(QStringLiteral("SQLite: Неудачная инициализация библиотеки!\n\nПриложение будет закрыто!"),
                       kCaptionError);
        setResult(kResultNoLibrary);
        return false;
    }
    m_treeView->SetSelectionColouring(true);
    m_model.RebuildParamTree(m_tree);
    setWindowTitle(QStringLiteral("%1 - KXConfig конфигуратор").arg(m_model.ProjectPath()));
    QString operations;
    DirectoryPath(Operations, &operations);
    m_model.MakeTableComboSourceOperations(operations);
    m_opened = true;
    return true;
}

int CKXConfigDlg::exec() {
    if (!Initialise()) return kResultNoLibrary;
    return QDialog::exec();
}

void CKXConfigDlg::open() {
    if (!Initialise()) {
        QMetaObject::invokeMethod(this, [this] { done(kResultNoLibrary); }, Qt::QueuedConnection);
        return;
    }
    QDialog::open();
}

void CKXConfigDlg::showEvent(QShowEvent* event) {
    // A plain show() opens the window too.
    if (!m_initialised && !Initialise())
        QMetaObject::invokeMethod(this, [this] { done(kResultNoLibrary); }, Qt::QueuedConnection);
    QDialog::showEvent(event);
}

void CKXConfigDlg::reject() { Leave(); }

void CKXConfigDlg::closeEvent(QCloseEvent* event) {
    // The close box asks first; Leave() ends the window itself when it may.
    event->ignore();
    Leave();
}

void CKXConfigDlg::Leave() {
    FinishParamEdit();
    if (Prompt().Message(QStringLiteral("Вы уверены, что хотите выйти из настройки конфигурации?"), kCaptionAttention,
                         PromptIcon::Question, PromptButtons::YesNo) != AnswerYes)
        return;
    if (m_model.IsConfigurationOpen() && m_model.IsModified()) {
        // Only "Нет" leaves the changes unsaved; "Отмена" (and Escape) stays.
        const int answer =
            Prompt().Message(QStringLiteral("В конфигурации были сделаны изменения. Сохранить их?"),
                             kCaptionAttention, PromptIcon::Warning, PromptButtons::YesNoCancel);
        if (answer == AnswerYes) {
            CWaitCursor wait;
            // A failed save has shown why; the window stays so nothing is lost.
            if (!m_model.SaveConfiguration()) return;
        } else if (answer != AnswerNo) {
            return;
        }
    }
    done(kResultClosed);
}

// ------------------------------------------------------ pages and editors

void CKXConfigDlg::PostShowSelectedPage() {
    if (m_showPending) return;  // one refresh for a burst of selection changes
    m_showPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_showPending = false;
            ShowSelectedPage();
        },
        Qt::QueuedConnection);
}

void CKXConfigDlg::ShowSelectedPage() {
    FinishParamEdit();
    const QStandardItem* item = m_tree.SelectedItem();
    CEditTextBox caption(m_caption);
    m_model.ShowNodeCaption(caption, item);
    m_model.ShowParamList(m_list, item);
    m_help->clear();
}

void CKXConfigDlg::PostEditRow(int row) {
    QMetaObject::invokeMethod(this, [this, row] { EditRow(row); }, Qt::QueuedConnection);
}

void CKXConfigDlg::EditRow(int row) {
    FinishParamEdit();
    if (row < 0 || row >= m_list.rowCount()) return;
    CEditTextBox help(m_help);
    ParamEditRequest request;
    if (!m_model.BeginParamEdit(m_tree, m_list, row, m_tree.SelectedItem(), &help, &request)) return;
    ParamEditorHooks hooks;
    hooks.commit = [this](const QString& text) { return m_model.CommitParamValue(text); };
    hooks.choosePath = [this, request] { return ChoosePath(request); };
    m_editor = OpenParamEditor(*m_listView, request, m_font, hooks);
}

void CKXConfigDlg::FinishParamEdit() {
    if (!m_editor) return;
    QWidget* editor = m_editor;
    m_editor = nullptr;
    // Taking the focus away stores a changed text, exactly as a click elsewhere.
    if (editor->hasFocus()) m_listView->setFocus(Qt::OtherFocusReason);
    editor->hide();
    editor->deleteLater();
}

QString CKXConfigDlg::ChoosePath(const ParamEditRequest& request) {
    FileDialogRequest dialog;
    dialog.title = request.name;
    // The stored value is usually a path on the terminal; offer it only when
    // it also names something here.
    if (QFileInfo::exists(request.value)) dialog.initialName = request.value;
    const QString chosen = Prompt().OpenFileName(dialog);
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen);
}

// ------------------------------------------------------------ the buttons

bool CKXConfigDlg::AskName(const QString& title, const QString& prompt, QString* name) {
    return CStdInputDlg::Ask(this, m_font, title, prompt, name);
}

void CKXConfigDlg::OnAddOperationType() {
    FinishParamEdit();
    m_model.OnAddOperationType(m_tree, [this](const QString& title, const QString& prompt, QString* name) {
        return AskName(title, prompt, name);
    });
}

void CKXConfigDlg::OnCopyOperationType() {
    FinishParamEdit();
    m_model.OnCopyOperationType(m_tree, [this](const QString& title, const QString& prompt, QString* name) {
        return AskName(title, prompt, name);
    });
}

void CKXConfigDlg::OnDeleteOperationType() {
    FinishParamEdit();
    m_model.OnDeleteOperationType(m_tree);
}

void CKXConfigDlg::OnMoveUp() {
    FinishParamEdit();
    m_model.OnMoveOperationTypeUp(m_tree);
}

void CKXConfigDlg::OnMoveDown() {
    FinishParamEdit();
    m_model.OnMoveOperationTypeDown(m_tree);
}

void CKXConfigDlg::OnLoadPageDefaults() {
    FinishParamEdit();
    if (m_model.OnLoadPageDefaults(m_tree)) PostShowSelectedPage();
}

// --------------------------------------------------------------- the menu

void CKXConfigDlg::OnSave() {
    FinishParamEdit();
    CWaitCursor wait;
    // A project file that went away is saved under a new name ("Сохранить
    // как", after the model's question): the title then names the new file.
    QString title;
    if (m_model.SaveConfiguration(&title) && !title.isEmpty()) setWindowTitle(title);
}

void CKXConfigDlg::OnSaveAs() {
    FinishParamEdit();
    QString title;
    if (m_model.OnSaveAsProject(&title)) setWindowTitle(title);
}

void CKXConfigDlg::OnTerminalMenu() {
    FinishParamEdit();
    if (!m_model.IsConfigurationOpen()) {
        Prompt().Warning(QStringLiteral("Не открыта конфигурация!"), kCaptionError);
        return;
    }
    CConfigMenuDlg editor(m_model, m_font, this);
    editor.exec();
}

void CKXConfigDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}
