#pragma once
// A TCP listener on one IPv4 address, for the controller simulator: binds,
// listens, and accepts one connection at a time until told to stop.

#include <cstdint>
#include <string>

#include "platform/byte_stream.h"
#include "platform/event.h"

namespace platform {

enum class AcceptEnd {
    Accepted,
    Stopped,          // `stop` is signalled
    OutOfResources,   // no descriptor or buffer for a connection just now
    Retry,            // the connection went away before it was taken
    Timeout,
    Failed,           // the wait itself failed
};

class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds `host` (a dotted IPv4 address) and `port` (0: the system's
    // choice) and listens with `backlog`. False with a reason.
    bool Listen(const std::string& host, std::uint16_t port, int backlog, std::string* error);
    // Binds without listening: the port stays ours, and every connection
    // attempt to it is refused.
    bool Reserve(const std::string& host, std::uint16_t port, std::string* error);
    std::uint16_t Port() const { return m_port; }
    // The OS handle: a socket, or a descriptor on POSIX; -1 before Listen.
    std::intptr_t Handle() const { return m_handle; }

    // Waits for a connection (kInfinite: no limit); an accepted one never
    // blocks.
    AcceptEnd Accept(Event& stop, ByteStream* connection, std::int64_t timeoutMs = kInfinite);

private:
    bool Bind(const std::string& host, std::uint16_t port, int backlog, std::string* error);
    // The OS's part of Bind, for `address` in host order; `where` is the step
    // a failure names.
    bool BindAddress(std::uint32_t address, std::uint16_t port, int backlog, const std::string& where,
                     std::string* error);

    std::intptr_t m_handle = -1;
    std::uint16_t m_port = 0;
};

}  // namespace platform
