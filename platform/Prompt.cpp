#include "platform/Prompt.h"

#include "platform/ConsolePrompt.h"

namespace {
CConsolePrompt& ConsoleDefault() {
    static CConsolePrompt console;
    return console;
}
}  // namespace

CProcessWide<IPrompt>& PromptSlot() {
    static CProcessWide<IPrompt> slot;
    return slot;
}
IPrompt& Prompt() { return PromptSlot().InstalledOr(ConsoleDefault()); }
void SetPrompt(IPrompt* prompt) { PromptSlot().Install(prompt); }
