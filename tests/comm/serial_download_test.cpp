// Whole downloads over the serial way: the worker, the channel and the port
// against the controller simulator on a pseudo-terminal. A full run takes at
// least 512 x 30 ms (the 10 ms stop test and the reader's first 20 ms look).

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "comm/comm_channel.h"
#include "download/download_context.h"
#include "download/download_frame.h"
#include "download/download_thread.h"
#include "platform/com_port_paths.h"
#include "serial_pty.h"
#include "support/simulator_thread.h"
#include "tools/controller_sim/controller_sim.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kCom = 2;
constexpr std::uint32_t kReadTimeoutMs = 1700;  // what the Operation page uses
constexpr std::int64_t kRunLimitMs = 180000;    // a whole run under a sanitizer

// The worker's owner: the serial way to COM2, and a record of the notices.
class SerialContext : public DownloadContext {
public:
    explicit SerialContext(std::string path) : m_path(std::move(path)) {
        m_channel.SetSerialParams(kCom, 19200, kReadTimeoutMs);
        m_channel.SetWay(kWaySerial);
    }

    std::string FirmwarePath() const override { return m_path; }
    CCommChannel& Channel() override { return m_channel; }
    platform::Event& StopEvent() override { return m_stop; }
    platform::Event& IdleEvent() override { return m_idle; }
    std::atomic<std::uint8_t>& BusyFlag() override { return m_busy; }
    void SetProgress(int percent) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_lastProgress = percent;
    }
    void OnDownloadStarted() override {}
    void OnDownloadEnded() override {}
    void ShowMessage(const std::string& text, MessageStyle style) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_notices.emplace_back(text, style);
    }

    std::vector<std::pair<std::string, MessageStyle>> Notices() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_notices;
    }
    int LastProgress() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_lastProgress;
    }

private:
    std::string m_path;
    CCommChannel m_channel;
    platform::Event m_stop{platform::ResetMode::Auto, false};
    platform::Event m_idle{platform::ResetMode::Manual, true};
    std::atomic<std::uint8_t> m_busy{0};
    mutable std::mutex m_lock;
    std::vector<std::pair<std::string, MessageStyle>> m_notices;
    int m_lastProgress = -1;
};

// The simulator on a thread of the test, serving a pseudo-terminal that COM2
// is mapped to.
class SerialSimulator {
public:
    explicit SerialSimulator(std::vector<std::string> args) : m_sim(WithSerial(std::move(args))) {
        if (m_sim.IsRunning()) platform::SetComPortPath(kCom, m_sim.SerialPath());
    }
    ~SerialSimulator() { platform::ClearComPortPaths(); }

    bool IsRunning() const { return m_sim.IsRunning(); }
    // The summary once the tool has let go of the line.
    sim::Summary SummaryAfterOneSession() const { return m_sim.SummaryAfter(1); }
    std::optional<sim::Image> LastImage() const { return m_sim.LastImage(); }

private:
    static std::vector<std::string> WithSerial(std::vector<std::string> args) {
        args.insert(args.begin(), "--serial");
        return args;
    }

    support::SimulatorThread m_sim;
};

Bytes RandomImage(unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(kImageSize);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

std::string WriteImage(const serial_test::TempFolder& folder, const Bytes& bytes) {
    const auto path = folder.Path() / "firmware.bin";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

// Runs one download as the Operation page starts it and waits for its end.
void RunDownload(SerialContext& context) {
    ASSERT_TRUE(StartDownloadThread(&context));
    ASSERT_TRUE(context.IdleEvent().Wait(kRunLimitMs)) << "the download never ended";
}

// The run ended with exactly this one notice, idle and with the port closed.
void ExpectEndedWith(SerialContext& context, const std::string& text, MessageStyle style) {
    const auto notices = context.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, text);
    EXPECT_EQ(notices[0].second, style);
    EXPECT_EQ(context.BusyFlag().load(), 0);
    EXPECT_EQ(context.LastProgress(), 0);
    EXPECT_FALSE(context.Channel().SerialPort().IsOpen());
}

}  // namespace

TEST(SerialDownload, ImageArrivesByteIdenticalOverAPseudoTerminal) {
    serial_test::TempFolder folder;
    SerialSimulator sim({});
    ASSERT_TRUE(sim.IsRunning());
    const Bytes image = RandomImage(11);
    SerialContext context(WriteImage(folder, image));

    RunDownload(context);

    ExpectEndedWith(context, "Download firmware successfully!", MessageStyle::Information);
    const sim::Summary summary = sim.SummaryAfterOneSession();
    EXPECT_EQ(summary.frames, 512);
    EXPECT_EQ(summary.bad, 0);
    EXPECT_TRUE(summary.complete);
    const auto received = sim.LastImage();
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(std::equal(received->begin(), received->end(), image.begin()));
}

TEST(SerialDownload, EchoErrorReplyAtFrame100EndsTheRun) {
    serial_test::TempFolder folder;
    SerialSimulator sim({"--fault-reply", "0x02@100"});
    ASSERT_TRUE(sim.IsRunning());
    SerialContext context(WriteImage(folder, RandomImage(12)));

    RunDownload(context);

    ExpectEndedWith(context, "echo char error!", MessageStyle::Warning);
    const sim::Summary summary = sim.SummaryAfterOneSession();
    EXPECT_EQ(summary.frames, 101);
    EXPECT_EQ(summary.bad, 0);
    EXPECT_FALSE(summary.complete);
}
