#pragma once
// A time limit on the steady clock, for waits that may be resumed.

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

    bool Infinite() const { return m_infinite; }
    bool Expired() const { return !m_infinite && Clock::now() >= m_end; }

    std::chrono::milliseconds Remaining() const {
        if (m_infinite) return std::chrono::milliseconds::max();
        const auto left = m_end - Clock::now();
        if (left <= Clock::duration::zero()) return std::chrono::milliseconds(0);
        // Round up, so that a wait never ends before the limit.
        return std::chrono::ceil<std::chrono::milliseconds>(left);
    }

    // The remaining time as poll(2) takes it: -1 for no limit.
    int RemainingPollMs() const {
        if (m_infinite) return -1;
        return static_cast<int>(std::min<std::int64_t>(Remaining().count(), 0x7fffffff));
    }

private:
    bool m_infinite;
    Clock::time_point m_end;
};

}  // namespace platform
