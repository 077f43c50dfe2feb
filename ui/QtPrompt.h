#pragma once
// The prompt of the windows: Qt message boxes and file dialogs. Safe to call
// from a worker thread: the box is raised on the UI thread and the worker waits
// for the answer.

#include "platform/Prompt.h"

class CQtPrompt : public IPrompt {
public:
    int Message(const QString& text, const QString& caption, PromptIcon icon,
                PromptButtons buttons) override;
    QString OpenFileName(const FileDialogRequest& request) override;
    QString SaveFileName(const FileDialogRequest& request) override;
    void OpenInViewer(const QString& path) override;
};

// "Name (*.x)|*.x|" filter lists as the program writes them -> Qt's form.
QString ToQtFilter(const QString& filter);
