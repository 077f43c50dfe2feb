#include "ui/config/ConfigMenuDlg.h"

#include "platform/Prompt.h"
#include "ui/common/Buttons.h"
#include "ui/common/Glyphs.h"
#include "ui/config/ConfigMenuAlliasesDlg.h"
#include "ui/config/ConfigDialogParts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QListView* MenuList(const char* name, QStandardItemModel* model, QItemSelectionModel* selection, const QFont& font,
                    QWidget* parent) {
    auto* view = new QListView(parent);
    view->setObjectName(QLatin1String(name));
    view->setFont(font);
    view->setModel(model);
    QItemSelectionModel* own = view->selectionModel();
    view->setSelectionModel(selection);
    delete own;
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    return view;
}

}  // namespace

CConfigMenuDlg::CConfigMenuDlg(CConfigModel& model, const QFont& font, QWidget* parent)
    : QDialog(parent), m_model(model), m_font(font), m_editor(model) {
    setObjectName(QStringLiteral("CConfigMenuDlg"));
    setWindowTitle(QStringLiteral("Настройка меню терминала"));
    const CDialogUnits du(font);

    m_availableView =
        MenuList("availableList", m_editor.Available(), m_editor.AvailableSelection(), font, this);
    m_menuView = MenuList("menuList", m_editor.Menu(), m_editor.MenuSelection(), font, this);
    for (QListView* view : {m_availableView, m_menuView}) view->setMinimumSize(du.Size(110, 120));

    const QColor ink = palette().color(QPalette::ButtonText);
    auto arrow = [&](const char* name, Glyph glyph, const QString& tip, void (CMenuEditor::*move)()) {
        auto* button = new QToolButton(this);
        button->setObjectName(QLatin1String(name));
        button->setIcon(GlyphIcon(glyph, ink));
        button->setToolTip(tip);
        button->setAccessibleName(tip);
        button->setFixedSize(du.Size(24, 14));
        connect(button, &QToolButton::clicked, this, [this, move] { (m_editor.*move)(); });
        return button;
    };
    auto* moves = new QVBoxLayout;
    moves->addStretch(1);
    moves->addWidget(arrow("addSelected", Glyph::Right, QStringLiteral(">"), &CMenuEditor::AddSelected));
    moves->addWidget(arrow("addAll", Glyph::DoubleRight, QStringLiteral(">>"), &CMenuEditor::AddAll));
    moves->addSpacing(du.Y(8));
    moves->addWidget(arrow("removeSelected", Glyph::Left, QStringLiteral("<"), &CMenuEditor::RemoveSelected));
    moves->addWidget(arrow("removeAll", Glyph::DoubleLeft, QStringLiteral("<<"), &CMenuEditor::RemoveAll));
    moves->addStretch(1);

    auto* order = new QHBoxLayout;
    order->addStretch(1);
    order->addWidget(arrow("moveUp", Glyph::Up, QStringLiteral("вверх"), &CMenuEditor::MoveUp));
    order->addWidget(arrow("moveDown", Glyph::Down, QStringLiteral("вниз"), &CMenuEditor::MoveDown));
    order->addStretch(1);

    QPushButton* rename = MakeButton(this, QStringLiteral("Редакт."), QStringLiteral("rename"));
    QPushButton* save = MakeButton(this, QStringLiteral("Сохранить"), QStringLiteral("id1"));
    QPushButton* cancel = MakeButton(this, QStringLiteral("Отмена"), QStringLiteral("id2"));
    for (QPushButton* button : {rename, save, cancel}) button->setMinimumSize(du.Size(50, 14));
    connect(rename, &QPushButton::clicked, this, &CConfigMenuDlg::OnRename);
    connect(save, &QPushButton::clicked, this, &CConfigMenuDlg::OnSave);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    grid->setHorizontalSpacing(du.X(6));
    grid->setVerticalSpacing(du.Y(3));
    grid->addWidget(new QLabel(QStringLiteral("Доступные пункты:"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Меню терминала:"), this), 0, 2);
    grid->addWidget(m_availableView, 1, 0);
    grid->addLayout(moves, 1, 1);
    grid->addWidget(m_menuView, 1, 2);
    grid->addLayout(order, 2, 2);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(rename);
    bottom->addStretch(1);
    bottom->addWidget(save);
    bottom->addWidget(cancel);
    grid->addLayout(bottom, 3, 0, 1, 3);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);

    m_editor.Load();
}

void CConfigMenuDlg::OnRename() {
    m_editor.Rename([this] {
        CConfigMenuAlliasesDlg names(m_model, m_font, this);
        return names.exec() == QDialog::Accepted;
    });
}

void CConfigMenuDlg::OnSave() {
    // A failed write has shown its error and left the menu table as it was:
    // the window stays with the user's entries, so nothing is lost.
    if (!m_editor.SaveAndClose()) {
        Prompt().Warning(QStringLiteral("Меню терминала не сохранено!\nПункты остались в окне: нажмите "
                                        "\"Сохранить\" еще раз или \"Отмена\", чтобы закрыть окно без "
                                        "сохранения."),
                         QStringLiteral("Ошибка!"));
        return;
    }
    accept();
}
