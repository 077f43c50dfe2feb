#pragma once
// kxloader's own command line run in a test's folder: the folder is the
// program's, its settings name the port COM4 and the project shop.kxc there,
// and the files folder exists.

#include "app/CommandLine.h"
#include "app/KXConfigApp.h"
#include "tests/support/TestSupport.h"

#include <QDir>

// False when the settings or the files folder could not be made.
inline bool PrepareLoaderFolder(CKXConfigApp& app, const CTestDir& dir, ICommandLineConfiguration& configuration) {
    app.ProgramFolderOverride = dir.Path();
    app.SetCommandLineRunner([&configuration](CKXConfigApp& a, const QStringList& args) {
        RunCommandLine(a, configuration, args);
    });
    return dir.Write("kxloader.ini", ("[kxloader.exe]\nport=COM4\nconfig=" + dir.File("shop.kxc") + "\n").toUtf8()) &&
           QDir(dir.Path()).mkpath("files");
}
