#pragma once
// The ports the main window offers: the machine's serial ports under the
// names the link component accepts (COM3 on Windows, ttyUSB0 on Linux),
// shortest names first and then in text order, so COM2 comes before COM10;
// then the two link kinds that are not serial ports.

#include <QStringList>

// Sorted as the list shows them: by length, then by case-sensitive text.
QStringList SortPortNames(QStringList names);
// The machine's serial ports, sorted, followed by "USB" and "ActiveSync".
QStringList PortChoices();
