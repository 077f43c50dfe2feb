#include "platform/Prompt.h"

#include "platform/ConsolePrompt.h"

#include <atomic>

namespace {
CConsolePrompt& ConsoleDefault() {
    static CConsolePrompt console;
    return console;
}
std::atomic<IPrompt*> g_prompt{nullptr};
}  // namespace

IPrompt& Prompt() {
    IPrompt* p = g_prompt.load();
    return p ? *p : ConsoleDefault();
}

void SetPrompt(IPrompt* prompt) { g_prompt.store(prompt); }

CScopedPrompt::CScopedPrompt(IPrompt& prompt) : m_previous(g_prompt.load()) { SetPrompt(&prompt); }
CScopedPrompt::~CScopedPrompt() { SetPrompt(m_previous); }
