#include "platform/tcp_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {
// The handle holds a descriptor here.
int Fd(SocketHandle s) { return static_cast<int>(s); }
}  // namespace

std::uint32_t HostToNetwork32(std::uint32_t value) { return htonl(value); }
std::uint32_t NetworkToHost32(std::uint32_t value) { return ntohl(value); }

SocketHandle CreateTcpSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

bool SetSocketNonBlocking(SocketHandle s, bool nonBlocking) {
    const int flags = ::fcntl(Fd(s), F_GETFL);
    if (flags < 0) return false;
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(Fd(s), F_SETFL, wanted) == 0;
}

int StartConnect(SocketHandle s, std::uint32_t addressNetworkOrder, std::uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = addressNetworkOrder;
    return ::connect(Fd(s), reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
}

int SelectWritable(SocketHandle s, long seconds, long microseconds) {
    if (seconds < 0 || microseconds < 0) {
        errno = EINVAL;
        return -1;
    }
    if (s >= 0 && s < FD_SETSIZE) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(Fd(s), &writable);
        timeval limit{seconds, microseconds};
        int n;
        do {
            n = ::select(Fd(s) + 1, nullptr, &writable, nullptr, &limit);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    // select cannot watch a descriptor beyond FD_SETSIZE.
    pollfd p{Fd(s), POLLOUT, 0};
    const long long ms = seconds * 1000LL + (microseconds + 999) / 1000;
    int n;
    do {
        n = ::poll(&p, 1, static_cast<int>(ms > 0x7fffffff ? 0x7fffffff : ms));
    } while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & (POLLOUT | POLLERR | POLLHUP)) ? 1 : n;
}

bool ConnectSucceeded(SocketHandle s) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
    // A connect the kernel rejected at once (a broadcast address, no route)
    // leaves no pending error, yet the socket selects as writable: only a
    // peer address proves the connection.
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    return ::getpeername(Fd(s), reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0;
}

namespace {
bool SetTimeout(SocketHandle s, int option, std::uint32_t milliseconds) {
    timeval limit{static_cast<time_t>(milliseconds / 1000),
                  static_cast<suseconds_t>((milliseconds % 1000) * 1000)};
    return ::setsockopt(Fd(s), SOL_SOCKET, option, &limit, sizeof limit) == 0;
}
}  // namespace

bool SetReceiveTimeout(SocketHandle s, std::uint32_t milliseconds) {
    return SetTimeout(s, SO_RCVTIMEO, milliseconds);
}

bool SetSendTimeout(SocketHandle s, std::uint32_t milliseconds) {
    return SetTimeout(s, SO_SNDTIMEO, milliseconds);
}

long SendBytes(SocketHandle s, const void* data, std::size_t length) {
    ssize_t n;
    do {
        n = ::send(Fd(s), data, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long ReceiveBytes(SocketHandle s, void* buffer, std::size_t length) {
    ssize_t n;
    do {
        n = ::recv(Fd(s), buffer, length, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

int WaitReadable(SocketHandle s, int milliseconds) {
    pollfd p{Fd(s), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, milliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

long ReceiveWaiting(SocketHandle s, void* buffer, std::size_t length) {
    ssize_t n;
    do {
        n = ::recv(Fd(s), buffer, length, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

void CloseSocket(SocketHandle s) {
    if (s >= 0) ::close(Fd(s));
}

namespace {
std::int64_t TimeoutMs(SocketHandle s, int option) {
    timeval limit{};
    socklen_t length = sizeof limit;
    if (::getsockopt(Fd(s), SOL_SOCKET, option, &limit, &length) != 0) return -1;
    return static_cast<std::int64_t>(limit.tv_sec) * 1000 + limit.tv_usec / 1000;
}
}  // namespace

std::int64_t ReceiveTimeoutMs(SocketHandle s) { return TimeoutMs(s, SO_RCVTIMEO); }
std::int64_t SendTimeoutMs(SocketHandle s) { return TimeoutMs(s, SO_SNDTIMEO); }

long BytesWaiting(SocketHandle s) {
    int waiting = 0;
    return ::ioctl(Fd(s), FIONREAD, &waiting) == 0 ? waiting : -1L;
}

}  // namespace platform
