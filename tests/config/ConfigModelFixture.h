#pragma once
// What every test of a configuration model stands on: a temporary program
// folder (the template goes there as "KXConfigFMT.db"), a recorded prompt,
// and a model; the model is closed and the program folder and project path
// put back at the end. Each fixture brings its own template and project.

#include "config/ConfigModel.h"
#include "directories/DirectoryFiles.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

class ConfigModelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        previousProgramFolder = ProgramFolder();
        SetProgramFolder(dir.Path() + QStringLiteral("/"));
        templatePath = dir.File(QStringLiteral("KXConfigFMT.db"));
    }
    void TearDown() override {
        model.Close();
        SetProjectPath(QString());
        SetProgramFolder(previousProgramFolder);
    }

    CTestDir dir;
    CRecordingPrompt prompt;
    CScopedPrompt scope{prompt};
    QString previousProgramFolder;
    QString templatePath;
    QString projectPath;
    CConfigModel model;
};
