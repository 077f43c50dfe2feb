#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <thread>

std::int64_t CSystemClock::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void CSystemClock::SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {
std::atomic<IClock*> g_clock{nullptr};
CSystemClock& SystemDefault() {
    static CSystemClock clock;
    return clock;
}
}  // namespace

IClock& Clock() {
    IClock* c = g_clock.load();
    return c ? *c : SystemDefault();
}
void SetClock(IClock* clock) { g_clock.store(clock); }

CScopedClock::CScopedClock(IClock& clock) : m_previous(g_clock.load()) { SetClock(&clock); }
CScopedClock::~CScopedClock() { SetClock(m_previous); }
