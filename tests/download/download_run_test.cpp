// Whole downloads through the worker and the TCP channel against the
// controller simulator over loopback. A full run takes at least 5.12 s (the
// 10 ms stop test per frame), so most failures are provoked at a small frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <filesystem>

#include "download/download_frame.h"
#include "platform/com_port_paths.h"
#include "support/loopback.h"
#include "support/recording_context.h"
#include "support/simulator_thread.h"
#include "support/temp_folder.h"

using loopback::RefusingPort;
using support::Bytes;
using support::ExpectEndedWith;
using support::RandomBytes;
using support::RecordingContext;
using support::RunDownload;
using support::SimulatorThread;
using support::TempFolder;
using support::WriteBytes;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kReceiveTimeoutMs = RecordingContext::kReceiveTimeoutMs;
constexpr std::uint32_t kShortReceiveTimeoutMs = 300;

bool SameAsFirst64KiB(const std::optional<sim::Image>& image, const Bytes& file) {
    return image && file.size() >= kImageSize && std::equal(image->begin(), image->end(), file.begin());
}

}  // namespace

// --- Whole images -----------------------------------------------------------

TEST(DownloadRun, ExactImageArrivesByteIdenticalWithEveryProgressStep) {
    TempFolder folder;
    SimulatorThread sim;
    const Bytes file = RandomBytes(kImageSize, 1);
    RecordingContext context(WriteBytes(folder.Path("exact.bin"), file));
    context.UseTcp(sim.Port());

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, "Download firmware successfully!", MessageStyle::Information);
    EXPECT_TRUE(SameAsFirst64KiB(sim.LastImage(), file));
    const sim::Summary summary = sim.SummaryAfter(1);
    EXPECT_EQ(summary.frames, 512);
    EXPECT_EQ(summary.bad, 0);
    EXPECT_TRUE(summary.complete);

    // One value per frame while its reply is awaited, then 100, then 0.
    const auto progress = context.Progress();
    ASSERT_EQ(progress.size(), 514u);
    EXPECT_EQ(std::count(progress.begin(), progress.begin() + 6, 0), 6);  // frames 0..5
    EXPECT_EQ(progress[6], 1);
    EXPECT_EQ(progress[256], 50);
    EXPECT_EQ(std::count(progress.begin() + 507, progress.begin() + 512, 99), 5);
    EXPECT_EQ(progress[512], 100);
    EXPECT_EQ(progress[513], 0);
    std::vector<int> steps;
    for (int p : progress)
        if (steps.empty() || steps.back() != p) steps.push_back(p);
    std::vector<int> expected(101);
    std::iota(expected.begin(), expected.end(), 0);
    expected.push_back(0);
    EXPECT_EQ(steps, expected);
}

TEST(DownloadRun, LargerFileSendsOnlyItsFirst64KiB) {
    TempFolder folder;
    SimulatorThread sim;
    const Bytes file = RandomBytes(kImageSize + 5000, 2);
    RecordingContext context(WriteBytes(folder.Path("large.bin"), file));
    context.UseTcp(sim.Port());

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, "Download firmware successfully!", MessageStyle::Information);
    EXPECT_TRUE(SameAsFirst64KiB(sim.LastImage(), file));
    EXPECT_EQ(sim.SummaryAfter(1).frames, 512);
}

TEST(DownloadRun, StaleStopRequestFromAnEarlierRunIsClearedAtTheStart) {
    TempFolder folder;
    SimulatorThread sim;
    const Bytes file = RandomBytes(kImageSize, 3);
    RecordingContext context(WriteBytes(folder.Path("stale.bin"), file));
    context.UseTcp(sim.Port());
    context.StopEvent().Set();  // left over from the Break of a finished run

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, "Download firmware successfully!", MessageStyle::Information);
    EXPECT_TRUE(SameAsFirst64KiB(sim.LastImage(), file));
}

// --- Before the first frame -------------------------------------------------

TEST(DownloadRun, FileOneByteShortEndsAfterOpeningTheChannelAndSendsNothing) {
    TempFolder folder;
    SimulatorThread sim;
    RecordingContext context(WriteBytes(folder.Path("short.bin"), RandomBytes(kImageSize - 1, 4)));
    context.UseTcp(sim.Port());

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, "Read firmware error,please check!", MessageStyle::Warning);
    const sim::Summary summary = sim.SummaryAfter(1);  // the channel was opened...
    EXPECT_EQ(summary.frames, 0);                      // ...and nothing was sent
}

TEST(DownloadRun, ChannelThatCannotOpenEndsWithoutTouchingTheFile) {
    TempFolder folder;
    RefusingPort refusing;
    // Had the worker looked for the file, it would report it missing.
    RecordingContext context(folder.Path("never-created.bin"));
    context.UseTcp(refusing.Port());

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, "Communication initialization error!", MessageStyle::Warning);
    EXPECT_EQ(context.Progress(), std::vector<int>{0});
}

