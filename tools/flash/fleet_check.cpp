#include "tools/flash/fleet_check.h"

#include <chrono>
#include <cstdio>

#include "comm/comm_channel.h"
#include "platform/child_process.h"
#include "tools/flash/flash_context.h"
#include "tools/flash/fleet_protocol.h"

namespace flash {

int RunCheckChild(const FlashOptions& options) {
    auto emit = [](const std::string& line) {
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    };
    if (!platform::FollowParent(options.parentId)) {
        emit(EndLine(false, 0, "the fleet run that started this check has ended"));
        return 1;
    }
    const FlashTarget& target = options.targets.front();
    CCommChannel channel;
    SetUpTargetChannel(channel, target, options);
    const auto start = std::chrono::steady_clock::now();
    const bool open = channel.Open();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    channel.Close();
    // A serial port's own text says why it would not open (busy, missing).
    const std::string message = open         ? check_text::kReachable
                                : target.tcp ? check_text::kConnectError
                                             : channel.SerialPort().LastErrorText;
    emit(ConnectLine(ms));
    emit(EndLine(open, 0, message));
    return open ? 0 : 1;
}

std::string CheckResultText(bool reachable, const std::string& message, long long ms) {
    if (reachable) return std::string(check_text::kReachable) + " in " + std::to_string(ms) + " ms";
    return message + " (after " + std::to_string(ms) + " ms)";
}

std::string CheckSummaryText(const std::vector<TargetStatus>& statuses, bool onlyCount) {
    std::size_t reachable = 0;
    std::string failures;
    for (const auto& s : statuses) {
        if (s.state == TargetState::Ok) {
            ++reachable;
            continue;
        }
        const FlashTarget& t = *s.target;
        failures += "  " + t.text + (t.name.empty() ? "" : " (" + t.name + ")") + ": " + s.endText + "\n";
    }
    return std::to_string(statuses.size()) + " target" + (statuses.size() == 1 ? "" : "s") + ": " +
           std::to_string(reachable) + " reachable, " + std::to_string(statuses.size() - reachable) +
           " unreachable\n" + (onlyCount ? std::string() : failures);
}

}  // namespace flash
