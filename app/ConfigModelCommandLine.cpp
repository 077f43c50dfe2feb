#include "app/ConfigModelCommandLine.h"

#include "app/KXConfigApp.h"

void RunCommandLineOnConfigModel(CKXConfigApp& app, const QStringList& arguments) {
    CConfigModel model;
    CConfigModelCommandLine configuration(model);
    RunCommandLine(app, configuration, arguments);
    model.Close();
}
