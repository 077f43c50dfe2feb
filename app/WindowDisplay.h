#pragma once
// The main window needs a display; the batch does not. Started without any
// arguments where no display can be reached (a service, an ssh session
// without X forwarding, a cron job), the program says so in one line and how
// to run the batch instead, and ends with its own status, rather than letting
// the window system abort the process.

#include <QProcessEnvironment>
#include <QString>

// The exit status of a window that cannot be shown for want of a display. No
// result code of the batch has this number (sysexits' EX_USAGE: the program
// was started the wrong way for where it runs).
inline constexpr int kNoDisplayExitStatus = 64;

// True when the platform Qt would choose can show a window: an explicit
// QT_QPA_PLATFORM other than xcb or wayland (offscreen, vnc, eglfs ...) is
// taken as it is; xcb needs DISPLAY, wayland WAYLAND_DISPLAY, and with no
// choice made either one will do. `why` receives what is missing.
bool WindowDisplayAvailable(const QProcessEnvironment& environment, QString* why);

// The one line shown instead of the window.
QString NoDisplayMessage(const QString& why);
