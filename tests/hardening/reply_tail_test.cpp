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
    download_test::TempFolder folder;
    SimThread sim({"--reply-len", "30", "--fault-reply", "0x02@100"});
    TestContext context(download_test::WriteFile(folder.Path("image.bin"), ImageBytes(31)));
    UseTcp(context, sim.Port(), 5000);

    const RunMark mark = MarkOf(context);
    RunToEnd(context, 120s);

    ExpectRunEndedWith(context, mark, "echo char error!", MessageStyle::Warning);
    EXPECT_EQ(ProgressSince(context, mark).size(), 102u) << "not refused at frame 100";
}

}  // namespace
