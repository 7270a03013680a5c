#include "tools/controller_sim/controller_sim.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

// A frame cut short and followed by this much silence is judged as it stands.
constexpr int kPartialFrameGapMs = 200;
// How often a serial line without a tool on its far end is looked at again.
constexpr int kDetachedPollMs = 20;
// A peer that takes none of a reply within this time is given up.
constexpr int kWriteStallMs = 2000;

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string ErrnoText(const std::string& step) { return step + ": " + std::strerror(errno); }

bool MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    tio.c_cflag |= CLOCAL | CREAD;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

int PollRetrying(pollfd* fds, nfds_t count, int timeoutMs) {
    int n;
    do {
        n = ::poll(fds, count, timeoutMs);
    } while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

std::string Summary::Line() const {
    return "summary: frames=" + std::to_string(frames) + " bad=" + std::to_string(bad) +
           " images=" + std::to_string(images) + " complete=" + (complete ? "yes" : "no") +
           " sessions=" + std::to_string(sessions);
}

ControllerSim::ControllerSim(Options options)
    : m_options(std::move(options)), m_session(m_options.session) {
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

ControllerSim::~ControllerSim() {
    CloseFd(m_listenFd);
    CloseFd(m_serialFd);
    CloseFd(m_stopFd);
}

bool ControllerSim::Start(std::string* error) {
    if (m_stopFd < 0) {
        *error = ErrnoText("eventfd");
        return false;
    }
    switch (m_options.transport) {
    case Transport::Tcp: {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_options.port);
        if (::inet_pton(AF_INET, m_options.host.c_str(), &address.sin_addr) != 1) {
            *error = "bad listen address " + m_options.host;
            return false;
        }
        m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (m_listenFd < 0) {
            *error = ErrnoText("socket");
            return false;
        }
        const int on = 1;
        ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        socklen_t length = sizeof address;
        if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listenFd, 8) != 0 ||
            ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            *error = ErrnoText("listen on " + m_options.host + ":" + std::to_string(m_options.port));
            CloseFd(m_listenFd);
            return false;
        }
        m_port = ntohs(address.sin_port);
        return true;
    }
    case Transport::SerialPty: {
        m_serialFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (m_serialFd < 0 || ::grantpt(m_serialFd) != 0 || ::unlockpt(m_serialFd) != 0 ||
            ::ptsname_r(m_serialFd, name, sizeof name) != 0) {
            *error = ErrnoText("pseudo-terminal");
            CloseFd(m_serialFd);
            return false;
        }
        m_serialPath = name;
        // Raw on both ends, so that no echo or line editing touches a byte.
        // The slave keeps its settings for as long as the master stays open.
        int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0 || !MakeRaw(slave) || !MakeRaw(m_serialFd)) {
            *error = ErrnoText("raw mode on " + m_serialPath);
            CloseFd(slave);
            CloseFd(m_serialFd);
            return false;
        }
        CloseFd(slave);
        break;
    }
    case Transport::SerialDevice:
        m_serialPath = m_options.devicePath;
        m_serialFd = ::open(m_serialPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (m_serialFd < 0) {
            *error = ErrnoText("open " + m_serialPath);
            return false;
        }
        if (::isatty(m_serialFd) && !MakeRaw(m_serialFd)) {
            *error = ErrnoText("raw mode on " + m_serialPath);
            CloseFd(m_serialFd);
            return false;
        }
        break;
    }
    const int flags = ::fcntl(m_serialFd, F_GETFL);
    ::fcntl(m_serialFd, F_SETFL, flags | O_NONBLOCK);
    return true;
}

std::string ControllerSim::Banner() const {
    if (m_options.transport == Transport::Tcp)
        return "listening " + m_options.host + ":" + std::to_string(m_port);
    return "serial " + m_serialPath;
}

void ControllerSim::Stop() {
    const std::uint64_t one = 1;
    // The descriptor stays readable from now on: every wait sees the stop.
    [[maybe_unused]] const ssize_t n = ::write(m_stopFd, &one, sizeof one);
}

bool ControllerSim::StopRequested() const {
    pollfd p{m_stopFd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool ControllerSim::Pause(int ms) {
    pollfd p{m_stopFd, POLLIN, 0};
    return PollRetrying(&p, 1, ms) == 0;
}

Summary ControllerSim::GetSummary() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_summary;
}

bool ControllerSim::WaitForSessions(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return m_summary.sessions >= count; });
}

std::optional<Image> ControllerSim::LastImage() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lastImage;
}

void ControllerSim::Log(const std::string& line) const {
    if (m_options.verbose) std::fprintf(stderr, "sim: %s\n", line.c_str());
}

void ControllerSim::EndSession() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_summary.sessions;
    }
    m_changed.notify_all();
}

int ControllerSim::Run() {
    if (m_options.transport == Transport::Tcp)
        RunTcp();
    else
        RunSerial();
    return GetSummary().complete ? 0 : 1;
}

bool ControllerSim::SessionsDone() const {
    return m_options.sessions > 0 && GetSummary().sessions >= m_options.sessions;
}

void ControllerSim::RunTcp() {
    while (!SessionsDone()) {
        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        if (PollRetrying(fds, 2, -1) < 0 || fds[0].revents) return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors: give the system a moment rather than spin.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                if (!Pause(50)) return;
            continue;
        }
        Log("connection accepted");
        int conn = fd;
        SessionEnd end = SessionEnd::PeerClosed;
        if (m_options.mute)
            HoldMute(conn);
        else
            end = Serve(conn, true);
        CloseFd(conn);
        Log("connection closed");
        EndSession();
        if (end == SessionEnd::Stopped || StopRequested()) return;
    }
}

