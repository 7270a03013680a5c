#pragma once
// A staged fleet run: a canary of the first targets loads first, alone, and
// the run stops itself after a failed canary or after too many failures.
// The fleet asks before it starts each target and tells each end for good.

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "tools/flash/flash_options.h"

namespace flash {

enum class RolloutStage { Canary, Main, Stopped };

// What --max-failures allows of `targets`: N, or N% of them rounded up, at
// least 1; 0 when there is no limit.
int FailureLimit(const FlashOptions& options, std::size_t targets);

class Rollout {
public:
    // `toLoad` are the indices of the targets this run loads, in file order.
    Rollout(const FlashOptions& options, const std::vector<std::size_t>& toLoad);

    RolloutStage Stage() const { return m_stage; }
    // A canary or a failure limit was asked for: the stage is worth showing.
    bool Staged() const { return m_staged; }
    bool InCanary(std::size_t index) const { return m_canary.count(index) != 0; }
    bool MayStart(std::size_t index) const;
    // A target ended for good (after its retries); `stillWaiting` targets have
    // not started yet. True when the stage changed.
    bool Ended(std::size_t index, bool ok, std::size_t stillWaiting);
    // Ctrl-C: no further target starts.
    void BreakOff();

    // "canary failed", "stopped after 2 failures"; empty unless stopped by
    // the rollout itself.
    std::string StopReason() const;
    // "canary", "main", "stopped (canary failed)"
    std::string StageText() const;
    // The stage a target ran in, or would have run in.
    std::string TargetStage(std::size_t index) const { return InCanary(index) ? "canary" : "main"; }
    // The exit status of a run that ended otherwise well enough: the
    // rollout's own when it stopped the run.
    int ExitStatus(int otherwise) const;

private:
    enum class Why { None, CanaryFailed, TooManyFailures, BrokenOff };
    std::string FailuresText() const;  // "2 failures"

    std::set<std::size_t> m_canary;
    std::size_t m_canaryLeft = 0;
    int m_limit = 0;
    int m_failures = 0;
    bool m_staged = false;
    RolloutStage m_stage = RolloutStage::Main;
    Why m_why = Why::None;
};

}  // namespace flash
