#include "tools/flash/rollout.h"

namespace flash {

int FailureLimit(const FlashOptions& options, std::size_t targets) {
    if (options.maxFailures == 0) return 0;
    if (!options.maxFailuresPercent) return options.maxFailures;
    const std::size_t limit = (targets * static_cast<std::size_t>(options.maxFailures) + 99) / 100;
    return static_cast<int>(std::max<std::size_t>(limit, 1));
}

Rollout::Rollout(const FlashOptions& options, const std::vector<std::size_t>& toLoad)
    : m_limit(FailureLimit(options, toLoad.size())), m_staged(options.canary > 0 || options.maxFailures > 0) {
    for (std::size_t i = 0; i < toLoad.size() && i < static_cast<std::size_t>(options.canary); ++i)
        m_canary.insert(toLoad[i]);
    m_canaryLeft = m_canary.size();
    if (m_canaryLeft > 0) m_stage = RolloutStage::Canary;
}

bool Rollout::MayStart(std::size_t index) const {
    switch (m_stage) {
        case RolloutStage::Canary: return InCanary(index);
        case RolloutStage::Main: return true;
        case RolloutStage::Stopped: return false;
    }
    return false;
}

bool Rollout::Ended(std::size_t index, bool ok, std::size_t stillWaiting) {
    if (m_stage == RolloutStage::Stopped) return false;
    if (!ok) ++m_failures;
    if (m_stage == RolloutStage::Canary && InCanary(index)) {
        --m_canaryLeft;
        // One canary that failed for good is enough: the image or the night
        // is bad, and the rest must not share its fate.
        if (!ok) {
            m_stage = RolloutStage::Stopped;
            m_why = Why::CanaryFailed;
            return true;
        }
        if (m_canaryLeft == 0) {
            m_stage = RolloutStage::Main;
            return true;
        }
    }
    // A limit reached with nothing left to start stops nothing.
    if (m_limit > 0 && m_failures >= m_limit && stillWaiting > 0) {
        m_stage = RolloutStage::Stopped;
        m_why = Why::TooManyFailures;
        return true;
    }
    return false;
}

void Rollout::BreakOff() {
    if (m_stage == RolloutStage::Stopped) return;
    m_stage = RolloutStage::Stopped;
    m_why = Why::BrokenOff;
}

std::string Rollout::FailuresText() const {
    return std::to_string(m_failures) + " failure" + (m_failures == 1 ? "" : "s");
}

std::string Rollout::StopReason() const {
    switch (m_why) {
        case Why::CanaryFailed: return "canary failed";
        case Why::TooManyFailures: return "stopped after " + FailuresText();
        case Why::None:
        case Why::BrokenOff: return {};
    }
    return {};
}

std::string Rollout::StageText() const {
    switch (m_stage) {
        case RolloutStage::Canary: return "canary";
        case RolloutStage::Main: return "main";
        case RolloutStage::Stopped:
            switch (m_why) {
                case Why::CanaryFailed: return "stopped (canary failed)";
                case Why::TooManyFailures: return "stopped (after " + FailuresText() + ")";
                case Why::None:
                case Why::BrokenOff: break;
            }
            return "stopped (broken off)";
    }
    return {};
}

int Rollout::ExitStatus(int otherwise) const {
    if (m_why == Why::CanaryFailed) return tools::kExitCanaryFailed;
    if (m_why == Why::TooManyFailures) return tools::kExitStoppedAfterFailures;
    return otherwise;
}

}  // namespace flash
