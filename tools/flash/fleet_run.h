#pragma once
// A fleet run: every target of the command line in a process of its own, at
// most --jobs at once, each given a private copy of the same image, with a
// live view, retries, a report and a closing summary.

#include "platform/interrupt_signals.h"
#include "tools/flash/flash_options.h"

namespace flash {

// Texts of the fleet's own, for the ends that no download reports.
namespace fleet_text {
inline constexpr const char* kNotStarted = "not started: the run was broken off";
inline constexpr const char* kAbandoned = "stopped without waiting for the controller";
inline constexpr const char* kNoResult = "the download process ended without a result";
}  // namespace fleet_text

// Returns the exit status: 0 when every target succeeded, 1 when any failed,
// 2 when the report cannot be opened, 3 when it could not be written whole,
// 128 + the signal after a Break that a signal asked for.
int RunFleet(const FlashOptions& options, platform::InterruptSignals& signals);

}  // namespace flash
