#include "platform/tcp_listener.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/socket_wait_win32.h"
#include "platform/system_error.h"
#include "platform/win32/winsock_win32.h"

namespace platform {

namespace {
SOCKET Sock(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

std::string SocketErrorText(const std::string& step) {
    const int code = ::WSAGetLastError();
    std::string text = SystemErrorText(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return step + ": " + (text.empty() ? "error " + std::to_string(code) : text);
}
}  // namespace

TcpListener::~TcpListener() {
    if (m_handle != -1) ::closesocket(Sock(m_handle));
}

bool TcpListener::Listen(const std::string& host, std::uint16_t port, int backlog, std::string* error) {
    return Bind(host, port, backlog, error);
}

bool TcpListener::Reserve(const std::string& host, std::uint16_t port, std::string* error) {
    return Bind(host, port, -1, error);
}

// Binds, and listens unless `backlog` is negative.
bool TcpListener::Bind(const std::string& host, std::uint16_t port, int backlog, std::string* error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        *error = "bad listen address " + host;
        return false;
    }
    if (!StartWinsock()) {
        *error = "socket: Winsock could not be started";
        return false;
    }
    // Overlapped as socket() makes it, and not inherited by child processes.
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        *error = SocketErrorText("socket");
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
        *error = SocketErrorText("listen on " + host + ":" + std::to_string(port));
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
