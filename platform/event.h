#pragma once
// Event objects with the semantics the design expects of the kernel events:
// auto-reset (a wait that sees the signal consumes it) or manual-reset (stays
// signalled until Reset), timed waits, and a wait on several at once. Each
// event is the OS's own waitable object: an eventfd on Linux, so that a wait
// may also include a device descriptor (platform/event_posix.h), or a kernel
// event on Windows.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>

namespace platform {

enum class ResetMode { Auto, Manual };

// Result of a wait: the index of the event (or descriptor) that ended it, or
// one of these values.
inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;
inline constexpr std::int64_t kInfinite = -1;

class Event {
public:
    Event(ResetMode mode, bool initiallySignalled);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False when the system could not create the event; every operation
    // then fails.
    bool IsValid() const { return m_handle != kNoHandle; }
    bool Set();
    bool Reset();
    // Whether the event is signalled now; an auto-reset event keeps its signal.
    bool IsSignalled() const;

    // True when the event was signalled within timeoutMs (kInfinite: no limit).
    bool Wait(std::int64_t timeoutMs);

    ResetMode Mode() const { return m_mode; }

private:
    // The OS's wait functions, which see the handle.
    friend struct EventAccess;
    bool TryConsume();
    void Acquire() const { (void)m_generation.load(std::memory_order_acquire); }

    static constexpr std::intptr_t kNoHandle = -1;
    // The eventfd on Linux, the event's HANDLE on Windows.
    std::intptr_t m_handle = kNoHandle;
    ResetMode m_mode;
    // Publishes what the setter wrote before Set to whoever sees the signal.
    std::atomic<std::uint32_t> m_generation{0};
    // Held by Set until its signal is written, and passed by a waiter that has
    // seen it: a waiter may destroy the event the moment its wait returns.
    std::mutex m_setLock;
};

// Waits until one of the events is signalled; returns its index, the lowest
// when several are (an auto-reset one is consumed), kWaitTimeout or kWaitFailed.
int WaitForAny(std::span<Event* const> events, std::int64_t timeoutMs);

}  // namespace platform