TEST(DownloadRun, SerialPortThatCannotOpenEndsWithTheSameNotice) {
    TempFolder folder;
    platform::SetComPortPath(7, folder.Path("no-such-tty"));
    RecordingContext context(folder.Path("never-created.bin"));
    context.Channel().SetSerialParams(7, 19200, 1700);
    context.Channel().SetWay(kWaySerial);

    ASSERT_TRUE(RunDownload(context));
    platform::SetComPortPath(7, "");

    ExpectEndedWith(context, "Communication initialization error!", MessageStyle::Warning);
}

TEST(DownloadRun, MissingFileIsReportedWithItsPath) {
    TempFolder folder;
    SimulatorThread sim;
    const std::string path = folder.Path("missing.bin");
    RecordingContext context(path);
    context.UseTcp(sim.Port());

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, path + " was not found.", MessageStyle::Warning);
    EXPECT_EQ(sim.SummaryAfter(1).frames, 0);
}

TEST(DownloadRun, FolderInPlaceOfTheFileIsReportedAsAccessDenied) {
    TempFolder folder;
    SimulatorThread sim;
    const std::string path = folder.Path("image.bin");
    std::filesystem::create_directory(path);
    RecordingContext context(path);
    context.UseTcp(sim.Port());

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, "Access to " + path + " was denied.", MessageStyle::Warning);
}

// --- The controller's replies -------------------------------------------------

struct ReplyCase {
    const char* fault;
    const char* notice;
};

class DownloadReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(DownloadReply, FirstReplyByteOtherThan0x12EndsTheRunWithItsNotice) {
    TempFolder folder;
    SimulatorThread sim({"--fault-reply", GetParam().fault});
    RecordingContext context(WriteBytes(folder.Path("image.bin"), RandomBytes(kImageSize, 6)));
    context.UseTcp(sim.Port());

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, GetParam().notice, MessageStyle::Warning);
    const sim::Summary summary = sim.SummaryAfter(1);
    EXPECT_EQ(summary.frames, 4);  // frames 0..3, the fault at 3
    EXPECT_EQ(summary.bad, 0);
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, DownloadReply,
    ::testing::Values(ReplyCase{"0x02@3", "echo char error!"},
                      ReplyCase{"A@3", "Echo char = A;expected 0x01"},
                      // The byte is inserted raw: a zero ends the text.
                      ReplyCase{"0x00@3", "Echo char = "}),
    [](const ::testing::TestParamInfo<ReplyCase>& row) {
        const std::string fault = row.param.fault;
        return fault == "0x02@3" ? std::string("EchoError") : fault == "A@3" ? std::string("LetterA") : std::string("ZeroByte");
    });

TEST(DownloadRun, BytesAfterTheFirstReplyByteAreIgnored) {
    TempFolder folder;
    // Each reply is 0x12 and 23 zero bytes; a channel that left any of them
    // behind would read a zero as the next frame's reply.
    SimulatorThread sim({"--reply-fill", "0x00", "--fault-reply", "0x02@8"});
    RecordingContext context(WriteBytes(folder.Path("image.bin"), RandomBytes(kImageSize, 7)));
    context.UseTcp(sim.Port());

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, "echo char error!", MessageStyle::Warning);
    EXPECT_EQ(sim.SummaryAfter(1).frames, 9);
}

TEST(DownloadRun, ControllerThatFallsSilentEndsWithNothingReadAfterTheReceiveTimeout) {
    TempFolder folder;
    SimulatorThread sim({"--fault-silent", "3"});
    RecordingContext context(WriteBytes(folder.Path("image.bin"), RandomBytes(kImageSize, 8)));
    context.UseTcp(sim.Port(), kShortReceiveTimeoutMs);

    const auto start = steady_clock::now();
    ASSERT_TRUE(RunDownload(context));

    EXPECT_GE(steady_clock::now() - start, milliseconds(kShortReceiveTimeoutMs));
    ExpectEndedWith(context, "nothing readed!", MessageStyle::Warning);
    EXPECT_EQ(sim.SummaryAfter(1).frames, 4);
}

TEST(DownloadRun, PeerThatNeverReadsNorAnswersEndsWithNothingRead) {
    TempFolder folder;
    SimulatorThread sim({"--mute"});
    RecordingContext context(WriteBytes(folder.Path("image.bin"), RandomBytes(kImageSize, 9)));
    context.UseTcp(sim.Port(), kShortReceiveTimeoutMs);

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, "nothing readed!", MessageStyle::Warning);
    EXPECT_EQ(context.Progress(), (std::vector<int>{0, 0}));  // frame 0 went out, then the end
}

