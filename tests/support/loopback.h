#pragma once
// Loopback TCP peers for the channel tests: a listener on 127.0.0.1 on a port
// of the system's choosing, the accepted end of a connection, a port that
// refuses, and a listener that never answers. Nothing here leaves 127.0.0.0/8.
// Built on the sockets of platform/, so that it serves on every OS.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/byte_stream.h"
#include "platform/event.h"
#include "platform/tcp_listener.h"
#include "platform/tcp_socket.h"

namespace loopback {

// 127.0.0.1 in network byte order, as the channel takes it.
inline std::uint32_t Address() { return platform::HostToNetwork32(0x7F000001u); }

namespace detail {
inline const std::string kHost = "127.0.0.1";

inline std::int64_t Remaining(std::chrono::steady_clock::time_point end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return left.count() > 0 ? left.count() : 0;
}

inline std::chrono::steady_clock::time_point After(int ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

// A peer that takes nothing for this long fails a Send.
constexpr int kSendStallMs = 10000;
}  // namespace detail

// One end of an established connection, owned.
class Connection {
public:
    Connection() = default;
    explicit Connection(std::unique_ptr<platform::ByteStream> stream)
        : m_stream(std::move(stream)), m_never(std::make_unique<platform::Event>(platform::ResetMode::Manual, false)) {}

    bool IsValid() const { return m_stream && m_stream->IsOpen(); }
    // The descriptor, for tests that watch it with poll(2) themselves.
    int Fd() const { return IsValid() ? static_cast<int>(m_stream->Handle()) : -1; }

    bool Send(const std::vector<std::uint8_t>& bytes) {
        return IsValid() && m_stream->WriteAll(bytes.data(), bytes.size(), *m_never, detail::kSendStallMs);
    }

    // Up to `count` bytes, returned once that many have come, the peer has
    // closed, or the time is up.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs) {
        std::vector<std::uint8_t> bytes;
        if (!IsValid()) return bytes;
        const auto end = detail::After(timeoutMs);
        while (bytes.size() < count) {
            if (m_stream->WaitReadable(*m_never, detail::Remaining(end)) != platform::StreamReady::Data)
                break;
            std::uint8_t chunk[512];
            const std::size_t want = std::min(sizeof chunk, count - bytes.size());
            const long n = m_stream->Read(chunk, want);
            if (n == platform::kReadAgain) continue;
            if (n <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    // True when the other end has closed (or reset) the connection within the
    // time; data still on the way is read and dropped.
    bool WaitForClose(int timeoutMs) {
        if (!IsValid()) return true;
        const auto end = detail::After(timeoutMs);
        for (;;) {
            if (m_stream->WaitReadable(*m_never, detail::Remaining(end)) != platform::StreamReady::Data)
                return false;
            std::uint8_t chunk[512];
            const long n = m_stream->Read(chunk, sizeof chunk);
            if (n == 0 || (n < 0 && n != platform::kReadAgain)) return true;
        }
    }

    // Closes with a reset instead of an orderly end.
    void Abort() {
        if (m_stream) m_stream->Abort();
    }

    void Close() {
        m_stream.reset();
        m_never.reset();
    }

private:
    std::unique_ptr<platform::ByteStream> m_stream;
    // The stop of waits that only a time limit ends; the connection's own,
    // so that it holds nothing once closed.
    std::unique_ptr<platform::Event> m_never;
};

// A listener on 127.0.0.1. The kernel completes connections to it before
// Accept, so a channel's Open succeeds without a thread on this side.
class Listener {
public:
    explicit Listener(int backlog = 16) {
        std::string error;
        m_valid = m_listener.Listen(detail::kHost, 0, backlog, &error);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool IsValid() const { return m_valid; }
    std::uint16_t Port() const { return m_listener.Port(); }
    int Fd() const { return m_valid ? static_cast<int>(m_listener.Handle()) : -1; }

    Connection Accept(int timeoutMs = 5000) {
        auto stream = std::make_unique<platform::ByteStream>();
        if (!m_valid || m_listener.Accept(m_never, stream.get(), timeoutMs) != platform::AcceptEnd::Accepted)
            return Connection();
        return Connection(std::move(stream));
    }

private:
    platform::TcpListener m_listener;
    platform::Event m_never{platform::ResetMode::Manual, false};
    bool m_valid = false;
};

// A port on 127.0.0.1 that is bound but never listens: it stays ours for the
// test, and every connection attempt to it is refused at once.
class RefusingPort {
public:
    RefusingPort() {
        std::string error;
        m_valid = m_port.Reserve(detail::kHost, 0, &error);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    bool IsValid() const { return m_valid; }
    std::uint16_t Port() const { return m_port.Port(); }

private:
    platform::TcpListener m_port;
    bool m_valid = false;
};

// A listener on 127.0.0.1 where nobody answers: its backlog is 0 and nobody
// accepts, so once one completed connection fills its accept queue, the kernel
// drops every further SYN (syncookies don't change that; they only stand in
// for a full SYN queue). Set-up fills the queue with client sockets and keeps
// the first client that gets no answer as proof; Ready() is false, with a
// reason, when the queue could not be filled that way. (Windows answers a
// full queue with a reset; the channel, which watches only for the socket to
// become writable, sees that as silence too.)
class SilentListener {
public:
    explicit SilentListener(int probeMs = 300) {
        std::string error;
        if (!m_listener.Listen(detail::kHost, 0, 0, &error)) {
            m_reason = "could not set up a loopback listener";
            return;
        }
        for (int attempt = 0; attempt < kMaxClients; ++attempt) {
            const platform::SocketHandle c = platform::CreateTcpSocket();
            if (c == platform::kInvalidSocket || !platform::SetSocketNonBlocking(c, true)) {
                platform::CloseSocket(c);
                m_reason = "could not create a client socket";
                return;
            }
            m_clients.push_back(c);
            platform::StartConnect(c, Address(), m_listener.Port());
            const int ready = platform::SelectWritable(c, probeMs / 1000, (probeMs % 1000) * 1000L);
            if (ready == 0) {
                m_ready = true;  // this probe's SYN went unanswered
                return;
            }
            if (ready < 0 || !platform::ConnectSucceeded(c)) {
                m_reason = "a client connect to the listener failed";
                return;
            }
        }
        m_reason = "every connect completed: the kernel keeps answering a full accept queue";
    }
    ~SilentListener() {
        for (const platform::SocketHandle c : m_clients) platform::CloseSocket(c);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    bool Ready() const { return m_ready; }
    const std::string& Reason() const { return m_reason; }
    std::uint16_t Port() const { return m_listener.Port(); }

private:
    static constexpr int kMaxClients = 8;
    platform::TcpListener m_listener;
    std::vector<platform::SocketHandle> m_clients;
    bool m_ready = false;
    std::string m_reason;
};

}  // namespace loopback
