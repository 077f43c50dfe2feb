#pragma once
// How the desktop knows the window: the window class (X11 WM_CLASS, matched by
// the desktop entry's StartupWMClass), the desktop entry's name (the Wayland
// application id) and the program's own icon, the same kxconfig.svg the
// desktop entry shows.

#include <QIcon>

class QGuiApplication;

inline constexpr const char* kWindowClass = "kxloader";        // data/desktop/kxconfig.desktop: StartupWMClass
inline constexpr const char* kDesktopEntryName = "kxconfig";   // kxconfig.desktop without ".desktop"

// The icon theme's kxconfig (the installed hicolor icon) or the copy built into
// the program (a portable folder has no theme entry).
QIcon ProgramIcon();

// Names the application after its window class and desktop entry and gives
// every window the program's icon.
void SetProgramIdentity(QGuiApplication& application);
