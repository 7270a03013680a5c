#pragma once
// The download worker's owner for a test: it records every call the worker
// makes, and the checks of how a run ended read that record.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <source_location>
#include <string>
#include <vector>

#include "comm/comm_channel.h"
#include "download/download_context.h"
#include "platform/event.h"

namespace support {

struct Notice {
    std::string text;
    MessageStyle style;
};

// Thread-safe: the worker calls in on its own thread while the test reads.
class RecordingContext : public DownloadContext {
public:
    static constexpr std::int32_t kConnectTimeoutMs = 2000;
    static constexpr std::uint32_t kReceiveTimeoutMs = 50000;
    static constexpr std::uint16_t kBaudRate = 19200;

    explicit RecordingContext(std::string path = {}) : m_path(std::move(path)) {}

    void SetPath(std::string path) { m_path = std::move(path); }
    // The TCP way to a port on 127.0.0.1.
    void UseTcp(std::uint16_t port, std::uint32_t receiveTimeoutMs = kReceiveTimeoutMs);
    // The serial way to COM `com`, which the test has mapped to a device.
    void UseSerial(std::uint16_t com, std::uint32_t readTimeoutMs);
    // Called on the worker thread with each progress value.
    void OnProgress(std::function<void(int)> hook) { m_hook = std::move(hook); }

    std::string FirmwarePath() const override { return m_path; }
    CCommChannel& Channel() override { return m_channel; }
    platform::Event& StopEvent() override { return m_stop; }
    platform::Event& IdleEvent() override { return m_idle; }
    std::atomic<std::uint8_t>& BusyFlag() override { return m_busy; }
    void SetProgress(int percent) override;
    void OnDownloadStarted() override;
    void OnDownloadEnded() override;
    void ShowMessage(const std::string& text, MessageStyle style) override;

    std::vector<int> Progress() const;
    std::vector<Notice> Notices() const;
    int Started() const;
    int Ended() const;

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
bool RunDownload(RecordingContext& context, std::chrono::milliseconds limit = std::chrono::seconds(90));

// What a context had recorded before a run, so that one context can serve
// several runs in a row, as the Operation page does.
struct RunMark {
    std::size_t notices = 0;
    std::size_t progress = 0;
    int started = 0;
    int ended = 0;
};

RunMark MarkOf(const RecordingContext& context);
// The progress values the run since `mark` reported.
std::vector<int> ProgressSince(const RecordingContext& context, const RunMark& mark);

// The end state every run must leave, whatever its outcome: exactly one
// notice of this text and style since `mark`, the context told once of start
// and end, progress back to 0, idle again, and the channel closed on either
// way.
void ExpectRunEndedWith(RecordingContext& context, const RunMark& mark, const std::string& text,
                        MessageStyle style, std::source_location where = std::source_location::current());
// The same for the context's only run.
void ExpectEndedWith(RecordingContext& context, const std::string& text, MessageStyle style,
                     std::source_location where = std::source_location::current());

}  // namespace support
