// A firmware file that another program holds locked, made with flock(2): the
// Linux form of a sharing violation.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "download/download_frame.h"
#include "support/recording_context.h"
#include "support/simulator_thread.h"
#include "support/temp_folder.h"

using support::ExpectEndedWith;
using support::RandomBytes;
using support::RecordingContext;
using support::RunDownload;
using support::SimulatorThread;
using support::TempFolder;
using support::WriteBytes;

TEST(DownloadRun, FileHeldOpenByAnotherProgramIsASharingViolation) {
    TempFolder folder;
    SimulatorThread sim;
    const std::string path = WriteBytes(folder.Path("held.bin"), RandomBytes(kImageSize, 5));
    const int holder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    RecordingContext context(path);
    context.UseTcp(sim.Port());

    ASSERT_TRUE(RunDownload(context));
    ::close(holder);

    ExpectEndedWith(context, "A sharing violation occurred while accessing " + path + ".",
                    MessageStyle::Warning);
    EXPECT_EQ(sim.SummaryAfter(1).frames, 0);
}
