#pragma once
// What the download tests share: a temporary folder, image files, a context
// that records what the worker told it, and the controller simulator running
// on a thread of the test over real loopback TCP.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <source_location>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "comm/comm_channel.h"
#include "download/download_context.h"
#include "download/download_thread.h"
#include "platform/event.h"
#include "support/simulator_thread.h"
#include "tools/controller_sim/controller_sim.h"

namespace download_test {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLoopbackHostOrder = 0x7F000001;
constexpr std::int32_t kConnectTimeoutMs = 2000;
constexpr std::uint32_t kReceiveTimeoutMs = 50000;
// Long enough for any run under a sanitizer on a busy machine.
constexpr std::int64_t kRunLimitMs = 90000;

// A folder of its own for each test, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vornic-download-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Path(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

inline std::string WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

struct Notice {
    std::string text;
    MessageStyle style;
};

// The worker's owner for a test: records every call, and lets a test act at
// a given progress value from the worker's own thread.
class TestContext : public DownloadContext {
public:
    explicit TestContext(std::string path = {}) : m_path(std::move(path)) {}

    void SetPath(std::string path) { m_path = std::move(path); }
    void UseTcp(std::uint16_t port, std::uint32_t receiveTimeoutMs = kReceiveTimeoutMs) {
        m_channel.SetTcpParams(htonl(kLoopbackHostOrder), port, kConnectTimeoutMs, receiveTimeoutMs);
        m_channel.SetWay(kWayTcp);
    }
    // Called on the worker thread with each progress value.
    void OnProgress(std::function<void(int)> hook) { m_hook = std::move(hook); }

    std::string FirmwarePath() const override { return m_path; }
    CCommChannel& Channel() override { return m_channel; }
    platform::Event& StopEvent() override { return m_stop; }
    platform::Event& IdleEvent() override { return m_idle; }
    std::atomic<std::uint8_t>& BusyFlag() override { return m_busy; }

    void SetProgress(int percent) override {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_progress.push_back(percent);
        }
        if (m_hook) m_hook(percent);
    }
    void OnDownloadStarted() override {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_started;
    }
    void OnDownloadEnded() override {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_ended;
    }
    void ShowMessage(const std::string& text, MessageStyle style) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_notices.push_back({text, style});
    }

    std::vector<int> Progress() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_progress;
    }
    std::vector<Notice> Notices() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_notices;
    }
    int Started() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_started;
    }
    int Ended() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_ended;
    }

private:
    std::string m_path;
    CCommChannel m_channel;
    platform::Event m_stop{platform::ResetMode::Auto, false};
    platform::Event m_idle{platform::ResetMode::Manual, true};
    std::atomic<std::uint8_t> m_busy{0};
    std::function<void(int)> m_hook;

    mutable std::mutex m_lock;
    std::vector<int> m_progress;
    std::vector<Notice> m_notices;
    int m_started = 0;
    int m_ended = 0;
};

// Starts the run as the Operation page does and waits for its end; false if
// the worker could not start or never went idle.
inline bool RunDownload(TestContext& context) {
    if (!StartDownloadThread(&context)) return false;
    return context.IdleEvent().Wait(kRunLimitMs);
}

// The end state every run must leave, whatever its outcome: exactly one
// notice with this text and style, the context told once of start and end,
// the page idle again and the channel closed.
inline void ExpectEndedWith(TestContext& context, const std::string& text, MessageStyle style,
                            std::source_location where = std::source_location::current()) {
    ::testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "ExpectEndedWith");
    const auto notices = context.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, text);
    EXPECT_EQ(notices[0].style, style);
    EXPECT_EQ(context.Started(), 1);
    EXPECT_EQ(context.Ended(), 1);
    EXPECT_EQ(context.BusyFlag().load(), 0);
    EXPECT_TRUE(context.IdleEvent().IsSignalled());
    const auto progress = context.Progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 0);
    EXPECT_EQ(context.Channel().Socket(), platform::kInvalidSocket);
    EXPECT_FALSE(context.Channel().IsConnected());
}

using SimulatorThread = support::SimulatorThread;

// A loopback port that is ours for the test and refuses every connection.
class RefusingPort {
public:
    RefusingPort() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(kLoopbackHostOrder);
        socklen_t length = sizeof a;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            m_port = ntohs(a.sin_port);
    }
    ~RefusingPort() {
        if (m_fd >= 0) ::close(m_fd);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t Port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

}  // namespace download_test
