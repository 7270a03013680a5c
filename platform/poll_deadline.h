#pragma once
// The time limit of one wait, kept on the steady clock so that a wait that
// poll(2) ends early (a signal, a consumed event) resumes with what is left.
// Private to platform/: the event wait, the child-process wait and the
// Ctrl-C wait share it.

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace platform {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    // A negative count means no limit.
    explicit Deadline(std::int64_t timeoutMs)
        : m_infinite(timeoutMs < 0),
          m_end(Clock::now() + std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0))) {}

    bool Expired() const { return !m_infinite && Clock::now() >= m_end; }

    // The remaining time as poll(2) takes it: -1 for no limit.
    int RemainingPollMs() const {
        if (m_infinite) return -1;
        const auto left = m_end - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        // Round up, so that a wait never ends before the limit.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return static_cast<int>(std::min<std::int64_t>(ms, 0x7fffffff));
    }

private:
    bool m_infinite;
    Clock::time_point m_end;
};

}  // namespace platform
