// Whole downloads over the serial way: the worker, the channel and the port
// against the controller simulator on a pseudo-terminal. A full run takes at
// least 512 x 30 ms (the 10 ms stop test and the reader's first 20 ms look).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "download/download_frame.h"
#include "platform/com_port_paths.h"
#include "serial_pty.h"
#include "support/recording_context.h"
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

// The simulator serving a pseudo-terminal that COM2 is mapped to.
class SerialSimulator : public serial_test::SerialSimulator {
public:
    explicit SerialSimulator(std::vector<std::string> args) : serial_test::SerialSimulator(std::move(args)) {
        if (IsRunning()) MapTo(kCom);
    }
    ~SerialSimulator() { platform::ClearComPortPaths(); }
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
    ASSERT_TRUE(sim.IsRunning()) << sim.Problem();
    const Bytes image = RandomImage(11);
    SerialContext context(WriteImage(folder, image));

    RunDownload(context);

    ExpectEndedWith(context, "Download firmware successfully!", MessageStyle::Information);
    const auto outcome = sim.OutcomeAfterOneSession();
    EXPECT_EQ(outcome.frames, 512);
    EXPECT_EQ(outcome.bad, 0);
    EXPECT_TRUE(outcome.complete);
    EXPECT_TRUE(outcome.image == image) << "the image arrived changed";
}

TEST(SerialDownload, EchoErrorReplyAtFrame100EndsTheRun) {
    support::TempFolder folder;
    SerialSimulator sim({"--fault-reply", "0x02@100"});
    ASSERT_TRUE(sim.IsRunning()) << sim.Problem();
    SerialContext context(WriteImage(folder, RandomImage(12)));

    RunDownload(context);

    ExpectEndedWith(context, "echo char error!", MessageStyle::Warning);
    const auto outcome = sim.OutcomeAfterOneSession();
    EXPECT_EQ(outcome.frames, 101);
    EXPECT_EQ(outcome.bad, 0);
    EXPECT_FALSE(outcome.complete);
}