void ControllerSim::RunSerial() {
    if (m_options.mute) {
        pollfd p{m_stopFd, POLLIN, 0};
        PollRetrying(&p, 1, -1);
        return;
    }
    while (!SessionsDone()) {
        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {m_serialFd, POLLIN, 0}};
        if (PollRetrying(fds, 2, -1) < 0 || fds[0].revents) return;
        if (fds[1].revents & POLLIN) {
            Log("traffic on " + m_serialPath);
            const SessionEnd end = Serve(m_serialFd, false);
            EndSession();
            Log("line quiet again");
            if (end == SessionEnd::Stopped) return;
            if (end == SessionEnd::FaultClosed || end == SessionEnd::Failed) {
                CloseFd(m_serialFd);
                return;
            }
        } else if (fds[1].revents & POLLNVAL) {
            return;
        } else if (!Pause(kDetachedPollMs)) {
            // Hung up: no tool holds the far end open right now. The state
            // lasts until one does, so look again a little later.
            return;
        }
    }
}

void ControllerSim::HoldMute(int fd) {
    pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {fd, POLLRDHUP, 0}};
    PollRetrying(fds, 2, -1);
}

ControllerSim::SessionEnd ControllerSim::Serve(int fd, bool isSocket) {
    m_session.Reset();
    m_isSocket = isSocket;
    std::uint8_t buffer[4096];
    for (;;) {
        pollfd fds[2] = {{m_stopFd, POLLIN, 0},
                         {fd, static_cast<short>(POLLIN | (isSocket ? POLLRDHUP : 0)), 0}};
        const int n = PollRetrying(fds, 2, m_session.HasPartial() ? kPartialFrameGapMs : -1);
        if (n < 0) return SessionEnd::Failed;
        if (fds[0].revents) return SessionEnd::Stopped;
        if (n == 0) {
            const FrameOutcome outcome = m_session.FlushPartial();
            Record(outcome);
            if (!Perform(fd, outcome)) return StopRequested() ? SessionEnd::Stopped : SessionEnd::Failed;
            continue;
        }
        if (fds[1].revents & (POLLIN | POLLRDHUP)) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got == 0) return SessionEnd::PeerClosed;
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                if (errno == EIO) return SessionEnd::Hangup;  // the far end of the pty closed
                if (errno == ECONNRESET) return SessionEnd::PeerClosed;
                return SessionEnd::Failed;
            }
            bool closeNow = false;
            bool failed = false;
            m_session.Feed(buffer, static_cast<std::size_t>(got), [&](const FrameOutcome& outcome) {
                Record(outcome);
                if (outcome.reply == ReplyKind::Close) {
                    closeNow = true;
                    return false;
                }
                if (!Perform(fd, outcome)) {
                    failed = true;
                    return false;
                }
                return true;
            });
            if (closeNow) {
                Log("hanging up at frame " + std::to_string(m_session.NextFrame()));
                return SessionEnd::FaultClosed;
            }
            if (failed) return StopRequested() ? SessionEnd::Stopped : SessionEnd::Failed;
        } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return SessionEnd::Hangup;
        }
    }
}

void ControllerSim::Record(const FrameOutcome& outcome) {
    if (!outcome.valid)
        Log("frame " + std::to_string(outcome.frame) + " refused: " + outcome.problem);
    if (outcome.restarted) Log("block 0 out of turn: a new image begins");
    if (outcome.imageComplete) {
        // On disk before the last reply goes out: once the tool reports
        // success, the image is there to compare.
        if (!SaveImage(m_session.LastImage())) Log("cannot write " + m_options.imagePath);
        Log("image complete");
    }
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_summary.frames;
    if (!outcome.valid) ++m_summary.bad;
    if (outcome.imageComplete) {
        ++m_summary.images;
        m_lastImage = m_session.LastImage();
    }
    m_summary.complete = m_session.AttemptComplete();
}

bool ControllerSim::SaveImage(const Image& image) {
    if (m_options.imagePath.empty()) return true;
    // Written aside and renamed, so that nobody reads half an image.
    const std::string part = m_options.imagePath + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!out) return false;
    }
    std::error_code ec;
    std::filesystem::rename(part, m_options.imagePath, ec);
    return !ec;
}

bool ControllerSim::Perform(int fd, const FrameOutcome& outcome) {
    if (outcome.reply != ReplyKind::Send) return true;
    if (m_options.delayMs > 0 && !Pause(m_options.delayMs)) return false;
    if (m_options.dripMs < 0) return WriteAll(fd, outcome.replyBytes.data(), outcome.replyBytes.size());
    for (std::size_t i = 0; i < outcome.replyBytes.size(); ++i) {
        if (i > 0 && !Pause(m_options.dripMs)) return false;
        if (!WriteAll(fd, &outcome.replyBytes[i], 1)) return false;
    }
    return true;
}

bool ControllerSim::WriteAll(int fd, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = m_isSocket ? ::send(fd, data, length, MSG_NOSIGNAL) : ::write(fd, data, length);
        if (n > 0) {
            data += n;
            length -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {fd, POLLOUT, 0}};
        if (PollRetrying(fds, 2, kWriteStallMs) <= 0 || fds[0].revents) return false;
    }
    return true;
}

}  // namespace sim
