#pragma once
// The push buttons of the windows: named after their control id, and never
// pressed by an Enter meant for something else (a window that wants Enter to
// press a button makes it the default itself).

#include <QString>

class QPushButton;
class QWidget;

// "id1010" for the control id 1010: the object name tests and tools find.
QString ControlName(int id);

QPushButton* MakeButton(QWidget* parent, const QString& text, const QString& objectName);
