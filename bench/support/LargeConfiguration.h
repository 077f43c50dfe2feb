#pragma once
// A large configuration for the benchmarks: a template of 200 parameters per
// operation type (ten pages of 20, every parameter type) plus 100 global
// parameters, the timing helpers and a prompt that opens nothing.

#include "config/ConfigModel.h"
#include "platform/Prompt.h"

#include <QString>
#include <QTemporaryDir>

#include <functional>

namespace Bench {

inline constexpr int kPagesPerType = 10;   // the type's own page and nine below it
inline constexpr int kParamsPerPage = 20;  // 200 parameters per type
inline constexpr int kGlobalPages = 5;     // 100 global parameters

void WriteLargeTemplate(const QString& path);
// A new project at `projectPath` with `types` operation types ("Операция 1"...).
bool CreateLargeConfiguration(CConfigModel& model, const QString& projectPath, int types);

double Seconds(const std::function<void()>& work);
double Best(int repeats, const std::function<void()>& work);
// The processor time the work took in this process: on a machine shared with
// other work it shows what the wall-clock figure would be on an idle one.
double CpuSeconds(const std::function<void()>& work);

// Says nothing and opens nothing: the figures are the only output (a message
// that would have been shown goes to standard error).
class CSilentPrompt : public IPrompt {
public:
    int Message(const QString& text, const QString& caption, PromptIcon icon, PromptButtons buttons) override;
    QString OpenFileName(const FileDialogRequest&) override { return QString(); }
    QString SaveFileName(const FileDialogRequest&) override { return QString(); }
    void OpenInViewer(const QString&) override {}
};

// What every configuration bench starts from: the silent prompt installed,
// a temporary folder holding the large template, and a model on it.
class CLargeTemplateBench {
public:
    CLargeTemplateBench();
    CConfigModel& Model() { return m_model; }
    // A file of the temporary folder.
    QString FilePath(const QString& name) const { return m_dir.filePath(name); }

private:
    CSilentPrompt m_silent;
    CScopedPrompt m_scope{m_silent};
    QTemporaryDir m_dir;
    CConfigModel m_model;
};

}  // namespace Bench
