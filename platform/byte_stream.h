#pragma once
// One end of a byte stream that a server reads and writes without blocking:
// an accepted TCP connection (TcpListener) or the simulator's end of a serial
// line (pseudo_terminal.h). Every wait also ends when `stop` is signalled.

#include <cstddef>
#include <cstdint>

#include "platform/event.h"

namespace platform {

enum class StreamReady {
    Stopped,   // `stop` is signalled
    Data,      // bytes to read, or the peer's end (a read tells which)
    HungUp,    // no peer holds the far end of the line at the moment
    Invalid,   // the handle is no open stream
    Timeout,
    Failed,
};

// What Read gives besides a count of bytes (>0) or 0 for the peer's end.
inline constexpr long kReadAgain = -1;   // nothing there after all
inline constexpr long kReadHungUp = -2;  // the far end of a line was closed
inline constexpr long kReadReset = -3;   // the peer reset the connection
inline constexpr long kReadFailed = -4;

class ByteStream {
public:
    ByteStream() = default;
    ~ByteStream() { Close(); }
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;

    bool IsOpen() const { return m_handle != kNone; }
    void Close();
    // Closes a connection with a reset instead of an orderly end.
    void Abort();

    // Waits until there is something to read or the peer has gone
    // (kInfinite: no limit).
    StreamReady WaitReadable(Event& stop, std::int64_t timeoutMs);
    long Read(void* buffer, std::size_t length);
    // Writes all of it; false when stopped, failed, or when the peer took
    // nothing for stallMs.
    bool WriteAll(const std::uint8_t* data, std::size_t length, Event& stop, int stallMs);
    // Holds a connection open without reading it until the peer closes it or
    // `stop` is signalled.
    void HoldUntilClosed(Event& stop);

    // The OS handle: a socket, or a descriptor on POSIX.
    std::intptr_t Handle() const { return m_handle; }

    // For the files of platform/ that open streams: the OS handle (a socket
    // or a descriptor), taken over.
    void Adopt(std::intptr_t handle, bool isSocket) {
        Close();
        m_handle = handle;
        m_isSocket = isSocket;
    }

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t m_handle = kNone;
    bool m_isSocket = false;
};

}  // namespace platform
