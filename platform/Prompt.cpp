#include "platform/Prompt.h"

#include "platform/ConsolePrompt.h"

namespace {
// Until the windows install theirs, questions go to the console.
constinit CProcessWide<IPrompt> g_prompt;
}  // namespace

CProcessWide<IPrompt>& PromptSlot() { return g_prompt; }
IPrompt& Prompt() {
    static CConsolePrompt console;
    return g_prompt.InstalledOr(console);
}
void SetPrompt(IPrompt* prompt) { g_prompt.Install(prompt); }
