#pragma once
// The one way code below the windows talks to the person at the computer:
// message boxes, questions, the common file dialogs and opening a file in the
// desktop's text viewer. The GUI installs a Qt dialog implementation, the
// command-line mode a console one that never blocks, and the tests a recorder
// that keeps every text and answers from a script.

#include "platform/ProcessWide.h"

#include <QString>

enum class PromptIcon { None, Information, Warning, Error, Question };

// Button sets and answers keep the values of the Windows message box, which
// several callers compare against. YesNoDefaultNo is Yes/No with No as the
// default button, for questions whose Yes cannot be undone;
// YesNoCancelDefaultCancel the same with three answers.
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, YesNoDefaultNo, YesNoCancelDefaultCancel };
enum PromptAnswer : int { AnswerOk = 1, AnswerCancel = 2, AnswerYes = 6, AnswerNo = 7 };

struct FileDialogRequest {
    QString title;
    QString filter;         // "Конфигурация (*.kxc)|*.kxc|" style or Qt style "Name (*.x)"
    QString defaultExt;     // without the dot
    QString initialName;    // file name or full path proposed to the user
    bool overwritePrompt = true;  // save dialogs only
};

class IPrompt {
public:
    virtual ~IPrompt() = default;
    // Returns the answer (AnswerOk, AnswerCancel, AnswerYes, AnswerNo).
    virtual int Message(const QString& text, const QString& caption, PromptIcon icon,
                           PromptButtons buttons) = 0;
    // Empty text when the user cancels.
    virtual QString OpenFileName(const FileDialogRequest& request) = 0;
    virtual QString SaveFileName(const FileDialogRequest& request) = 0;
    // Opens a text file in the desktop's viewer (the program used to call "notepad").
    virtual void OpenInViewer(const QString& path) = 0;

    // Conveniences.
    void Error(const QString& text, const QString& caption) {
        Message(text, caption, PromptIcon::Error, PromptButtons::Ok);
    }
    void Info(const QString& text, const QString& caption) {
        Message(text, caption, PromptIcon::Information, PromptButtons::Ok);
    }
    void Warning(const QString& text, const QString& caption) {
        Message(text, caption, PromptIcon::Warning, PromptButtons::Ok);
    }
    bool AskYesNo(const QString& text, const QString& caption) {
        return Message(text, caption, PromptIcon::Question, PromptButtons::YesNo) == AnswerYes;
    }
};

// The process-wide prompt. Starts as the console prompt; the GUI replaces it at
// start-up and tests replace it for their scope (CScopedPrompt).
IPrompt& Prompt();
void SetPrompt(IPrompt* prompt);  // nullptr restores the console prompt

CProcessWide<IPrompt>& PromptSlot();
using CScopedPrompt = CScopedInstall<IPrompt, PromptSlot>;
