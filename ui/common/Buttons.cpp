#include "ui/common/Buttons.h"

#include <QPushButton>

QString ControlName(int id) { return QStringLiteral("id%1").arg(id); }

QPushButton* MakeButton(QWidget* parent, const QString& text, const QString& objectName) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    return button;
}
