#include "ui/config/ConfigDialogParts.h"

#include "ui/common/Buttons.h"

#include <QDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPushButton>

QFont ConfiguratorFont(const QFont& requested) {
    if (QFontDatabase::hasFamily(requested.family())) return requested;
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (requested.pointSizeF() > 0) font.setPointSizeF(requested.pointSizeF());
    return font;
}

QHBoxLayout* YesCancelButtons(QDialog* dialog, const CDialogUnits& units, QPushButton** yes) {
    QPushButton* accept = MakeButton(dialog, QStringLiteral("Да"), QStringLiteral("id1"));
    accept->setAutoDefault(true);
    accept->setDefault(true);
    QPushButton* cancel = MakeButton(dialog, QStringLiteral("Отмена"), QStringLiteral("id2"));
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (QPushButton* button : {accept, cancel}) {
        button->setMinimumSize(units.Size(50, 14));
        row->addWidget(button);
    }
    if (yes) *yes = accept;
    return row;
}
