#include "platform/byte_stream.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/event_posix.h"

namespace platform {

namespace {
int Fd(std::intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

void ByteStream::Close() {
    if (m_handle != kNone) ::close(Fd(m_handle));
    m_handle = kNone;
}

void ByteStream::Abort() {
    if (m_handle == kNone) return;
    const linger hard{1, 0};
    ::setsockopt(Fd(m_handle), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Close();
}

StreamReady ByteStream::WaitReadable(Event& stop, std::int64_t timeoutMs) {
    Event* stops[] = {&stop};
    short revents = 0;
    // A socket's peer that closes its side wakes the wait as data would.
    const short wanted = static_cast<short>(POLLIN | (m_isSocket ? POLLRDHUP : 0));
    const int woke = WaitForAnyOrDescriptor(stops, Fd(m_handle), wanted, timeoutMs, &revents);
    if (woke == 0) return StreamReady::Stopped;
    if (woke == kWaitTimeout) return StreamReady::Timeout;
    if (woke != 1) return StreamReady::Failed;
    if (revents & wanted) return StreamReady::Data;
    if (revents & POLLNVAL) return StreamReady::Invalid;
    return StreamReady::HungUp;
}

long ByteStream::Read(void* buffer, std::size_t length) {
    const ssize_t got = ::read(Fd(m_handle), buffer, length);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR || errno == EAGAIN) return kReadAgain;
    if (errno == EIO) return kReadHungUp;  // the far end of a pseudo-terminal closed
    if (errno == ECONNRESET) return kReadReset;
    return kReadFailed;
}

bool ByteStream::WriteAll(const std::uint8_t* data, std::size_t length, Event& stop, int stallMs) {
    while (length > 0) {
        const ssize_t n = m_isSocket ? ::send(Fd(m_handle), data, length, MSG_NOSIGNAL)
                                     : ::write(Fd(m_handle), data, length);
        if (n > 0) {
            data += n;
            length -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        Event* stops[] = {&stop};
        short revents = 0;
        if (WaitForAnyOrDescriptor(stops, Fd(m_handle), POLLOUT, stallMs, &revents) != 1) return false;
    }
    return true;
}

void ByteStream::HoldUntilClosed(Event& stop) {
    Event* stops[] = {&stop};
    short revents = 0;
    WaitForAnyOrDescriptor(stops, Fd(m_handle), POLLRDHUP, kInfinite, &revents);
}

}  // namespace platform
