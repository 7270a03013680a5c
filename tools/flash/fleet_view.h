#pragma once
// What a fleet run shows while it goes and when it ends: on a terminal one
// line per target, redrawn in place; otherwise one plain line per event,
// prefixed with the target. Then the summary.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/flash/flash_options.h"

namespace flash {

enum class TargetState { Waiting, Connecting, Sending, Ok, Failed, NotStarted, AlreadyLoaded };

struct TargetStatus {
    const FlashTarget* target = nullptr;
    TargetState state = TargetState::Waiting;
    int percent = 0;
    std::string message;  // the last attempt's, once it has ended
    std::string endText;  // shown once it has ended instead of "ok" or the message
    int attempts = 0;
};

// The target's name when it has one, else the target as given.
std::string TargetLabel(const FlashTarget& target);

// One line of the live view, at most `columns` characters (0: no limit):
// the label padded to `labelWidth`, a bar, the percent and the state.
std::string LiveLine(const TargetStatus& status, std::size_t labelWidth, int columns);

// The lines the live view shows in `rows` rows (0: as many as needed): every
// target while they fit; otherwise the running and failed ones first, and a
// last line for the rest. A note, when there is one, is the last line.
std::vector<std::string> LiveLines(const std::vector<TargetStatus>& statuses, const std::string& note, int rows,
                                   int columns);

// "32 targets: 31 ok, 1 failed", then one line for each failure with its
// target and message. Targets not started and already loaded are counted
// when there are any, and a staged run ends its first line with its stage.
std::string SummaryText(const std::vector<TargetStatus>& statuses, const std::string& stage = {});

// "stage canary: 1 running, 0 ok, 0 failed, 31 waiting": the live view's
// first line in a staged run.
std::string StageLine(const std::vector<TargetStatus>& statuses, const std::string& stage);

class FleetView {
public:
    virtual ~FleetView() = default;
    // `event` is what happened to the target, for the plain lines.
    virtual void Changed(const TargetStatus& status, const std::string& event) = 0;
    // A word about the whole run (a Break under way).
    virtual void Note(const std::string& text) = 0;
    // The stage of a staged run, as it begins.
    virtual void Stage(const std::string& stage) = 0;
    // How often Tick wants to run; -1 for never.
    virtual std::int64_t TickMs() const = 0;
    virtual void Tick() = 0;
    // The last drawing, before the summary.
    virtual void Close() = 0;
};

// The view for this process's standard output, over the statuses it shows.
std::unique_ptr<FleetView> MakeFleetView(const std::vector<TargetStatus>& statuses);

}  // namespace flash
