#pragma once
// The Break of a running download, as the Operation page and vornic-flash
// both make it: the run is asked to stop again every 200 ms until it is idle.

#include <cstdint>

#include "platform/event.h"
#include "platform/interrupt_signals.h"

inline constexpr std::int64_t kStopWaitSliceMs = 200;

enum class StopWaitEnd { Idle, Interrupted, Failed };

// Waits for the idle event in slices of 200 ms and sets the stop event after
// every slice that ends without it. With `interrupts`, a further request
// taken during the wait ends it early with Interrupted, the run not yet idle.
StopWaitEnd StopUntilIdle(platform::Event& idle, platform::Event& stop,
                          platform::InterruptSignals* interrupts = nullptr);