TEST(DownloadRun, PeerThatClosesAtFrameThreeEndsWithNothingRead) {
    // A closed connection makes every receive end at once with nothing, so
    // the reply count is 0; no receive time-out is waited out.
    TempFolder folder;
    SimulatorThread sim({"--fault-close", "3"});
    RecordingContext context(WriteBytes(folder.Path("image.bin"), RandomBytes(kImageSize, 10)));
    context.UseTcp(sim.Port());

    const auto start = steady_clock::now();
    ASSERT_TRUE(RunDownload(context));

    EXPECT_LT(steady_clock::now() - start, milliseconds(kReceiveTimeoutMs / 2));
    ExpectEndedWith(context, "nothing readed!", MessageStyle::Warning);
    EXPECT_EQ(sim.SummaryAfter(1).frames, 4);
}

TEST(DownloadRun, RepliesDrippedOneByteAtATimeAreAccepted) {
    TempFolder folder;
    SimulatorThread sim({"--drip"});
    RecordingContext context(WriteBytes(folder.Path("image.bin"), RandomBytes(kImageSize, 11)));
    context.UseTcp(sim.Port());
    // Ends the run after frame 7; every earlier reply came a byte at a time.
    context.OnProgress([&](int percent) {
        if (percent == 1) context.StopEvent().Set();
    });

    ASSERT_TRUE(RunDownload(context));

    // Replies 0..6 were all taken: only the stop ended the run.
    ExpectEndedWith(context, "Download firmware erroe!", MessageStyle::Warning);
    EXPECT_EQ(context.Progress(), (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(sim.SummaryAfter(1).bad, 0);
}

// --- Stopping and the file under the worker ---------------------------------

TEST(DownloadRun, StopRequestEndsTheRunAfterTheFrameInFlightWentOutWhole) {
    TempFolder folder;
    SimulatorThread sim;
    RecordingContext context(WriteBytes(folder.Path("image.bin"), RandomBytes(kImageSize, 12)));
    context.UseTcp(sim.Port());
    // Raised while frame 6's reply is awaited: frame 7 still goes out, the
    // stop test right after its send sees the request, its reply is not read.
    context.OnProgress([&](int percent) {
        if (percent == 1) context.StopEvent().Set();
    });

    ASSERT_TRUE(RunDownload(context));

    ExpectEndedWith(context, "Download firmware erroe!", MessageStyle::Warning);
    EXPECT_EQ(context.Progress(), (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 0}));
    const sim::Summary summary = sim.SummaryAfter(1);
    EXPECT_EQ(summary.frames, 8);  // frames 0..7, each whole
    EXPECT_EQ(summary.bad, 0);
    EXPECT_FALSE(summary.complete);
}

TEST(DownloadRun, FileCutShortDuringTheRunEndsWithReadFirmwareError) {
    TempFolder folder;
    SimulatorThread sim;
    const std::string path = WriteBytes(folder.Path("shrinking.bin"), RandomBytes(kImageSize, 13));
    RecordingContext context(path);
    context.UseTcp(sim.Port());
    // Cut while frame 0's reply is awaited: the file changed under the run,
    // so frame 1 is not sent, although 1000 bytes would still hold it.
    bool cut = false;
    std::error_code refused;
    context.OnProgress([&](int) {
        if (!cut) std::filesystem::resize_file(path, 1000, refused);
        cut = true;
    });

    ASSERT_TRUE(RunDownload(context));

    // Windows keeps a file that the run reads from being written meanwhile.
    if (refused) GTEST_SKIP() << "the system refuses to cut a file the run holds open: " << refused.message();
    ExpectEndedWith(context, "Read firmware error!", MessageStyle::Warning);
    EXPECT_EQ(sim.SummaryAfter(1).frames, 1);
}

TEST(DownloadRun, NextRunAfterAFailureStartsAgainFromFrameZero) {
    TempFolder folder;
    SimulatorThread sim({"--fault-reply", "0x02@2"});
    RecordingContext context(WriteBytes(folder.Path("image.bin"), RandomBytes(kImageSize, 14)));
    context.UseTcp(sim.Port());

    ASSERT_TRUE(RunDownload(context));
    ASSERT_TRUE(RunDownload(context));

    // Two notices now, each the first failure of its run at frame 2.
    const auto notices = context.Notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].text, "echo char error!");
    EXPECT_EQ(context.Ended(), 2);
    const sim::Summary summary = sim.SummaryAfter(2);
    EXPECT_EQ(summary.frames, 6);
    EXPECT_EQ(summary.bad, 0);  // the second run began at block 0 again
}
