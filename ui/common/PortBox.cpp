#include "ui/common/PortBox.h"

#include <QComboBox>

namespace {
// Characters a device path needs: "/dev/ttyUSB10", "/dev/pts/12".
constexpr int kPortCharacters = 14;
}  // namespace

QComboBox* MakePortBox(QWidget* parent, const QString& objectName, const QStringList& choices) {
    auto* box = new QComboBox(parent);
    box->setObjectName(objectName);
    box->setEditable(true);
    // A typed port stays in the edit field; the list is the machine's.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(choices);
    box->setMinimumContentsLength(kPortCharacters);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return box;
}

void ShowPort(QComboBox* box, const QString& port) {
    const int listed = box->findText(port, Qt::MatchExactly);
    if (listed >= 0) box->setCurrentIndex(listed);
    else box->setEditText(port);
}
