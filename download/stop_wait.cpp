#include "download/stop_wait.h"

StopWaitEnd StopUntilIdle(platform::Event& idle, platform::Event& stop, platform::InterruptSignals* interrupts) {
    if (interrupts == nullptr) {
        while (!idle.Wait(kStopWaitSliceMs)) stop.Set();
        return StopWaitEnd::Idle;
    }
    platform::Event* const events[] = {&idle};
    for (;;) {
        switch (interrupts->WaitForAnyOrInterrupt(events, kStopWaitSliceMs)) {
            case 0: return StopWaitEnd::Idle;
            case 1: return StopWaitEnd::Interrupted;
            case platform::kWaitTimeout: stop.Set(); break;
            default: return StopWaitEnd::Failed;
        }
    }
}
