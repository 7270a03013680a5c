#include "platform/tcp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/event_posix.h"
#include "platform/system_error.h"

namespace platform {

TcpListener::~TcpListener() {
    if (m_handle >= 0) ::close(static_cast<int>(m_handle));
}

bool TcpListener::BindAddress(std::uint32_t host, std::uint16_t port, int backlog, const std::string& where,
                              std::string* error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = StepErrorText("socket", errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || (backlog >= 0 && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        *error = StepErrorText(where, errno);
        ::close(fd);
        return false;
    }
    m_handle = fd;
    m_port = ntohs(address.sin_port);
    return true;
}

AcceptEnd TcpListener::Accept(Event& stop, ByteStream* connection, std::int64_t timeoutMs) {
    Event* stops[] = {&stop};
    short revents = 0;
    const int woke = WaitForAnyOrDescriptor(stops, static_cast<int>(m_handle), POLLIN, timeoutMs, &revents);
    if (woke == 0) return AcceptEnd::Stopped;
    if (woke == kWaitTimeout) return AcceptEnd::Timeout;
    if (woke != 1) return AcceptEnd::Failed;
    const int fd = ::accept4(static_cast<int>(m_handle), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            return AcceptEnd::OutOfResources;
        return AcceptEnd::Retry;
    }
    connection->Adopt(fd, true);
    return AcceptEnd::Accepted;
}

}  // namespace platform
