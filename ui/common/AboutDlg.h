#pragma once
// The about box, "О KxLoader": the program's version text and an OK button.
// Reached from the main window's window menu and the configurator's help menu.

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// Adds a separator and "О KXLoader" to the window menu of `window` where the
// platform has one, and a context action on the window otherwise, opening the
// about box. (Qt has no system-menu API; the context menu stands in for it.)
void AddAboutToWindowMenu(QWidget* window);
