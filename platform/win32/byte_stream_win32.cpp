#include "platform/byte_stream.h"

#include <winsock2.h>

#include <algorithm>
#include <climits>

#include "platform/poll_deadline.h"
#include "platform/win32/socket_wait_win32.h"

namespace platform {

namespace {
// How long the stop may go unseen while a socket is watched.
constexpr std::int64_t kStopSliceMs = 10;

SOCKET Sock(std::intptr_t handle) { return static_cast<SOCKET>(handle); }
}  // namespace

SocketWaitEnd WaitSocketOrStop(SOCKET s, bool forWrite, Event& stop, std::int64_t timeoutMs) {
    const Deadline deadline(timeoutMs);
    for (;;) {
        if (stop.IsSignalled()) return SocketWaitEnd::Stopped;
        const int left = deadline.RemainingPollMs();
        const auto slice = left < 0 ? kStopSliceMs : std::min<std::int64_t>(left, kStopSliceMs);
        timeval limit{0, static_cast<long>(slice * 1000)};
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        const int n = forWrite ? ::select(0, nullptr, &set, nullptr, &limit) : ::select(0, &set, nullptr, nullptr, &limit);
        if (n > 0) return SocketWaitEnd::Ready;
        if (n < 0) return SocketWaitEnd::Failed;
        if (deadline.Expired()) return stop.IsSignalled() ? SocketWaitEnd::Stopped : SocketWaitEnd::Timeout;
    }
}

void ByteStream::Close() {
    if (m_handle != kNone) ::closesocket(Sock(m_handle));
    m_handle = kNone;
}

void ByteStream::Abort() {
    if (m_handle == kNone) return;
    const linger hard{1, 0};
    ::setsockopt(Sock(m_handle), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    Close();
}

// Only sockets are streams here: Windows offers the simulator no serial end.
StreamReady ByteStream::WaitReadable(Event& stop, std::int64_t timeoutMs) {
    if (m_handle == kNone) return StreamReady::Invalid;
    switch (WaitSocketOrStop(Sock(m_handle), false, stop, timeoutMs)) {
    case SocketWaitEnd::Stopped: return StreamReady::Stopped;
    case SocketWaitEnd::Ready: return StreamReady::Data;
    case SocketWaitEnd::Timeout: return StreamReady::Timeout;
    case SocketWaitEnd::Failed: break;
    }
    return ::WSAGetLastError() == WSAENOTSOCK ? StreamReady::Invalid : StreamReady::Failed;
}

long ByteStream::Read(void* buffer, std::size_t length) {
    const int got = ::recv(Sock(m_handle), static_cast<char*>(buffer), static_cast<int>(std::min<std::size_t>(length, INT_MAX)), 0);
    if (got >= 0) return got;
    switch (::WSAGetLastError()) {
    case WSAEWOULDBLOCK:
    case WSAEINTR: return kReadAgain;
    case WSAECONNRESET:
    case WSAECONNABORTED: return kReadReset;
    default: return kReadFailed;
    }
}

bool ByteStream::WriteAll(const std::uint8_t* data, std::size_t length, Event& stop, int stallMs) {
    while (length > 0) {
        const int n = ::send(Sock(m_handle), reinterpret_cast<const char*>(data), static_cast<int>(std::min<std::size_t>(length, INT_MAX)), 0);
        if (n > 0) {
            data += n;
            length -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK) return false;
        if (WaitSocketOrStop(Sock(m_handle), true, stop, stallMs) != SocketWaitEnd::Ready) return false;
    }
    return true;
}

void ByteStream::HoldUntilClosed(Event& stop) {
    // Winsock cannot tell the peer's end from data without reading: what the
    // peer sends while held is read and dropped, and the hold ends with it.
    char chunk[512];
    while (WaitSocketOrStop(Sock(m_handle), false, stop, kInfinite) == SocketWaitEnd::Ready) {
        const int n = ::recv(Sock(m_handle), chunk, sizeof chunk, 0);
        if (n == 0 || (n < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK)) return;
    }
}

}  // namespace platform
