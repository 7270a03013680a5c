// Whole downloads over the serial way: the worker, the channel and the port
// against the controller simulator on a pseudo-terminal. A full run takes at
// least 512 x 30 ms (the 10 ms stop test and the reader's first 20 ms look).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "download/download_frame.h"
#include "platform/com_port_paths.h"
#include "support/recording_context.h"
#include "support/simulator_thread.h"
#include "support/temp_folder.h"

namespace {

using support::Bytes;
using support::ExpectEndedWith;

constexpr std::uint16_t kCom = 2;
constexpr std::uint32_t kReadTimeoutMs = 1700;  // what the Operation page uses
constexpr std::chrono::seconds kRunLimit{180};  // a whole run under a sanitizer

// The worker's owner: the serial way to COM2.
class SerialContext : public support::RecordingContext {
public:
    explicit SerialContext(std::string path) : RecordingContext(std::move(path)) {
        UseSerial(kCom, kReadTimeoutMs);
    }
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

Bytes RandomImage(unsigned seed) { return support::RandomBytes(kImageSize, seed); }

std::string WriteImage(const support::TempFolder& folder, const Bytes& bytes) {
    return support::WriteBytes(folder.Path("firmware.bin"), bytes);
}

// Runs one download as the Operation page starts it and waits for its end.
void RunDownload(SerialContext& context) {
    ASSERT_TRUE(support::RunDownload(context, kRunLimit))
        << "the download never ended";
}

}  // namespace

TEST(SerialDownload, ImageArrivesByteIdenticalOverAPseudoTerminal) {
    support::TempFolder folder;
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
    support::TempFolder folder;
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
