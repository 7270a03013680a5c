#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "download/download_frame.h"
#include "tools/controller_sim/controller_session.h"

using sim::ControllerSession;
using sim::FrameOutcome;
using sim::ReplyKind;
using sim::SessionConfig;

namespace {

std::vector<std::uint8_t> Data(int frame) {
    std::vector<std::uint8_t> data(kFrameDataSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(frame * 3 + i);
    return data;
}

DownloadFrame Frame(int n) { return BuildFrame(n, Data(n).data()); }

std::vector<FrameOutcome> Feed(ControllerSession& session, const std::uint8_t* bytes, std::size_t length) {
    std::vector<FrameOutcome> outcomes;
    session.Feed(bytes, length, [&](const FrameOutcome& o) {
        outcomes.push_back(o);
        return o.reply != ReplyKind::Close;
    });
    return outcomes;
}

FrameOutcome FeedFrame(ControllerSession& session, const DownloadFrame& frame) {
    const auto outcomes = Feed(session, frame.data(), frame.size());
    EXPECT_EQ(outcomes.size(), 1u);
    return outcomes.empty() ? FrameOutcome{} : outcomes[0];
}

SessionConfig WithFault(int frame, sim::Fault fault) {
    SessionConfig config;
    config.faults[frame] = fault;
    return config;
}

}  // namespace

TEST(ControllerSession, WholeImageInOrderIsAcceptedAndAssembled) {
    ControllerSession session(SessionConfig{});
    for (int n = 0; n < kFrameCount; ++n) {
        const FrameOutcome o = FeedFrame(session, Frame(n));
        ASSERT_TRUE(o.valid) << "frame " << n << ": " << o.problem;
        ASSERT_EQ(o.replyBytes.size(), 24u);
        EXPECT_EQ(o.replyBytes[0], 0x12);
        EXPECT_EQ(o.imageComplete, n == kFrameCount - 1);
    }
    EXPECT_TRUE(session.AttemptComplete());
    for (int n : {0, 255, 256, 511}) {
        const auto data = Data(n);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), session.LastImage().begin() + n * 128)) << n;
    }
}

TEST(ControllerSession, EachKindOfDamageIsAnsweredWithTheEchoErrorByte) {
    struct Damage {
        std::size_t offset;
        std::uint8_t value;
        const char* problem;
    };
    for (const Damage d : {Damage{1, 0xA4, "bad header"}, Damage{5, 0x47, "command 0x47"},
                           Damage{6, 0xFF, "checksum"}, Damage{7, 0x01, "reserved byte 0x01"},
                           Damage{4, 0x01, "block 1, expected 0"}}) {
        ControllerSession session(SessionConfig{});
        DownloadFrame frame = Frame(0);  // data 0..127: checksum 0x00
        frame[d.offset] = d.value;
        const FrameOutcome o = FeedFrame(session, frame);
        EXPECT_FALSE(o.valid) << d.problem;
        EXPECT_EQ(o.problem.rfind(d.problem, 0), 0u) << o.problem;
        ASSERT_FALSE(o.replyBytes.empty());
        EXPECT_EQ(o.replyBytes[0], 0x02);
        EXPECT_EQ(session.NextFrame(), 0) << "a refused frame is not taken";
    }
}

TEST(ControllerSession, SecondHalfRepeatsBlockIndicesButMustComeInOrder) {
    ControllerSession session(SessionConfig{});
    for (int n = 0; n < 256; ++n) ASSERT_TRUE(FeedFrame(session, Frame(n)).valid);
    const FrameOutcome second = FeedFrame(session, Frame(256));
    EXPECT_TRUE(second.valid);
    EXPECT_FALSE(second.restarted);
    EXPECT_EQ(second.frame, 256);
    EXPECT_FALSE(FeedFrame(session, Frame(258)).valid);  // block 2 where 1 is due
}

TEST(ControllerSession, BlockZeroOutOfTurnBeginsANewImage) {
    ControllerSession session(SessionConfig{});
    for (int n = 0; n < 10; ++n) ASSERT_TRUE(FeedFrame(session, Frame(n)).valid);
    const FrameOutcome o = FeedFrame(session, Frame(0));
    EXPECT_TRUE(o.valid);
    EXPECT_TRUE(o.restarted);
    EXPECT_EQ(session.NextFrame(), 1);
}

