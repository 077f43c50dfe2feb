#pragma once
// Every window of the program opens inside the available area of its screen
// (the desktop minus panels), whatever the screen scale, and wide enough for
// its title where the screen allows. An application-wide filter does it for
// each window the first time it is shown, before the window is placed; the
// windows' layouts keep their minimum sizes small enough for a small screen
// at twice the scale, so each can also be made smaller by hand.

class QString;
class QWidget;

// The width a title bar needs for `title`: window managers draw the text in a
// bold face somewhat larger than the program's font, beside the window's
// icon, its three buttons and some padding (about eight lines of text high in
// all).
int TitleBarWidth(const QString& title);

// Resizes `window` (before it is shown) to fit its screen.
void FitWindowToScreen(QWidget* window);
// Fits every window of the application from now on (the application owns the
// filter). Call once after the QApplication exists.
void InstallWindowFitting();
