#include "ui/config/DialogUnits.h"

#include <QFontDatabase>
#include <QDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPushButton>

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width over the 52 Latin letters, as dialog units are defined.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = qMax(1, (metrics.horizontalAdvance(letters) / 26 + 1) / 2);
    m_baseY = qMax(1, metrics.height());
}

QFont ConfiguratorFont(const QFont& requested) {
    if (QFontDatabase::hasFamily(requested.family())) return requested;
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (requested.pointSizeF() > 0) font.setPointSizeF(requested.pointSizeF());
    return font;
}

QHBoxLayout* YesCancelButtons(QDialog* dialog, const CDialogUnits& units, QPushButton** yes) {
    auto* accept = new QPushButton(QStringLiteral("Да"), dialog);
    accept->setObjectName(QStringLiteral("id1"));
    accept->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), dialog);
    cancel->setObjectName(QStringLiteral("id2"));
    cancel->setAutoDefault(false);
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
