#include "platform/tcp_socket.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace platform {

std::size_t DiscardIncoming(SocketHandle s, int quietMs, int limitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::size_t dropped = 0;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return dropped;
        if (WaitReadable(s, static_cast<int>(std::min<std::int64_t>(quietMs, left.count()))) <= 0) return dropped;
        std::uint8_t chunk[256];
        const long n = ReceiveWaiting(s, chunk, sizeof chunk);
        if (n <= 0) return dropped;  // closed, or an error the next receive will see
        dropped += static_cast<std::size_t>(n);
    }
}

}  // namespace platform
