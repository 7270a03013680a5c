#pragma once
// Private to platform/: the requests of InterruptSignals on Linux are the
// blocked SIGINT, SIGTERM and SIGHUP, read from a signalfd.

#include "platform/interrupt_signals.h"

namespace platform {

struct InterruptSignals::Source {
    int fd = -1;
    int firstSignal = 0;  // of the first request taken
};

}  // namespace platform