TEST(ControllerSession, FrameSplitIntoSingleBytesIsJoined) {
    ControllerSession session(SessionConfig{});
    const DownloadFrame frame = Frame(0);
    std::vector<FrameOutcome> outcomes;
    for (std::uint8_t b : frame) {
        const auto some = Feed(session, &b, 1);
        outcomes.insert(outcomes.end(), some.begin(), some.end());
    }
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].valid);
}

TEST(ControllerSession, UnfinishedFrameIsFlushedAsOneBadFrame) {
    ControllerSession session(SessionConfig{});
    const std::uint8_t garbage[] = {1, 2, 3, 4, 5};
    EXPECT_TRUE(Feed(session, garbage, sizeof garbage).empty());
    ASSERT_TRUE(session.HasPartial());
    const FrameOutcome o = session.FlushPartial();
    EXPECT_FALSE(o.valid);
    EXPECT_EQ(o.replyBytes[0], 0x02);
    EXPECT_FALSE(session.HasPartial());
    EXPECT_TRUE(FeedFrame(session, Frame(0)).valid) << "the next frame is read from its start";
}

TEST(ControllerSession, ReplyHasTheConfiguredLengthAndFill) {
    SessionConfig config;
    config.replyLength = 8;
    config.replyFill = 0xAB;
    ControllerSession session(config);
    const FrameOutcome o = FeedFrame(session, Frame(0));
    EXPECT_EQ(o.replyBytes, (std::vector<std::uint8_t>{0x12, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB}));
}

TEST(ControllerSession, FaultsActAtTheirFrameAndTheFrameIsNotTaken) {
    {
        ControllerSession session(WithFault(2, {sim::FaultKind::Reply, 'A'}));
        FeedFrame(session, Frame(0));
        FeedFrame(session, Frame(1));
        const FrameOutcome o = FeedFrame(session, Frame(2));
        EXPECT_TRUE(o.valid);
        EXPECT_EQ(o.replyBytes[0], 'A');
        EXPECT_EQ(session.NextFrame(), 2);
    }
    {
        ControllerSession session(WithFault(0, {sim::FaultKind::Silent, 0}));
        EXPECT_EQ(FeedFrame(session, Frame(0)).reply, ReplyKind::Silent);
    }
    {
        ControllerSession session(WithFault(1, {sim::FaultKind::Close, 0}));
        DownloadFrame two[2] = {Frame(0), Frame(1)};
        const auto outcomes = Feed(session, two[0].data(), 2 * kFrameSize);
        ASSERT_EQ(outcomes.size(), 2u);
        EXPECT_EQ(outcomes[1].reply, ReplyKind::Close);
    }
}

TEST(ControllerSession, FaultsForTheFirstSessionsOnlyLeaveTheLaterOnesSound) {
    SessionConfig config = WithFault(0, {sim::FaultKind::Reply, 0x02});
    config.faultySessions = 2;
    ControllerSession session(config);
    for (const std::uint8_t first : {kReplyEchoError, kReplyEchoError, kReplyOk, kReplyOk}) {
        session.Reset();
        EXPECT_EQ(FeedFrame(session, Frame(0)).replyBytes.at(0), first);
    }
}

TEST(ControllerSession, ResetAfterADisconnectStartsAtFrameZeroAndKeepsTheLastImage) {
    ControllerSession session(SessionConfig{});
    for (int n = 0; n < kFrameCount; ++n) FeedFrame(session, Frame(n));
    for (int n = 0; n < 5; ++n) FeedFrame(session, Frame(n));
    EXPECT_FALSE(session.AttemptComplete()) << "a new image is under way";
    session.Reset();
    EXPECT_EQ(session.NextFrame(), 0);
    EXPECT_EQ(session.LastImage()[0], Data(0)[0]);
}

TEST(ControllerSession, RandomBytesInRandomPiecesNeverWedgeIt) {
    ControllerSession session(SessionConfig{});
    std::mt19937 generator(7);
    std::vector<std::uint8_t> noise(200000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(generator());
    std::size_t at = 0;
    int frames = 0;
    while (at < noise.size()) {
        const std::size_t piece = std::min<std::size_t>(generator() % 700, noise.size() - at);
        for (const FrameOutcome& o : Feed(session, noise.data() + at, piece)) {
            ++frames;
            ASSERT_EQ(o.replyBytes.size(), 24u);
        }
        at += piece;
    }
    EXPECT_EQ(frames, static_cast<int>(noise.size() / kFrameSize));
    if (session.HasPartial()) session.FlushPartial();
    EXPECT_TRUE(FeedFrame(session, Frame(0)).valid);
}
