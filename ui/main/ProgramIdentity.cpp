#include "ui/main/ProgramIdentity.h"

#include <QGuiApplication>

// The icon lives in kx_ui, a static library: its resource registers itself only
// when asked, the linker would drop an initializer nobody calls.
static void InitProgramResources() { Q_INIT_RESOURCE(program); }

QIcon ProgramIcon() {
    InitProgramResources();
    return QIcon::fromTheme(QString::fromLatin1(kDesktopEntryName), QIcon(QStringLiteral(":/kxconfig/kxconfig.svg")));
}

void SetProgramIdentity(QGuiApplication& application) {
    // Qt takes the window class from the application name.
    application.setApplicationName(QString::fromLatin1(kWindowClass));
    application.setDesktopFileName(QString::fromLatin1(kDesktopEntryName));
    application.setWindowIcon(ProgramIcon());
}
