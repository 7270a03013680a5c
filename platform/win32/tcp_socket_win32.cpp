#include "platform/tcp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>

#include "platform/win32/winsock_win32.h"

namespace platform {

namespace {
SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

// Winsock takes lengths as int: a larger buffer goes in pieces of this size.
constexpr std::size_t kLargestTransfer = INT_MAX;

// A time-out as select takes it; false for a negative one, which Winsock
// would refuse too.
bool MakeTimeval(long seconds, long microseconds, timeval* limit) {
    if (seconds < 0 || microseconds < 0) return false;
    limit->tv_sec = seconds;
    limit->tv_usec = microseconds;
    return true;
}
}  // namespace

bool StartWinsock() {
    // Started once for the whole process and never cleaned up: sockets may be
    // closed by detached threads until the very end.
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

std::uint32_t HostToNetwork32(std::uint32_t value) { return htonl(value); }
std::uint32_t NetworkToHost32(std::uint32_t value) { return ntohl(value); }

SocketHandle CreateTcpSocket() {
    if (!StartWinsock()) return kInvalidSocket;
    // WSASocketW rather than socket: the handle is created not inheritable,
    // so that no child process keeps a connection of ours open. Overlapped,
    // as socket() makes it: SO_RCVTIMEO and SO_SNDTIMEO work only on such a
    // socket, and a blocking receive on another kind waits for ever.
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

bool SetSocketNonBlocking(SocketHandle s, bool nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    return ::ioctlsocket(Sock(s), FIONBIO, &mode) != SOCKET_ERROR;
}

int StartConnect(SocketHandle s, std::uint32_t addressNetworkOrder, std::uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = addressNetworkOrder;
    return ::connect(Sock(s), reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
}

int SelectWritable(SocketHandle s, long seconds, long microseconds) {
    timeval limit{};
    if (!MakeTimeval(seconds, microseconds, &limit)) {
        ::WSASetLastError(WSAEINVAL);
        return -1;
    }
    // Only the write set: a refused attempt shows in the exception set, which
    // is not watched, so it lasts until the time-out like a silent peer.
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(Sock(s), &writable);
    return ::select(0, nullptr, &writable, nullptr, &limit);
}

bool ConnectSucceeded(SocketHandle s) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
        error != 0)
        return false;
    sockaddr_in peer{};
    int peerLength = sizeof peer;
    return ::getpeername(Sock(s), reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0;
}

namespace {
// Winsock takes both time-outs as a DWORD count of milliseconds, 0 for none.
bool SetTimeout(SocketHandle s, int option, std::uint32_t milliseconds) {
    const DWORD value = milliseconds;
    return ::setsockopt(Sock(s), SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}
}  // namespace

bool SetReceiveTimeout(SocketHandle s, std::uint32_t milliseconds) {
    return SetTimeout(s, SO_RCVTIMEO, milliseconds);
}

bool SetSendTimeout(SocketHandle s, std::uint32_t milliseconds) {
    return SetTimeout(s, SO_SNDTIMEO, milliseconds);
}

long SendBytes(SocketHandle s, const void* data, std::size_t length) {
    // One send, as the channel asks; a length beyond int is sent in part and
    // counts as a short send.
    const int n = ::send(Sock(s), static_cast<const char*>(data),
                         static_cast<int>(std::min(length, kLargestTransfer)), 0);
    return n == SOCKET_ERROR ? -1L : static_cast<long>(n);
}

long ReceiveBytes(SocketHandle s, void* buffer, std::size_t length) {
    const int n = ::recv(Sock(s), static_cast<char*>(buffer), static_cast<int>(std::min(length, kLargestTransfer)), 0);
    return n == SOCKET_ERROR ? -1L : static_cast<long>(n);
}

int WaitReadable(SocketHandle s, int milliseconds) {
    timeval limit{static_cast<long>(milliseconds / 1000), static_cast<long>((milliseconds % 1000) * 1000)};
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Sock(s), &readable);
    return ::select(0, &readable, nullptr, nullptr, &limit);
}

long ReceiveWaiting(SocketHandle s, void* buffer, std::size_t length) {
    // There is no receive that never blocks on a blocking socket: ask for no
    // more than is waiting. Readable with nothing waiting is the end of the
    // connection, or an error the next receive will see.
    u_long waiting = 0;
    if (::ioctlsocket(Sock(s), FIONREAD, &waiting) == SOCKET_ERROR) return -1;
    if (waiting == 0) return 0;
    const int n = ::recv(Sock(s), static_cast<char*>(buffer),
                         static_cast<int>(std::min<std::size_t>({waiting, length, kLargestTransfer})), 0);
    return n == SOCKET_ERROR ? -1L : static_cast<long>(n);
}

void CloseSocket(SocketHandle s) {
    if (s != kInvalidSocket) ::closesocket(Sock(s));
}

namespace {
std::int64_t TimeoutMs(SocketHandle s, int option) {
    DWORD value = 0;
    int length = sizeof value;
    if (::getsockopt(Sock(s), SOL_SOCKET, option, reinterpret_cast<char*>(&value), &length) != 0) return -1;
    return static_cast<std::int64_t>(value);
}
}  // namespace

std::int64_t ReceiveTimeoutMs(SocketHandle s) { return TimeoutMs(s, SO_RCVTIMEO); }
std::int64_t SendTimeoutMs(SocketHandle s) { return TimeoutMs(s, SO_SNDTIMEO); }

long BytesWaiting(SocketHandle s) {
    u_long waiting = 0;
    if (::ioctlsocket(Sock(s), FIONREAD, &waiting) == SOCKET_ERROR) return -1;
    return static_cast<long>(std::min<u_long>(waiting, LONG_MAX));
}

}  // namespace platform
