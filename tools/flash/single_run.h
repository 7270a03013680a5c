#pragma once
// One download in this process: the progress on standard output, the
// result's message as the last line, Ctrl-C as a Break.

#include "platform/interrupt_signals.h"
#include "tools/flash/flash_options.h"

namespace flash {

// The exit status: success only after "Download firmware successfully!".
int RunSingle(const FlashOptions& options, platform::InterruptSignals& signals);

}  // namespace flash
