#pragma once
// What the simulator's tests share: frames to send, the simulator on a
// thread of the test, and a peer that talks to it as the tool would.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/download_frame.h"
#include "platform/byte_stream.h"
#include "platform/tcp_socket.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "tools/controller_sim/controller_sim.h"

namespace sim_test {

using support::Bytes;

inline constexpr int kWaitMs = 5000;

inline Bytes Data(int frame) {
    Bytes data(kFrameDataSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(frame + 5 * i);
    return data;
}

inline Bytes Frame(int n) {
    const DownloadFrame f = BuildFrame(n, Data(n).data());
    return Bytes(f.begin(), f.end());
}

// One end of a byte stream: a TCP connection or the far end of a pty.
class Peer {
public:
    explicit Peer(std::unique_ptr<platform::ByteStream> stream) : m_stream(std::move(stream)) {}
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool IsValid() const { return m_stream && m_stream->IsOpen(); }
    int Fd() const { return static_cast<int>(m_stream->Handle()); }
    bool Write(const Bytes& bytes) {
        return IsValid() && m_stream->WriteAll(bytes.data(), bytes.size(), m_never, kWaitMs);
    }
    // Up to `count` bytes within the time; fewer when the peer hangs up.
    Bytes Read(std::size_t count, int timeoutMs = kWaitMs) {
        Bytes bytes;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (IsValid() && bytes.size() < count) {
            const platform::StreamReady ready =
                m_stream->WaitReadable(m_never, loopback::detail::Remaining(end));
            if (ready == platform::StreamReady::Timeout) break;
            std::uint8_t chunk[256];
            const long n = ready == platform::StreamReady::Data
                               ? m_stream->Read(chunk, std::min(sizeof chunk, count - bytes.size()))
                               : platform::kReadHungUp;
            if (n == platform::kReadAgain) continue;
            if (n <= 0) {
                m_hungUp = true;
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }
    bool HungUp() const { return m_hungUp; }
    void Close() { m_stream.reset(); }

private:
    std::unique_ptr<platform::ByteStream> m_stream;
    platform::Event m_never{platform::ResetMode::Manual, false};
    bool m_hungUp = false;
};

// A blocking client connection to the simulator on loopback.
inline std::unique_ptr<Peer> Connect(std::uint16_t port) {
    auto stream = std::make_unique<platform::ByteStream>();
    const platform::SocketHandle s = platform::CreateTcpSocket();
    if (s != platform::kInvalidSocket && platform::StartConnect(s, loopback::Address(), port) == 0)
        stream->Adopt(s, true);
    else
        platform::CloseSocket(s);
    return std::make_unique<Peer>(std::move(stream));
}

class SimOnThread {
public:
    explicit SimOnThread(std::vector<std::string> args) {
        sim::Options options;
        std::string error;
        EXPECT_TRUE(sim::ParseOptions(args, &options, &error)) << error;
        m_sim = std::make_unique<sim::ControllerSim>(options);
        m_started = m_sim->Start(&error);
        EXPECT_TRUE(m_started) << error;
        if (m_started) m_thread = std::thread([this] { m_exitCode = m_sim->Run(); });
    }
    ~SimOnThread() { Join(); }

    sim::ControllerSim& operator*() { return *m_sim; }
    sim::ControllerSim* operator->() { return m_sim.get(); }
    // Stops the simulator unless it has ended by itself; its exit code.
    int Join() {
        if (m_thread.joinable()) {
            m_sim->Stop();
            m_thread.join();
        }
        return m_exitCode;
    }
    // Waits for Run to end by itself.
    int JoinWithoutStop() {
        if (m_thread.joinable()) m_thread.join();
        return m_exitCode;
    }

private:
    std::unique_ptr<sim::ControllerSim> m_sim;
    bool m_started = false;
    std::thread m_thread;
    int m_exitCode = -1;
};

}  // namespace sim_test
