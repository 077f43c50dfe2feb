#include "platform/StopSignal.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

// Written by the handler, read by the run: a lock-free atomic is safe there.
constinit std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
    int none = 0;
    g_signal.compare_exchange_strong(none, signal);
}

}  // namespace

void InstallStopSignals() {
#ifndef _WIN32
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Not SA_RESTART: a wait in the kernel ends early, and the run looks at
    // the flag sooner.
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
#else
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
#endif
}

int StopSignal() { return g_signal.load(); }

void ResetStopSignal() { g_signal.store(0); }

const char* StopSignalName(int signal) {
    switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
#ifndef _WIN32
    case SIGHUP: return "SIGHUP";
#endif
    default: return "a signal";
    }
}
