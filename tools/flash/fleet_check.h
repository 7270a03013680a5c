#pragma once
// --check: whether each target can be reached, as Setup tests a TCP/IP
// choice (connect, then close; no frame sent) and as a download opens a
// serial port, each in a process of its own like a download.

#include <string>
#include <vector>

#include "platform/interrupt_signals.h"
#include "tools/flash/flash_options.h"
#include "tools/flash/fleet_view.h"

namespace flash {

namespace check_text {
inline constexpr const char* kReachable = "reachable";
// Setup's own word for a TCP/IP choice it could not connect to.
inline constexpr const char* kConnectError = "Connect error!";
}  // namespace check_text

// The child's side: opens and closes the one target, then says "connect MS"
// and its end line. Returns 0 when the target was reachable, 1 otherwise.
int RunCheckChild(const FlashOptions& options);

// "reachable in 3 ms", "Connect error! (after 2001 ms)"
std::string CheckResultText(bool reachable, const std::string& message, long long ms);

// "8 targets: 7 reachable, 1 unreachable", then one line for each target
// that could not be reached, unless `onlyCount`.
std::string CheckSummaryText(const std::vector<TargetStatus>& statuses, bool onlyCount = false);

}  // namespace flash
