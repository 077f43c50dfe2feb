#pragma once
// The command-line batch on the real configuration model.

#include "app/CommandLine.h"
#include "config/ConfigModel.h"
#include "platform/InstallLayout.h"

class CKXConfigApp;

class CConfigModelCommandLine : public ICommandLineConfiguration {
public:
    explicit CConfigModelCommandLine(CConfigModel& model) : m_model(model) {}
    // On failure also says on standard error why, and which settings file to
    // edit. Makes the user's folders and template copy only once the project
    // has opened.
    bool LoadConfigFileFMT() override;
    bool IsUploadJournalIdOn() override { return m_model.IsUploadJournalIdOn(); }

private:
    CConfigModel& m_model;
};

// Why the start-up load of `model` found no configuration (no template, no
// project set, a project that cannot be opened), and where to set another one,
// as lines for standard error.
QString ConfigurationProblemText(CConfigModel& model, const CInstallLayout& layout);

// Installed layout: makes the user's folders and template copy
// (CInstallLayout::PrepareUserFiles); a copy that fails, and a template
// replaced by a newer shipped one, are said on standard error.
void PrepareInstalledUserFiles(const CInstallLayout& layout);

// The command-line runner of kxloader: opens the remembered project in its own
// configuration model, runs the batch and closes the project (its working copy
// is deleted).
void RunCommandLineOnConfigModel(CKXConfigApp& app, const QStringList& arguments);
