#pragma once
// The editable port field of the main window and of the configuration upload
// window: a list of ports to choose from, and room to type any other (a
// device path such as /dev/ttyUSB0 or the emulator's /dev/pts/N), wide
// enough to show such a path whole.

#include <QStringList>

class QComboBox;
class QWidget;

QComboBox* MakePortBox(QWidget* parent, const QString& objectName, const QStringList& choices);
// Selects `port` when the list has it, else puts it into the edit field.
void ShowPort(QComboBox* box, const QString& port);
