#pragma once
// Loopback TCP peers for the channel tests: a listener on 127.0.0.1 on a port
// of the system's choosing, the accepted end of a connection, a port that
// refuses, and a listener that never answers. Nothing here leaves 127.0.0.0/8.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace loopback {

// 127.0.0.1 in network byte order, as the channel takes it.
inline std::uint32_t Address() { return htonl(INADDR_LOOPBACK); }

namespace detail {
inline int Remaining(std::chrono::steady_clock::time_point end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

inline std::chrono::steady_clock::time_point After(int ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

inline sockaddr_in LoopbackEndpoint(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = Address();
    a.sin_port = htons(port);
    return a;
}

// A socket bound to 127.0.0.1 on a free port; -1 on failure.
inline int BoundSocket(std::uint16_t* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a = LoopbackEndpoint(0);
    socklen_t length = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}
}  // namespace detail

// One end of an established connection, owned.
class Connection {
public:
    Connection() = default;
    explicit Connection(int fd) : m_fd(fd) {}
    ~Connection() { Close(); }
    Connection(Connection&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Connection& operator=(Connection&& other) noexcept {
        if (this != &other) {
            Close();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }

    bool IsValid() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

    bool Send(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Up to `count` bytes, returned once that many have come, the peer has
    // closed, or the time is up.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs) {
        std::vector<std::uint8_t> bytes;
        const auto end = detail::After(timeoutMs);
        while (bytes.size() < count) {
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, detail::Remaining(end));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;
            std::uint8_t chunk[512];
            const std::size_t want = std::min(sizeof chunk, count - bytes.size());
            const ssize_t n = ::recv(m_fd, chunk, want, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    // True when the other end has closed (or reset) the connection within the
    // time; data still on the way is read and dropped.
    bool WaitForClose(int timeoutMs) {
        const auto end = detail::After(timeoutMs);
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, detail::Remaining(end));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return false;
            std::uint8_t chunk[512];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return true;
        }
    }

    // Closes with a reset instead of an orderly end.
    void Abort() {
        if (m_fd < 0) return;
        const linger hard{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        Close();
    }

    void Close() {
        if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
    }

private:
    int m_fd = -1;
};

// A listener on 127.0.0.1. The kernel completes connections to it before
// Accept, so a channel's Open succeeds without a thread on this side.
class Listener {
public:
    explicit Listener(int backlog = 16) {
        m_fd = detail::BoundSocket(&m_port);
        if (m_fd >= 0 && ::listen(m_fd, backlog) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Listener() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool IsValid() const { return m_fd >= 0; }
    std::uint16_t Port() const { return m_port; }
    int Fd() const { return m_fd; }

    Connection Accept(int timeoutMs = 5000) {
        pollfd p{m_fd, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) return Connection();
        return Connection(::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC));
    }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// A port on 127.0.0.1 that is bound but never listens: it stays ours for the
// test, and every connection attempt to it is refused at once.
class RefusingPort {
public:
    RefusingPort() { m_fd = detail::BoundSocket(&m_port); }
    ~RefusingPort() {
        if (m_fd >= 0) ::close(m_fd);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    bool IsValid() const { return m_fd >= 0; }
    std::uint16_t Port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// A listener on 127.0.0.1 where nobody answers: its backlog is 0 and nobody
// accepts, so once one completed connection fills its accept queue, the kernel
// drops every further SYN (syncookies don't change that; they only stand in
// for a full SYN queue). Set-up fills the queue with client sockets and keeps
// the first client that gets no answer as proof; Ready() is false, with a
// reason, when the queue could not be filled that way.
class SilentListener {
public:
    explicit SilentListener(int probeMs = 300) {
        m_fd = detail::BoundSocket(&m_port);
        if (m_fd < 0 || ::listen(m_fd, 0) != 0) {
            m_reason = "could not set up a loopback listener";
            return;
        }
        const sockaddr_in peer = detail::LoopbackEndpoint(m_port);
        for (int attempt = 0; attempt < kMaxClients; ++attempt) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (c < 0) {
                m_reason = "could not create a client socket";
                return;
            }
            m_clients.push_back(c);
            if (::connect(c, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) continue;
            if (errno != EINPROGRESS) {
                m_reason = "a client connect failed at once";
                return;
            }
            pollfd p{c, POLLOUT, 0};
            int ready;
            do {
                ready = ::poll(&p, 1, probeMs);
            } while (ready < 0 && errno == EINTR);
            if (ready == 0) {
                m_ready = true;  // this probe's SYN went unanswered
                return;
            }
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(c, SOL_SOCKET, SO_ERROR, &error, &length);
            if (ready < 0 || error != 0) {
                m_reason = "a client connect to the listener failed";
                return;
            }
        }
        m_reason = "every connect completed: the kernel keeps answering a full accept queue";
    }
    ~SilentListener() {
        for (const int c : m_clients) ::close(c);
        if (m_fd >= 0) ::close(m_fd);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    bool Ready() const { return m_ready; }
    const std::string& Reason() const { return m_reason; }
    std::uint16_t Port() const { return m_port; }

private:
    static constexpr int kMaxClients = 8;
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::vector<int> m_clients;
    bool m_ready = false;
    std::string m_reason;
};

}  // namespace loopback
