#include "app/idle.h"

#include "platform/platform.h"

void OpenProgressDisplay() {}

void IdleUntilExit() {
    for (;;)
        platform::SleepMs(100);
}
