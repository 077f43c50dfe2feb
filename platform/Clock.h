#pragma once
// Every pause and every wait of the exchange code goes through this clock, so
// that a three-minute time-out is tested in milliseconds with a fake clock.

#include "platform/ProcessWide.h"

#include <cstdint>

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds on a monotonic scale.
    virtual std::int64_t NowMs() = 0;
    virtual void SleepMs(int ms) = 0;
};

class CSystemClock : public IClock {
public:
    std::int64_t NowMs() override;
    void SleepMs(int ms) override;
};

// The process-wide clock: the system clock unless a test installs another.
IClock& Clock();
void SetClock(IClock* clock);  // nullptr restores the system clock

CProcessWide<IClock>& ClockSlot();
using CScopedClock = CScopedInstall<IClock, ClockSlot>;
