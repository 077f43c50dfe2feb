#include "ui/main/ProgramIdentity.h"

#include <QGuiApplication>

QIcon ProgramIcon() {
    return QIcon::fromTheme(QString::fromLatin1(kDesktopEntryName), QIcon(QStringLiteral(":/kxconfig/kxconfig.svg")));
}

void SetProgramIdentity(QGuiApplication& application) {
    // Qt takes the window class from the application name.
    application.setApplicationName(QString::fromLatin1(kWindowClass));
    application.setDesktopFileName(QString::fromLatin1(kDesktopEntryName));
    application.setWindowIcon(ProgramIcon());
}
