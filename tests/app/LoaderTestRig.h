#pragma once
// kxloader's own command line run in a test's folder: the folder is the
// program's, its settings name the port COM4 and the project shop.kxc there,
// and the files folder exists. The terminal is the scripted component, the
// message boxes are recorded and the clock moves only when the code waits.
// `Configuration` stands for the opened project.

#include "app/CommandLine.h"
#include "app/KXConfigApp.h"
#include "tests/exchange/FakeParlink.h"
#include "tests/support/TestSupport.h"

#include <QDir>

template <class Configuration>
struct CLoaderTestRig {
    // False when the settings or the files folder could not be made.
    bool PrepareFolder() {
        app.ProgramFolderOverride = dir.Path();
        app.SetCommandLineRunner([this](CKXConfigApp& a, const QStringList& args) {
            RunCommandLine(a, configuration, args);
        });
        return dir.Write("kxloader.ini",
                         ("[kxloader.exe]\nport=COM4\nconfig=" + dir.File("shop.kxc") + "\n").toUtf8()) &&
               QDir(dir.Path()).mkpath("files");
    }

    CTestDir dir;
    CRecordingPrompt prompt;
    CScopedPrompt promptScope{prompt};
    CFakeClock clock;
    CScopedClock clockScope{clock};
    CFakeParlink fake;
    CScopedParlinkProvider providerScope{fake};
    Configuration configuration;
    CKXConfigApp app;
};
