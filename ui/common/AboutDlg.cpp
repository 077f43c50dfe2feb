#include "ui/common/AboutDlg.h"

#include "ui/common/FileVersionInfo.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("О KxLoader"));
    auto* layout = new QGridLayout(this);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);

    layout->addWidget(new QLabel(QStringLiteral("Версия KXLoader:"), this), 0, 1);
    auto* version = new QLabel(CFileVersionInfo().VersionText(), this);
    version->setObjectName(QStringLiteral("versionText"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(version, 1, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("id1"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons, 2, 0, 1, 2);
    // A window widened for its title gives the room to the text, not the icon.
    layout->setColumnStretch(1, 1);
    setSizeGripEnabled(false);
}

void AddAboutToWindowMenu(QWidget* window) {
    auto* separator = new QAction(window);
    separator->setSeparator(true);
    auto* about = new QAction(QStringLiteral("О KXLoader"), window);
    about->setObjectName(QStringLiteral("id16"));
    QObject::connect(about, &QAction::triggered, window, [window] {
        CAboutDlg dialog(window);
        dialog.exec();
    });
    window->addAction(separator);
    window->addAction(about);
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
}
