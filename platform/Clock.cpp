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
CSystemClock& SystemDefault() {
    static CSystemClock clock;
    return clock;
}
}  // namespace

CProcessWide<IClock>& ClockSlot() {
    static CProcessWide<IClock> slot;
    return slot;
}
IClock& Clock() { return ClockSlot().InstalledOr(SystemDefault()); }
void SetClock(IClock* clock) { ClockSlot().Install(clock); }
