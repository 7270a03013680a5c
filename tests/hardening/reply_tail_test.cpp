// What is left of one TCP reply never passes for the next frame's reply:
// eight receives of up to three bytes take at most 24 bytes, and a longer
// reply leaves the rest in the socket.

#include <gtest/gtest.h>

#include "hardening_support.h"

namespace {

using namespace hardening;

TEST(TcpReplyTail, RestOfALongReplyIsNotTakenForTheNextFramesReply) {
    // 30 bytes a reply: without dropping the rest, frame 101 would be judged
    // on bytes 24..29 of reply 100 and the refusal of frame 100 missed.
    support::TempFolder folder;
    SimThread sim({"--reply-len", "30", "--fault-reply", "0x02@100"});
    RecordingContext context(support::WriteBytes(folder.Path("image.bin"), ImageBytes(31)));
    context.UseTcp(sim.Port(), 5000);

    const RunMark mark = MarkOf(context);
    RunToEnd(context, 120s);

    ExpectRunEndedWith(context, mark, "echo char error!", MessageStyle::Warning);
    EXPECT_EQ(ProgressSince(context, mark).size(), 102u) << "not refused at frame 100";
}

// A reply that arrives whole is done at once, whatever its length: 22 and 23
// bytes end in a short last receive, and the quiet line that a reply in
// pieces waits for would add 50 ms to each of the 512 frames, 25.6 s a run.
TEST(TcpReplyTail, WholeRepliesOf22And23BytesEndEachFrameWithoutAQuietWait) {
    for (const char* length : {"22", "23"}) {
        SCOPED_TRACE(std::string("--reply-len ") + length);
        support::TempFolder folder;
        SimThread sim({"--reply-len", length});
        const Bytes image = ImageBytes(32);
        RecordingContext context(support::WriteBytes(folder.Path("image.bin"), image));
        context.UseTcp(sim.Port(), 5000);

        const RunMark mark = MarkOf(context);
        const auto start = Clock::now();
        RunToEnd(context, 120s);
        const auto elapsed = Clock::now() - start;

        ExpectRunEndedWith(context, mark, "Download firmware successfully!", MessageStyle::Information);
        const auto received = sim.LastImage();
        ASSERT_TRUE(received.has_value());
        EXPECT_TRUE(std::equal(received->begin(), received->end(), image.begin()));
        EXPECT_GE(elapsed, 5120ms) << "512 stop tests of 10 ms";
        EXPECT_LT(elapsed, 20s) << "a quiet wait per frame makes it at least 30.7 s";
    }
}

}  // namespace
