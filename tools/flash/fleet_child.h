#pragma once
// One target of a fleet, in a process of its own: the same worker as a
// single download, reporting to the parent in the lines of fleet_protocol.h.

#include "platform/interrupt_signals.h"
#include "tools/flash/flash_options.h"

namespace flash {

// Every interrupt is one more Break; the run always ends with its end line.
// Returns the exit status: 0 after success, 1 otherwise.
int RunFleetChild(const FlashOptions& options, platform::InterruptSignals& signals);

}  // namespace flash
