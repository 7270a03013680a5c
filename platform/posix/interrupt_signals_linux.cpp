#include "platform/interrupt_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/event_posix.h"
#include "platform/posix/interrupt_source_linux.h"
#include "platform/poll_deadline.h"

namespace platform {

namespace {
sigset_t InterruptSet() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // A closed SSH session or terminal: the run is broken off as on SIGTERM.
    sigaddset(&signals, SIGHUP);
    return signals;
}
}  // namespace

InterruptSignals::InterruptSignals() : m_source(std::make_unique<Source>()) {
    const sigset_t signals = InterruptSet();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    m_source->fd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

InterruptSignals::~InterruptSignals() {
    if (m_source->fd >= 0) ::close(m_source->fd);
}

bool InterruptSignals::IsValid() const { return m_source->fd >= 0; }

bool InterruptSignals::Take() {
    signalfd_siginfo info;
    for (;;) {
        const ssize_t n = ::read(m_source->fd, &info, sizeof info);
        if (n == static_cast<ssize_t>(sizeof info)) {
            if (m_source->firstSignal == 0) m_source->firstSignal = static_cast<int>(info.ssi_signo);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

int InterruptSignals::RequestedExitStatus() const {
    return m_source->firstSignal == 0 ? 0 : 128 + m_source->firstSignal;
}

int InterruptSignals::WaitForAnyOrInterrupt(std::span<Event* const> events, std::int64_t timeoutMs) {
    if (m_source->fd < 0) return kWaitFailed;
    const Deadline deadline(timeoutMs);
    for (;;) {
        short revents = 0;
        const int woke = WaitForAnyOrDescriptor(events, m_source->fd, POLLIN, deadline.RemainingPollMs(), &revents);
        if (woke != static_cast<int>(events.size())) return woke;
        if (revents & (POLLERR | POLLNVAL)) return kWaitFailed;
        // Another reader may have taken the request first.
        if (Take()) return woke;
        if (deadline.Expired()) return kWaitTimeout;
    }
}

void FailWritesToClosedPipes() { ::signal(SIGPIPE, SIG_IGN); }

// Sent to the whole process, so that whichever thread reads the signalfd
// finds it.
void RaiseInterruptRequest() { ::kill(::getpid(), SIGINT); }

}  // namespace platform
