#include "platform/event.h"
#include "platform/posix/event_posix.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

#include "platform/poll_deadline.h"

namespace platform {

// The eventfd behind an event, for poll(2).
struct EventAccess {
    static int Descriptor(const Event& e) { return static_cast<int>(e.m_handle); }
    static bool TryConsume(Event& e) { return e.TryConsume(); }
};

namespace {
int Fd(const Event& e) { return EventAccess::Descriptor(e); }
}  // namespace

Event::Event(ResetMode mode, bool initiallySignalled) : m_mode(mode) {
    const int fd = ::eventfd(initiallySignalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd >= 0) m_handle = fd;
}

Event::~Event() {
    if (IsValid()) ::close(Fd(*this));
}

bool Event::Set() {
    if (!IsValid()) return false;
    std::lock_guard<std::mutex> lock(m_setLock);
    m_generation.fetch_add(1, std::memory_order_release);
    const std::uint64_t one = 1;
    for (;;) {
        if (::write(Fd(*this), &one, sizeof one) == sizeof one) return true;
        if (errno == EINTR) continue;
        return errno == EAGAIN;  // the counter is saturated: signalled anyway
    }
}

bool Event::Reset() {
    if (!IsValid()) return false;
    std::uint64_t value;
    while (::read(Fd(*this), &value, sizeof value) < 0 && errno == EINTR) {
    }
    return true;
}

bool Event::IsSignalled() const {
    if (!IsValid()) return false;
    pollfd p{Fd(*this), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

bool Event::TryConsume() {
    // Waits out a Set that is still returning from its write.
    { std::lock_guard<std::mutex> lock(m_setLock); }
    if (m_mode == ResetMode::Manual) {
        Acquire();
        return true;
    }
    std::uint64_t value;
    for (;;) {
        if (::read(Fd(*this), &value, sizeof value) == sizeof value) {
            Acquire();
            return true;
        }
        if (errno != EINTR) return false;  // another waiter took the signal
    }
}

int WaitForAny(std::span<Event* const> events, std::int64_t timeoutMs) {
    return WaitForAnyOrDescriptor(events, -1, 0, timeoutMs, nullptr);
}

int WaitForAnyOrDescriptor(std::span<Event* const> events, int fd, short pollEvents,
                           std::int64_t timeoutMs, short* revents) {
    std::vector<pollfd> fds;
    fds.reserve(events.size() + 1);
    for (Event* e : events) {
        if (e == nullptr || !e->IsValid()) return kWaitFailed;
        fds.push_back({Fd(*e), POLLIN, 0});
    }
    if (fd >= 0) fds.push_back({fd, pollEvents, 0});
    if (fds.empty()) return kWaitFailed;

    const Deadline deadline(timeoutMs);
    for (;;) {
        for (auto& p : fds) p.revents = 0;
        const int n = ::poll(fds.data(), fds.size(), deadline.RemainingPollMs());
        if (n < 0) {
            if (errno == EINTR) continue;
            return kWaitFailed;
        }
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (fds[i].revents & (POLLNVAL | POLLERR)) return kWaitFailed;
            if ((fds[i].revents & POLLIN) && EventAccess::TryConsume(*events[i]))
                return static_cast<int>(i);
        }
        if (fd >= 0 && fds.back().revents != 0) {
            if (revents) *revents = fds.back().revents;
            return static_cast<int>(events.size());
        }
        if (deadline.Expired()) return kWaitTimeout;
    }
}

}  // namespace platform
