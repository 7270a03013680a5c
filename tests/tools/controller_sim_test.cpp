// The simulator on a thread of the test, reached over real loopback sockets.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "tests/tools/sim_test_support.h"

using support::Bytes;
using support::ReadBytes;
using support::TempFolder;
using namespace sim_test;

TEST(SimulatorTcp, WholeImageIsAnsweredFrameByFrameAndWrittenToTheImageFile) {
    TempFolder folder;
    SimOnThread sim({"--port", "0", "--once", "--image", folder.Path("image.bin")});
    auto peer = Connect(sim->Port());
    ASSERT_TRUE(peer->IsValid());
    Bytes expected;
    for (int n = 0; n < kFrameCount; ++n) {
        ASSERT_TRUE(peer->Write(Frame(n)));
        const Bytes reply = peer->Read(24);
        ASSERT_EQ(reply.size(), 24u) << "frame " << n;
        ASSERT_EQ(reply[0], 0x12);
        const Bytes data = Data(n);
        expected.insert(expected.end(), data.begin(), data.end());
    }
    // The file is complete before the last reply goes out.
    EXPECT_EQ(ReadBytes(folder.Path("image.bin")), expected);
    peer->Close();

    EXPECT_EQ(sim.JoinWithoutStop(), 0);  // --once: ends with the session
    EXPECT_EQ(sim->GetSummary().Line(), "summary: frames=512 bad=0 images=1 complete=yes sessions=1");
}

TEST(SimulatorTcp, DisconnectMidImageStartsTheNextConnectionAtFrameZero) {
    SimOnThread sim({"--port", "0"});
    {
        auto first = Connect(sim->Port());
        for (int n = 0; n < 3; ++n) {
            ASSERT_TRUE(first->Write(Frame(n)));
            ASSERT_EQ(first->Read(24).size(), 24u);
        }
    }
    ASSERT_TRUE(sim->WaitForSessions(1, std::chrono::milliseconds(kWaitMs)));
    auto second = Connect(sim->Port());
    ASSERT_TRUE(second->Write(Frame(3)));  // block 3 where 0 is due
    EXPECT_EQ(second->Read(24).at(0), 0x02);
    ASSERT_TRUE(second->Write(Frame(0)));
    EXPECT_EQ(second->Read(24).at(0), 0x12);
    second->Close();

    EXPECT_EQ(sim.Join(), 1);
    const sim::Summary summary = sim->GetSummary();
    EXPECT_EQ(summary.frames, 5);
    EXPECT_EQ(summary.bad, 1);
    EXPECT_FALSE(summary.complete);
}

TEST(SimulatorTcp, GarbageIsRefusedAfterAPauseAndTheSessionGoesOn) {
    SimOnThread sim({"--port", "0"});
    auto peer = Connect(sim->Port());
    const Bytes garbage(300, 0x33);  // two bad frames and 28 bytes left over
    ASSERT_TRUE(peer->Write(garbage));
    const Bytes replies = peer->Read(3 * 24);
    ASSERT_EQ(replies.size(), 3u * 24);
    EXPECT_EQ(replies[0], 0x02);
    EXPECT_EQ(replies[24], 0x02);
    EXPECT_EQ(replies[48], 0x02);  // the leftover, judged once the line fell quiet
    ASSERT_TRUE(peer->Write(Frame(0)));
    EXPECT_EQ(peer->Read(24).at(0), 0x12);
    EXPECT_EQ(sim->GetSummary().bad, 3);
}

TEST(SimulatorTcp, FaultCloseHangsUpAtItsFrameAndTheNextConnectionIsServed) {
    SimOnThread sim({"--port", "0", "--fault-close", "1"});
    auto peer = Connect(sim->Port());
    ASSERT_TRUE(peer->Write(Frame(0)));
    EXPECT_EQ(peer->Read(24).size(), 24u);
    ASSERT_TRUE(peer->Write(Frame(1)));
    EXPECT_TRUE(peer->Read(24).empty());
    EXPECT_TRUE(peer->HungUp());

    auto next = Connect(sim->Port());
    ASSERT_TRUE(next->Write(Frame(0)));
    EXPECT_EQ(next->Read(24).at(0), 0x12);
}

TEST(SimulatorTcp, MutePeerAcceptsButNeverAnswers) {
    SimOnThread sim({"--port", "0", "--mute"});
    auto peer = Connect(sim->Port());
    ASSERT_TRUE(peer->IsValid());
    ASSERT_TRUE(peer->Write(Frame(0)));
    EXPECT_TRUE(peer->Read(1, 200).empty());
    EXPECT_FALSE(peer->HungUp());
    peer->Close();
    ASSERT_TRUE(sim->WaitForSessions(1, std::chrono::milliseconds(kWaitMs)));
    EXPECT_EQ(sim->GetSummary().frames, 0);
}

TEST(SimulatorTcp, DelayHoldsEachReplyBack) {
    SimOnThread sim({"--port", "0", "--delay-ms", "150"});
    auto peer = Connect(sim->Port());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(peer->Write(Frame(0)));
    EXPECT_EQ(peer->Read(24).size(), 24u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}

TEST(SimulatorTcp, StopEndsAWaitingSimulatorAtOnce) {
    SimOnThread sim({"--port", "0", "--delay-ms", "600000"});
    auto peer = Connect(sim->Port());
    ASSERT_TRUE(peer->Write(Frame(0)));  // the simulator now sits in its delay
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sim.Join(), 1);
}
