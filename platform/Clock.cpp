#include "platform/Clock.h"

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
constinit CProcessWide<IClock> g_clock;
}  // namespace

CProcessWide<IClock>& ClockSlot() { return g_clock; }
IClock& Clock() {
    static CSystemClock system;
    return g_clock.InstalledOr(system);
}
void SetClock(IClock* clock) { g_clock.Install(clock); }
