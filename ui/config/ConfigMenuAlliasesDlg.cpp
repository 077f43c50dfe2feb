#include "ui/config/ConfigMenuAlliasesDlg.h"

#include "ui/config/ConfigDialogParts.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CConfigMenuAlliasesDlg::CConfigMenuAlliasesDlg(CConfigModel& model, const QFont& font, QWidget* parent)
    : QDialog(parent), m_aliases(model) {
    setObjectName(QStringLiteral("CConfigMenuAlliasesDlg"));
    setWindowTitle(QStringLiteral("Редактирование"));
    setFont(font);
    const CDialogUnits du(font);
    m_aliases.Load();

    auto* form = new QFormLayout;
    for (int i = 0; i < CMenuAliases::kCount; ++i) {
        auto* box = new QLineEdit(m_aliases.names[i], this);
        box->setObjectName(QStringLiteral("point%1").arg(i + 1));
        box->setMinimumWidth(du.X(120));
        box->installEventFilter(this);
        form->addRow(CMenuAliases::Label(i), box);
        m_boxes[i] = box;
    }

    QPushButton* yes = nullptr;
    QHBoxLayout* buttons = YesCancelButtons(this, du, &yes);
    connect(yes, &QPushButton::clicked, this, &CConfigMenuAlliasesDlg::OnYes);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    layout->addLayout(form);
    layout->addLayout(buttons);
}

bool CConfigMenuAlliasesDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        // After the focus change has been handled: the click that gave the
        // focus would otherwise place the cursor over the selection.
        auto* box = static_cast<QLineEdit*>(watched);
        QMetaObject::invokeMethod(box, &QLineEdit::selectAll, Qt::QueuedConnection);
    }
    return QDialog::eventFilter(watched, event);
}

void CConfigMenuAlliasesDlg::OnYes() {
    for (int i = 0; i < CMenuAliases::kCount; ++i) m_aliases.names[i] = m_boxes[i]->text();
    m_aliases.Apply();
    accept();
}
