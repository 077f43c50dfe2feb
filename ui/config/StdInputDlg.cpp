#include "ui/config/StdInputDlg.h"

#include "ui/config/ConfigDialogParts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

CStdInputDlg::CStdInputDlg(const QString& title, const QString& prompt, const QString& text, const QFont& font,
                           QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("CStdInputDlg"));
    setWindowTitle(title);
    setFont(font);
    const CDialogUnits du(font);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("picture"));
    const int side = du.Y(20);
    picture->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(side, side));

    auto* label = new QLabel(prompt, this);
    label->setObjectName(QStringLiteral("prompt"));
    m_edit = new QLineEdit(text, this);
    m_edit->setObjectName(QStringLiteral("edit"));
    m_edit->setMinimumWidth(du.X(160));
    label->setBuddy(m_edit);

    QPushButton* yes = nullptr;
    QHBoxLayout* buttons = YesCancelButtons(this, du, &yes);
    connect(yes, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(du.X(7));
    grid->setVerticalSpacing(du.Y(4));
    grid->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    grid->addWidget(picture, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(label, 0, 1);
    grid->addWidget(m_edit, 1, 1);
    grid->addLayout(buttons, 2, 0, 1, 2);
    m_edit->setFocus();
}

QString CStdInputDlg::Text() const { return m_edit->text(); }

bool CStdInputDlg::Ask(QWidget* parent, const QFont& font, const QString& title, const QString& prompt,
                       QString* text) {
    CStdInputDlg dialog(title, prompt, QString(), font, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    if (text) *text = dialog.Text();
    return true;
}
