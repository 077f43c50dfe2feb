#include "platform/TestHooks.h"

#ifdef KX_TEST_HOOKS
#include <QByteArray>
#include <QList>

#include <csignal>
#include <cstdlib>
#endif

bool TestPointArmed([[maybe_unused]] const char* point) {
#ifdef KX_TEST_HOOKS
    const char* armed = std::getenv("KX_TEST_PAUSE_AT");
    if (!armed || !*armed) return false;
    for (const QByteArray& name : QByteArray(armed).split(','))
        if (name.trimmed() == point) return true;
#endif
    return false;
}

void PauseAtTestPoint(const char* point) {
#ifdef KX_TEST_HOOKS
    if (TestPointArmed(point)) std::raise(SIGSTOP);
#else
    (void)point;
#endif
}
