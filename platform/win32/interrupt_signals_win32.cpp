#include "platform/interrupt_signals.h"

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32/interrupt_source_win32.h"
#include "platform/poll_deadline.h"

namespace platform {

namespace {

// What a POSIX shell reports for SIGINT, SIGTERM and SIGHUP, so that scripts
// read one status on every OS.
constexpr int kStatusInterrupt = 130;
constexpr int kStatusTerminate = 143;
constexpr int kStatusHangUp = 129;

// The requests of the whole process. The console runs its control handler on
// a thread of its own, and the parent's Break arrives on another
// (FollowParent): both only count and signal here.
struct Requests {
    std::atomic<int> count{0};
    // The exit status of the first request raised, as a POSIX shell would
    // count its signal.
    std::atomic<int> firstStatus{0};
    Event pending{ResetMode::Manual, false};

    void Raise(int status) {
        int none = 0;
        firstStatus.compare_exchange_strong(none, status);
        count.fetch_add(1);
        pending.Set();
    }

    bool Take() {
        int n = count.load();
        while (n > 0) {
            if (!count.compare_exchange_weak(n, n - 1)) continue;
            if (n == 1) {
                pending.Reset();
                // A request raised between the count and the reset keeps the
                // event signalled.
                if (count.load() > 0) pending.Set();
            }
            return true;
        }
        return false;
    }
};

Requests& TheRequests() {
    // Never destroyed: the console may call the handler while the process
    // is ending.
    static Requests* requests = new Requests;
    return *requests;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
        TheRequests().Raise(kStatusInterrupt);
        return TRUE;
    case CTRL_BREAK_EVENT:
        TheRequests().Raise(kStatusTerminate);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process as soon as this handler returns: it
        // waits here instead, so that the program can break its run off and
        // end on its own before the system's grace time runs out.
        TheRequests().Raise(kStatusHangUp);
        ::Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

// A parent's Break, when a parent made this process its child.
void WatchParentBreaks() {
    const HANDLE breaks = ::OpenEventW(SYNCHRONIZE, FALSE, BreakEventName(::GetCurrentProcessId()).c_str());
    if (breaks == nullptr) return;
    std::thread([breaks] {
        while (::WaitForSingleObject(breaks, INFINITE) == WAIT_OBJECT_0) TheRequests().Raise(kStatusInterrupt);
    }).detach();
}

bool InstallHandler() {
    static const bool installed = [] {
        if (::SetConsoleCtrlHandler(OnConsoleControl, TRUE) == 0) return false;
        WatchParentBreaks();
        return true;
    }();
    return installed;
}

}  // namespace

InterruptSignals::InterruptSignals() : m_source(std::make_unique<Source>()) {
    Requests& requests = TheRequests();
    if (InstallHandler() && requests.pending.IsValid()) m_source->pending = &requests.pending;
}

InterruptSignals::~InterruptSignals() = default;

bool InterruptSignals::IsValid() const { return m_source->pending != nullptr; }

bool InterruptSignals::Take() { return IsValid() && TheRequests().Take(); }

// The first request raised rather than taken: the console's handler may
// raise one that a wait has not taken yet when the program ends.
int InterruptSignals::RequestedExitStatus() const { return TheRequests().firstStatus.load(); }

int InterruptSignals::WaitForAnyOrInterrupt(std::span<Event* const> events, std::int64_t timeoutMs) {
    if (!IsValid()) return kWaitFailed;
    std::vector<Event*> all(events.begin(), events.end());
    all.push_back(m_source->pending);
    const int requestIndex = static_cast<int>(events.size());
    const Deadline deadline(timeoutMs);
    for (;;) {
        const int woke = WaitForAny(all, deadline.RemainingPollMs());
        if (woke != requestIndex) return woke;
        // Another reader may have taken the request first.
        if (Take()) return woke;
        if (deadline.Expired()) return kWaitTimeout;
    }
}

// A failed write is all a closed pipe ever causes here.
void FailWritesToClosedPipes() {}

// The same path as a Ctrl-C at the console: the console's handler itself.
void RaiseInterruptRequest() { OnConsoleControl(CTRL_C_EVENT); }

}  // namespace platform
