#pragma once
// What a fleet run shows while it goes and when it ends: on a terminal one
// line per target, redrawn in place; otherwise one plain line per event,
// prefixed with the target. Then the summary.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

// How many terminal columns a UTF-8 text takes: two for a wide (East Asian)
// character, none for a combining mark.
std::size_t DisplayWidth(std::string_view text);
// The text in at most `columns` columns, cut with "…" when it is wider.
std::string CutToWidth(const std::string& text, std::size_t columns);

// One line of the live view, narrower than `columns` terminal columns (0: no
// limit): the label padded to `labelWidth` columns, a bar, the percent and
// the state. A label too long for the line is cut, never the bar.
std::string LiveLine(const TargetStatus& status, std::size_t labelWidth, int columns);

// The lines the live view shows in `rows` rows (0: as many as needed): every
// target while they fit; otherwise the running ones, then the failed ones,
// then the waiting ones, and a last line that counts the rest by state. A
// note, when there is one, is the last line.
std::vector<std::string> LiveLines(const std::vector<TargetStatus>& statuses, const std::string& note, int rows,
                                   int columns);

// "32 targets: 31 ok, 1 failed" (and ", N not started", ", N already
// loaded" when there are any; a staged run ends it with its stage), then,
// unless `onlyCount`, one line for each target that did not succeed, with
// its target and message.
std::string SummaryText(const std::vector<TargetStatus>& statuses, bool onlyCount = false,
                        const std::string& stage = {});

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

// The view for this process's standard output, over the statuses it shows;
// quiet shows nothing. Once a write to the output fails (a reader that has
// gone), the view shows nothing more and the run goes on.
std::unique_ptr<FleetView> MakeFleetView(const std::vector<TargetStatus>& statuses, bool quiet);

}  // namespace flash
