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
    std::uint16_t Port() const { return m_port; }

    // Waits for a connection; an accepted one never blocks.
    AcceptEnd Accept(Event& stop, ByteStream* connection);

private:
    std::intptr_t m_handle = -1;
    std::uint16_t m_port = 0;
};

}  // namespace platform
