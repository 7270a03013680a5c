#include "platform/interrupt_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/event_posix.h"
#include "platform/poll_deadline.h"

namespace platform {

namespace {
sigset_t InterruptSet() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}
}  // namespace

InterruptSignals::InterruptSignals() {
    const sigset_t signals = InterruptSet();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    m_fd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

InterruptSignals::~InterruptSignals() {
    if (m_fd >= 0) ::close(m_fd);
}

bool InterruptSignals::Take() {
    signalfd_siginfo info;
    for (;;) {
        const ssize_t n = ::read(m_fd, &info, sizeof info);
        if (n == static_cast<ssize_t>(sizeof info)) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

int InterruptSignals::WaitForAnyOrInterrupt(std::span<Event* const> events, std::int64_t timeoutMs) {
    if (m_fd < 0) return kWaitFailed;
    const Deadline deadline(timeoutMs);
    for (;;) {
        short revents = 0;
        const int woke = WaitForAnyOrDescriptor(events, m_fd, POLLIN, deadline.RemainingPollMs(), &revents);
        if (woke != static_cast<int>(events.size())) return woke;
        if (revents & (POLLERR | POLLNVAL)) return kWaitFailed;
        // Another reader may have taken the request first.
        if (Take()) return woke;
        if (deadline.Expired()) return kWaitTimeout;
    }
}

}  // namespace platform
