#pragma once
// The prompt of the command-line mode: information boxes go to standard output,
// warnings and errors to standard error, each with its caption. It never waits
// for a person: questions take their safe answer (No / Cancel) and file
// dialogs are cancelled.

#include "platform/Prompt.h"

#include <cstdio>

class CConsolePrompt : public IPrompt {
public:
    CConsolePrompt(FILE* out = stdout, FILE* err = stderr) : m_out(out), m_err(err) {}
    int Message(const QString& text, const QString& caption, PromptIcon icon,
                   PromptButtons buttons) override;
    QString OpenFileName(const FileDialogRequest&) override { return QString(); }
    QString SaveFileName(const FileDialogRequest&) override { return QString(); }
    void OpenInViewer(const QString& path) override;

private:
    FILE* m_out;
    FILE* m_err;
};
