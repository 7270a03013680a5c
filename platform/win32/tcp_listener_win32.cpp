#include "platform/tcp_listener.h"

#include <winsock2.h>

#include "platform/win32/socket_wait_win32.h"
#include "platform/system_error.h"
#include "platform/win32/winsock_win32.h"

namespace platform {

namespace {
SOCKET Sock(std::intptr_t handle) { return static_cast<SOCKET>(handle); }
}  // namespace

TcpListener::~TcpListener() {
    if (m_handle != -1) ::closesocket(Sock(m_handle));
}

bool TcpListener::BindAddress(std::uint32_t host, std::uint16_t port, int backlog, const std::string& where,
                              std::string* error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host);
    if (!StartWinsock()) {
        *error = "socket: Winsock could not be started";
        return false;
    }
    // Overlapped as socket() makes it, and not inherited by child processes.
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        *error = StepErrorText("socket", ::WSAGetLastError());
        return false;
    }
    // No SO_REUSEADDR: on Windows it would let another program take the port
    // from under the listener. Exclusive use instead.
    const BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    u_long nonBlocking = 1;
    int length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || (backlog >= 0 && ::listen(s, backlog) != 0) ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        *error = StepErrorText(where, ::WSAGetLastError());
        ::closesocket(s);
        return false;
    }
    m_handle = static_cast<std::intptr_t>(s);
    m_port = ntohs(address.sin_port);
    return true;
}

AcceptEnd TcpListener::Accept(Event& stop, ByteStream* connection, std::int64_t timeoutMs) {
    switch (WaitSocketOrStop(Sock(m_handle), false, stop, timeoutMs)) {
    case SocketWaitEnd::Stopped: return AcceptEnd::Stopped;
    case SocketWaitEnd::Timeout: return AcceptEnd::Timeout;
    case SocketWaitEnd::Ready: break;
    default: return AcceptEnd::Failed;
    }
    // The accepted socket is non-blocking like the listener.
    const SOCKET s = ::accept(Sock(m_handle), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        const int code = ::WSAGetLastError();
        if (code == WSAEMFILE || code == WSAENOBUFS) return AcceptEnd::OutOfResources;
        return AcceptEnd::Retry;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    connection->Adopt(static_cast<std::intptr_t>(s), true);
    return AcceptEnd::Accepted;
}

}  // namespace platform
