#include "support/recording_context.h"

#include <algorithm>

#include "download/download_thread.h"
#include "support/loopback.h"

namespace support {

void RecordingContext::UseTcp(std::uint16_t port, std::uint32_t receiveTimeoutMs) {
    m_channel.SetTcpParams(loopback::Address(), port, kConnectTimeoutMs, receiveTimeoutMs);
    m_channel.SetWay(kWayTcp);
}

void RecordingContext::UseSerial(std::uint16_t com, std::uint32_t readTimeoutMs) {
    m_channel.SetSerialParams(com, kBaudRate, readTimeoutMs);
    m_channel.SetWay(kWaySerial);
}

void RecordingContext::SetProgress(int percent) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_progress.push_back(percent);
    }
    if (m_hook) m_hook(percent);
}

void RecordingContext::OnDownloadStarted() {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_started;
}

void RecordingContext::OnDownloadEnded() {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_ended;
}

void RecordingContext::ShowMessage(const std::string& text, MessageStyle style) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_notices.push_back({text, style});
}

std::vector<int> RecordingContext::Progress() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_progress;
}

std::vector<Notice> RecordingContext::Notices() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_notices;
}

int RecordingContext::Started() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_started;
}

int RecordingContext::Ended() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_ended;
}

bool RunDownload(RecordingContext& context, std::chrono::milliseconds limit) {
    if (!StartDownloadThread(&context)) return false;
    return context.IdleEvent().Wait(limit.count());
}

RunMark MarkOf(const RecordingContext& context) {
    return {context.Notices().size(), context.Progress().size(), context.Started(), context.Ended()};
}

std::vector<int> ProgressSince(const RecordingContext& context, const RunMark& mark) {
    const auto all = context.Progress();
    return std::vector<int>(all.begin() + static_cast<std::ptrdiff_t>(std::min(mark.progress, all.size())),
                            all.end());
}

void ExpectRunEndedWith(RecordingContext& context, const RunMark& mark, const std::string& text,
                        MessageStyle style, std::source_location where) {
    ::testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "ExpectRunEndedWith");
    const auto notices = context.Notices();
    ASSERT_EQ(notices.size(), mark.notices + 1) << "not exactly one notice";
    EXPECT_EQ(notices.back().text, text);
    EXPECT_EQ(notices.back().style, style);
    EXPECT_EQ(context.Started(), mark.started + 1);
    EXPECT_EQ(context.Ended(), mark.ended + 1);
    EXPECT_EQ(context.BusyFlag().load(), 0);
    EXPECT_TRUE(context.IdleEvent().IsSignalled());
    const auto progress = ProgressSince(context, mark);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 0);
    EXPECT_EQ(context.Channel().Socket(), platform::kInvalidSocket);
    EXPECT_FALSE(context.Channel().IsConnected());
    EXPECT_FALSE(context.Channel().SerialPort().IsOpen());
}

void ExpectEndedWith(RecordingContext& context, const std::string& text, MessageStyle style,
                     std::source_location where) {
    ExpectRunEndedWith(context, RunMark{}, text, style, where);
}

}  // namespace support
