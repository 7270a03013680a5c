#pragma once
// Private to platform/: the requests of InterruptSignals on Linux are the
// blocked SIGINT and SIGTERM, read from a signalfd.

#include "platform/interrupt_signals.h"

namespace platform {

struct InterruptSignals::Source {
    int fd = -1;
};

}  // namespace platform
