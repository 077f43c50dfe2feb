#pragma once
// The command-line batch on the real configuration model.

#include "app/CommandLine.h"
#include "config/ConfigModel.h"

class CKXConfigApp;

class CConfigModelCommandLine : public ICommandLineConfiguration {
public:
    explicit CConfigModelCommandLine(CConfigModel& model) : m_model(model) {}
    bool LoadConfigFileFMT() override { return m_model.LoadConfigFileFMT(); }
    bool IsUploadJournalIdOn() override { return m_model.IsUploadJournalIdOn(); }

private:
    CConfigModel& m_model;
};

// The command-line runner of kxloader: opens the remembered project in its own
// configuration model, runs the batch and closes the project (its working copy
// is deleted).
void RunCommandLineOnConfigModel(CKXConfigApp& app, const QStringList& arguments);
