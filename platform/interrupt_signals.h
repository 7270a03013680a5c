#pragma once
// Ctrl-C and termination requests taken as data rather than by a handler, so
// that a program waits for them together with its events and its children.

#include <cstdint>
#include <memory>
#include <span>

#include "platform/event.h"

namespace platform {

class InterruptSignals {
public:
    // From now on a Ctrl-C, a Ctrl-Break, a request to end the program (a
    // termination signal, a hang-up, or the console closing) and the parent's Break
    // (FollowParent) wait as requests for Take. Construct it before any
    // thread starts, so that no worker is ever interrupted by them.
    InterruptSignals();
    ~InterruptSignals();
    InterruptSignals(const InterruptSignals&) = delete;
    InterruptSignals& operator=(const InterruptSignals&) = delete;

    bool IsValid() const;

    // Takes one pending request; false when none is pending.
    bool Take();

    // The exit status the first request taken asks for, as shells count it:
    // 128 + its signal (130 for a Ctrl-C, 143 for a termination request, 129
    // for a hang-up; on Windows Ctrl-C 130, Ctrl-Break 143, the console
    // closing 129). 0 while none was taken.
    int RequestedExitStatus() const;

    // Waits for one of the events or a request: the event's index, or
    // events.size() for a request (taken), kWaitTimeout or kWaitFailed.
    int WaitForAnyOrInterrupt(std::span<Event* const> events, std::int64_t timeoutMs);

    // What the OS gives for pending requests: each OS's file defines it, and
    // the child-process wait of the same OS watches it too.
    struct Source;
    Source& Pending() const { return *m_source; }

private:
    std::unique_ptr<Source> m_source;
};

// From now on a write to a pipe or socket whose reader has gone fails
// instead of ending the process (SIGPIPE ignored; Windows does so anyway).
void FailWritesToClosedPipes();

// Asks this process to stop, as a Ctrl-C at its console would: for the
// tests of the programs that take requests.
void RaiseInterruptRequest();

}  // namespace platform
