// kxloader: no arguments opens the main window; any argument runs the
// command-line batch, which needs no display at all.

#include "app/KXConfigApp.h"
#include "app/WindowDisplay.h"
#include "platform/ConsolePrompt.h"
#include "platform/LocalFileName.h"
#include "platform/StopSignal.h"
#include "ui/QtPrompt.h"
#include "ui/QtTranslations.h"
#include "ui/common/WindowFit.h"
#include "ui/main/DirsDlg.h"
#include "ui/main/ProgramIdentity.h"

#include <QApplication>
#include <QCoreApplication>

#include <QFont>
#include <QProcessEnvironment>

#include <cstdio>

#include <memory>

int main(int argc, char* argv[]) {
    const RunMode mode = DecideRunMode(argc);
    std::unique_ptr<QCoreApplication> qtApp;
    CQtPrompt qtPrompt;
    if (mode == RunMode::Interactive) {
        // Without a display the window system would abort the process.
        QString why;
        if (!WindowDisplayAvailable(QProcessEnvironment::systemEnvironment(), &why)) {
            std::fputs(NoDisplayMessage(why).toUtf8().constData(), stderr);
            return kNoDisplayExitStatus;
        }
        auto gui = std::make_unique<QApplication>(argc, argv);
        gui->setFont(QFont(QStringLiteral("Tahoma"), 10));
        SetProgramIdentity(*gui);
        InstallQtTranslations();
        InstallWindowFitting();
        SetPrompt(&qtPrompt);
        qtApp = std::move(gui);
    } else {
        // Caught before anything else starts, so a stop at any moment of a
        // batch gets the same clean end.
        InstallStopSignals();
        qtApp = std::make_unique<QCoreApplication>(argc, argv);
    }

    CKXConfigApp app;
    app.SetInteractiveRunner([](CKXConfigApp&) {
        // The main window runs modally until the user leaves.
        CDirsDlg window(QApplication::font());
        window.exec();
    });
    // The arguments as given: Qt would turn every byte of a file name that is
    // not UTF-8 (a Windows-1251 name from a script) into U+FFFD.
    app.InitInstance(DecodeArguments(argc, argv));
    const int exitCode = app.ExitInstance();
    SetPrompt(nullptr);
    return exitCode;
}
