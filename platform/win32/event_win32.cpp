#include "platform/event.h"

#include <windows.h>

#include <vector>

#include "platform/poll_deadline.h"

namespace platform {

// The kernel event behind an event, for WaitForMultipleObjects.
struct EventAccess {
    static HANDLE Handle(const Event& e) { return reinterpret_cast<HANDLE>(e.m_handle); }
};

namespace {

HANDLE Handle(const Event& e) { return EventAccess::Handle(e); }

// What is left of the wait as WaitForMultipleObjects takes it. A limit longer
// than an int's milliseconds is waited in pieces by the caller's loop.
DWORD WaitMs(const Deadline& deadline) {
    const int remaining = deadline.RemainingPollMs();
    return remaining < 0 ? INFINITE : static_cast<DWORD>(remaining);
}

}  // namespace

Event::Event(ResetMode mode, bool initiallySignalled) : m_mode(mode) {
    // Unnamed: the events of one process are its own.
    HANDLE handle = ::CreateEventW(nullptr, mode == ResetMode::Manual ? TRUE : FALSE,
                                   initiallySignalled ? TRUE : FALSE, nullptr);
    if (handle != nullptr) m_handle = reinterpret_cast<std::intptr_t>(handle);
}

Event::~Event() {
    if (IsValid()) ::CloseHandle(Handle(*this));
}

// SetEvent, ResetEvent and the waits order memory as a lock does: what the
// setter wrote before Set is seen by the waiter that the signal wakes.
bool Event::Set() { return IsValid() && ::SetEvent(Handle(*this)) != 0; }

bool Event::Reset() { return IsValid() && ::ResetEvent(Handle(*this)) != 0; }

bool Event::IsSignalled() const {
    if (!IsValid()) return false;
    if (::WaitForSingleObject(Handle(*this), 0) != WAIT_OBJECT_0) return false;
    // The look took an auto-reset event's signal; it is put back.
    if (m_mode == ResetMode::Auto) ::SetEvent(Handle(*this));
    return true;
}

// One wait takes at most MAXIMUM_WAIT_OBJECTS (64) handles; the program
// waits on two or three.
int WaitForAny(std::span<Event* const> events, std::int64_t timeoutMs) {
    if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
    std::vector<HANDLE> handles;
    handles.reserve(events.size());
    for (Event* e : events) {
        if (e == nullptr || !e->IsValid()) return kWaitFailed;
        handles.push_back(Handle(*e));
    }
    const Deadline deadline(timeoutMs);
    for (;;) {
        // Not all: the lowest index among the signalled ones ends the wait,
        // and only that event's signal is taken.
        const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                      handles.data(), FALSE, WaitMs(deadline));
        if (result < WAIT_OBJECT_0 + handles.size()) return static_cast<int>(result - WAIT_OBJECT_0);
        if (result != WAIT_TIMEOUT) return kWaitFailed;
        if (deadline.Expired()) return kWaitTimeout;
    }
}

}  // namespace platform
