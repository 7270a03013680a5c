// The Operation page's own time-outs, waited out in full: 50000 ms for a
// TCP reply, 1700 ms for a serial one, 2000 ms for a TCP connection. Slow by
// nature, so these carry the label "slow".

#include <gtest/gtest.h>

#include "hardening_support.h"

namespace {

using namespace hardening;

constexpr std::uint32_t kTcpReceiveTimeoutMs = 50000;
constexpr std::int32_t kConnectTimeoutMs = 2000;
constexpr std::uint32_t kSerialReadTimeoutMs = 1700;
constexpr std::uint16_t kCom = 9;

std::int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A run against a controller that never answers frame 0: the notice comes
// after the whole reply time-out, and the tool is idle and clean afterwards.
void ExpectSilentControllerWaitedOut(RecordingContext& context, std::int64_t atLeastMs) {
    Clock::time_point frameAt{};
    context.OnProgress([&](int) {
        if (frameAt == Clock::time_point{}) frameAt = Clock::now();
    });
    const Resources baseline = Baseline();
    const RunMark mark = MarkOf(context);
    RunToEnd(context, 180s);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - frameAt).count();

    ExpectRunEndedWith(context, mark, "nothing readed!", MessageStyle::Warning);
    EXPECT_GE(waited, atLeastMs);
    EXPECT_EQ(ProgressSince(context, mark), (std::vector<int>{0, 0}));
    EXPECT_TRUE(NothingLeftSince(baseline));
}

TEST(RealTimeouts, TcpControllerSilentAtFrameZeroIsWaitedForFiftySeconds) {
    support::TempFolder folder;
    SimThread sim({"--fault-silent", "0"});
    RecordingContext context(support::WriteBytes(folder.Path("image.bin"), ImageBytes(21)));
    context.Channel().SetTcpParams(loopback::Address(), sim.Port(), kConnectTimeoutMs, kTcpReceiveTimeoutMs);
    context.Channel().SetWay(kWayTcp);
    ExpectSilentControllerWaitedOut(context, kTcpReceiveTimeoutMs);
}

TEST(RealTimeouts, SerialControllerSilentAtFrameZeroIsWaitedForTheReadTimeout) {
    support::TempFolder folder;
    SimThread sim({"--serial", "--fault-silent", "0"});
    RecordingContext context(support::WriteBytes(folder.Path("image.bin"), ImageBytes(22)));
    UseSerial(context, kCom, sim.SerialPath(), kSerialReadTimeoutMs);
    // 1700 ms rounded up to whole 40 ms slices.
    ExpectSilentControllerWaitedOut(context, 43 * 40);
}

TEST(RealTimeouts, TcpControllerThatNeverAcceptsFailsAfterTheConnectTimeout) {
    loopback::SilentListener nobody;
    if (!nobody.Ready()) GTEST_SKIP() << nobody.Reason();
    support::TempFolder folder;
    RecordingContext context(support::WriteBytes(folder.Path("image.bin"), ImageBytes(23)));
    context.Channel().SetTcpParams(loopback::Address(), nobody.Port(), kConnectTimeoutMs, kTcpReceiveTimeoutMs);
    context.Channel().SetWay(kWayTcp);

    const Resources baseline = Baseline();
    const RunMark mark = MarkOf(context);
    const auto start = Clock::now();
    RunToEnd(context, 60s);

    ExpectRunEndedWith(context, mark, "Communication initialization error!", MessageStyle::Warning);
    EXPECT_GE(MsSince(start), kConnectTimeoutMs);
    EXPECT_TRUE(NothingLeftSince(baseline));
}

}  // namespace
