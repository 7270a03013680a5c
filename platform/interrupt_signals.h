#pragma once
// Ctrl-C and termination requests taken as data rather than by a handler, so
// that a program waits for them together with its events and its children.

#include <cstdint>
#include <span>

#include "platform/event.h"

namespace platform {

class InterruptSignals {
public:
    // Blocks SIGINT and SIGTERM for the whole process: construct it before
    // any thread starts, so that no worker is ever interrupted by them.
    InterruptSignals();
    ~InterruptSignals();
    InterruptSignals(const InterruptSignals&) = delete;
    InterruptSignals& operator=(const InterruptSignals&) = delete;

    bool IsValid() const { return m_fd >= 0; }

    // Takes one pending request; false when none is pending.
    bool Take();

    // Waits for one of the events or a request: the event's index, or
    // events.size() for a request (taken), kWaitTimeout or kWaitFailed.
    int WaitForAnyOrInterrupt(std::span<Event* const> events, std::int64_t timeoutMs);

    // For the other waits of the platform layer.
    int Descriptor() const { return m_fd; }

private:
    int m_fd = -1;
};

}  // namespace platform
