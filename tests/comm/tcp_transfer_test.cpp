// Sending and receiving on the channel's TCP way, against real loopback peers.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm_channel.h"
#include "support/loopback.h"

using namespace std::chrono;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kNotConnected = "connection not established!";
const std::string kSendFailed = "send failed or not all data has send out!";
constexpr std::int32_t kConnectMs = 300;
constexpr std::uint32_t kShortReceiveMs = 300;
constexpr std::uint32_t kLongReceiveMs = 10000;
constexpr std::int64_t kWellWithinLongMs = 5000;
// The kernel counts a socket time-out in clock ticks; the last one may be cut short.
constexpr std::int64_t kTickMs = 10;

std::int64_t ElapsedMs(steady_clock::time_point start) {
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

// A channel connected to a loopback listener, and the peer's end of it.
struct Link {
    explicit Link(std::uint32_t receiveMs = kShortReceiveMs) {
        channel.SetWay(kWayTcp);
        channel.SetTcpParams(loopback::Address(), listener.Port(), kConnectMs, receiveMs);
        connected = channel.Open();
        if (connected) peer = listener.Accept();
    }
    bool Ready() const { return connected && peer.IsValid(); }

    loopback::Listener listener;
    CCommChannel channel;
    bool connected = false;
    loopback::Connection peer;
};

// Waits until the channel has taken every byte the peer sent, so the next
// byte the peer sends is alone on the wire.
bool WaitUntilDrained(platform::SocketHandle channelSocket) {
    const auto end = steady_clock::now() + seconds(5);
    for (;;) {
        const long queued = platform::BytesWaiting(channelSocket);
        if (queued < 0) return false;
        if (queued == 0) return true;
        if (steady_clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
}

// Receive(buffer, 8) while the peer sends `reply` a byte at a time, each
// byte alone on the wire; *fed is false when the peer could not keep that up.
std::int32_t ReceiveDripped(Link& link, const Bytes& reply, std::uint8_t* buffer, bool* fed) {
    const platform::SocketHandle channelSocket = link.channel.Socket();
    std::thread feeder([&] {
        for (const std::uint8_t byte : reply) {
            *fed = *fed && link.peer.Send({byte}) && WaitUntilDrained(channelSocket);
        }
    });
    const std::int32_t got = link.channel.Receive(buffer, 8);
    feeder.join();
    return got;
}

Bytes Sequence(std::size_t length, std::uint8_t first = 0) {
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

}  // namespace

TEST(TcpSend, BeforeAnyOpenFailsAsNotConnected) {
    CCommChannel channel;
    channel.SetWay(kWayTcp);
    const std::uint8_t byte = 0x5A;
    EXPECT_FALSE(channel.Send(&byte, 1));
    EXPECT_EQ(channel.LastErrorText, kNotConnected);
}

TEST(TcpSend, AfterAFailedOpenFailsAsNotConnected) {
    loopback::RefusingPort refusing;
    CCommChannel channel;
    channel.SetWay(kWayTcp);
    channel.SetTcpParams(loopback::Address(), refusing.Port(), kConnectMs, kShortReceiveMs);
    ASSERT_FALSE(channel.Open());
    const std::uint8_t byte = 0x5A;
    EXPECT_FALSE(channel.Send(&byte, 1));
    EXPECT_EQ(channel.LastErrorText, kNotConnected);
}

TEST(TcpSend, AfterCloseFailsAsNotConnected) {
    Link link;
    ASSERT_TRUE(link.Ready());
    link.channel.Close();
    const std::uint8_t byte = 0x5A;
    EXPECT_FALSE(link.channel.Send(&byte, 1));
    EXPECT_EQ(link.channel.LastErrorText, kNotConnected);
}

TEST(TcpSend, PeerReceivesExactlyTheBytesSent) {
    Link link;
    ASSERT_TRUE(link.Ready());
    const Bytes frame = Sequence(136, 0xC0);
    ASSERT_TRUE(link.channel.Send(frame.data(), static_cast<std::int32_t>(frame.size())));
    EXPECT_EQ(link.peer.Receive(frame.size() + 1, 300), frame);
    EXPECT_EQ(link.channel.LastErrorText, "");
}

TEST(TcpSend, ZeroBytesSucceedAndPutNothingOnTheWire) {
    Link link;
    ASSERT_TRUE(link.Ready());
    const std::uint8_t byte = 0x77;
    EXPECT_TRUE(link.channel.Send(&byte, 0));
    EXPECT_TRUE(link.peer.Receive(1, 200).empty());
}

TEST(TcpSend, NegativeLengthFailsAndSendsNothing) {
    Link link;
    ASSERT_TRUE(link.Ready());
    const std::uint8_t byte = 0x77;
    EXPECT_FALSE(link.channel.Send(&byte, -1));
    EXPECT_EQ(link.channel.LastErrorText, kSendFailed);
    EXPECT_TRUE(link.peer.Receive(1, 200).empty());
}

// Also proves that a send into a dead connection doesn't raise SIGPIPE.
TEST(TcpSend, SendIntoAResetConnectionFailsAndLeavesTheChannelConnected) {
    Link link;
    ASSERT_TRUE(link.Ready());
    const platform::SocketHandle fd = link.channel.Socket();
    link.peer.Abort();

    const Bytes frame = Sequence(136);
    EXPECT_FALSE(link.channel.Send(frame.data(), static_cast<std::int32_t>(frame.size())));
    EXPECT_EQ(link.channel.LastErrorText, kSendFailed);
    EXPECT_TRUE(link.channel.IsConnected());
    EXPECT_EQ(link.channel.Socket(), fd);
    EXPECT_FALSE(link.channel.Send(frame.data(), 1));
}

TEST(TcpReceive, WithNoSocketReturnsZeroAtOnceAndSetsNoText) {
    CCommChannel channel;
    channel.SetWay(kWayTcp);
    std::array<std::uint8_t, 8> buffer{};
    EXPECT_EQ(channel.Receive(buffer.data(), 8), 0);
    EXPECT_EQ(channel.LastErrorText, "");

    channel.SetTcpParams(0xFFFFFFFFu, 1, kConnectMs, kLongReceiveMs);
    ASSERT_FALSE(channel.Open());
    const auto start = steady_clock::now();
    EXPECT_EQ(channel.Receive(buffer.data(), 8), 0);
    EXPECT_LT(ElapsedMs(start), kWellWithinLongMs);
    EXPECT_EQ(channel.LastErrorText, "invalid ip address");
}

TEST(TcpReceive, CountOfZeroOrLessReadsNothing) {
    Link link(kLongReceiveMs);
    ASSERT_TRUE(link.Ready());
    ASSERT_TRUE(link.peer.Send({0x12}));
    std::array<std::uint8_t, 8> buffer{};
    EXPECT_EQ(link.channel.Receive(buffer.data(), 0), 0);
    EXPECT_EQ(link.channel.Receive(buffer.data(), -1), 0);
    EXPECT_EQ(link.channel.Receive(buffer.data(), 1), 1);  // the byte is still there
    EXPECT_EQ(buffer[0], 0x12);
}

TEST(TcpReceive, OneByteThenSilenceFailsOnceTheReceiveTimeoutRunsOut) {
    Link link(kShortReceiveMs);
    ASSERT_TRUE(link.Ready());
    ASSERT_TRUE(link.peer.Send({0x12}));
    std::array<std::uint8_t, 8> buffer{};

    const auto start = steady_clock::now();
    EXPECT_EQ(link.channel.Receive(buffer.data(), 8), 0);
    const auto elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, static_cast<std::int64_t>(kShortReceiveMs) - kTickMs);
    EXPECT_LT(elapsed, kShortReceiveMs + kWellWithinLongMs);

    // A failed receive sets no text and leaves the connection as it was.
    EXPECT_EQ(link.channel.LastErrorText, "");
    EXPECT_TRUE(link.channel.IsConnected());
    ASSERT_TRUE(link.peer.Send({0x34}));
    EXPECT_EQ(link.channel.Receive(buffer.data(), 1), 1);
    EXPECT_EQ(buffer[0], 0x34);
}

TEST(TcpReceive, EightBytesArrivingOneAtATimeGiveEight) {
    Link link(kLongReceiveMs);
    ASSERT_TRUE(link.Ready());
    const Bytes reply = Sequence(8, 0x12);
    std::array<std::uint8_t, 8> buffer{};
    bool fed = true;
    const std::int32_t got = ReceiveDripped(link, reply, buffer.data(), &fed);
    ASSERT_TRUE(fed);
    EXPECT_EQ(got, 8);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), reply);
}

TEST(TcpReceive, AfterThePeerClosedReturnsWhatCameBeforeAtOnce) {
    Link link(kLongReceiveMs);
    ASSERT_TRUE(link.Ready());
    ASSERT_TRUE(link.peer.Send({0x12, 0x34}));
    link.peer.Close();
    std::array<std::uint8_t, 8> buffer{};

    const auto start = steady_clock::now();
    EXPECT_EQ(link.channel.Receive(buffer.data(), 8), 2);
    EXPECT_EQ(buffer[0], 0x12);
    EXPECT_EQ(buffer[1], 0x34);
    EXPECT_EQ(link.channel.Receive(buffer.data(), 8), 0);
    EXPECT_LT(ElapsedMs(start), kWellWithinLongMs);
}

// Eight receives of up to three bytes can bring 24; the buffer holds 8.
TEST(TcpReceive, LongReplyStoresOnlyCountBytes) {
    Link link(kLongReceiveMs);
    ASSERT_TRUE(link.Ready());
    const Bytes reply = Sequence(24, 0x40);
    ASSERT_TRUE(link.peer.Send(reply));
    // Bytes 8.. guard the buffer.
    std::array<std::uint8_t, 8 + 32> region;
    region.fill(0xEE);

    EXPECT_EQ(link.channel.Receive(region.data(), 8), 8);
    EXPECT_EQ(Bytes(region.begin(), region.begin() + 8), Bytes(reply.begin(), reply.begin() + 8));
    for (std::size_t i = 8; i < region.size(); ++i) ASSERT_EQ(region[i], 0xEE) << "byte " << i;
}

TEST(TcpReceive, SingleReceiveOfThreeBytesKeepsOne) {
    Link link(kLongReceiveMs);
    ASSERT_TRUE(link.Ready());
    ASSERT_TRUE(link.peer.Send({0x01, 0x02, 0x03}));
    std::array<std::uint8_t, 4> region;
    region.fill(0xEE);
    EXPECT_EQ(link.channel.Receive(region.data(), 1), 1);
    EXPECT_EQ(region[0], 0x01);
    EXPECT_EQ(region[1], 0xEE);
}

// The channel asks for three bytes on every receive and drops what the
// caller's buffer cannot hold; the next Receive starts on fresh data.
TEST(TcpReceive, SurplusBeyondCountIsDropped) {
    Link link(kLongReceiveMs);
    ASSERT_TRUE(link.Ready());
    ASSERT_TRUE(link.peer.Send(Sequence(24, 0x40)));
    std::array<std::uint8_t, 8> buffer{};
    ASSERT_EQ(link.channel.Receive(buffer.data(), 8), 8);

    ASSERT_TRUE(link.peer.Send({0x12}));
    EXPECT_EQ(link.channel.Receive(buffer.data(), 1), 1);
    EXPECT_EQ(buffer[0], 0x12);
}

// Receive counts receive calls, not bytes: eight bytes in one segment fill the
// buffer after three receives, and the fourth still waits for more.
TEST(TcpReceive, ReplyInFewerSegmentsThanCountFailsAfterTheReceiveTimeout) {
    Link link(kShortReceiveMs);
    ASSERT_TRUE(link.Ready());
    ASSERT_TRUE(link.peer.Send(Sequence(8, 0x12)));
    std::array<std::uint8_t, 8> buffer{};

    const auto start = steady_clock::now();
    EXPECT_EQ(link.channel.Receive(buffer.data(), 8), 0);
    EXPECT_GE(ElapsedMs(start), static_cast<std::int64_t>(kShortReceiveMs) - kTickMs);
}

TEST(TcpReceive, ZeroReceiveTimeoutWaitsForDataThatComesLate) {
    Link link(0);
    ASSERT_TRUE(link.Ready());
    std::thread late([&] {
        std::this_thread::sleep_for(milliseconds(300));
        link.peer.Send({0x12});
    });
    std::array<std::uint8_t, 8> buffer{};
    const auto start = steady_clock::now();
    const std::int32_t got = link.channel.Receive(buffer.data(), 1);
    const auto elapsed = ElapsedMs(start);
    late.join();
    EXPECT_EQ(got, 1);
    EXPECT_EQ(buffer[0], 0x12);
    EXPECT_GE(elapsed, 300 - kTickMs);
}

TEST(TcpReceive, SetTcpParamsWhileConnectedKeepsTheConnectionsReceiveTimeout) {
    Link link(kShortReceiveMs);
    ASSERT_TRUE(link.Ready());
    link.channel.SetTcpParams(loopback::Address(), link.listener.Port(), kConnectMs, 20000);
    std::array<std::uint8_t, 8> buffer{};

    const auto start = steady_clock::now();
    EXPECT_EQ(link.channel.Receive(buffer.data(), 1), 0);
    const auto elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, static_cast<std::int64_t>(kShortReceiveMs) - kTickMs);
    EXPECT_LT(elapsed, kShortReceiveMs + kWellWithinLongMs);
}

// A reply in one write, whatever its length from 22 bytes up: eight receives
// take 22 to 24 of its bytes, the buffer keeps the first 8, and nothing of it
// is left for the next reply.
TEST(TcpReceive, WholeReplyOfAnyLengthGivesCountBytesAndLeavesNothingBehind) {
    Link link(kLongReceiveMs);
    ASSERT_TRUE(link.Ready());
    for (const std::size_t length : {22u, 23u, 24u, 25u, 64u}) {
        const Bytes reply = Sequence(length, 0x12);
        ASSERT_TRUE(link.peer.Send(reply));
        std::array<std::uint8_t, 8> buffer{};
        EXPECT_EQ(link.channel.Receive(buffer.data(), 8), 8) << length << " bytes";
        EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Bytes(reply.begin(), reply.begin() + 8));

        ASSERT_TRUE(link.peer.Send({0xA5}));
        EXPECT_EQ(link.channel.Receive(buffer.data(), 1), 1);
        EXPECT_EQ(buffer[0], 0xA5) << "the rest of the " << length << "-byte reply was taken for the next";
    }
}

// Once a reply on a connection has come a byte at a time, a reply whose last
// receive alone came back short may be one that is still arriving: the
// channel waits for the quiet line again.
TEST(TcpReceive, AfterADrippedReplyAShortLastReceiveStillWaitsForTheQuietLine) {
    Link link(kLongReceiveMs);
    ASSERT_TRUE(link.Ready());
    std::array<std::uint8_t, 8> buffer{};
    bool fed = true;
    ASSERT_EQ(ReceiveDripped(link, Sequence(8, 0x12), buffer.data(), &fed), 8);
    ASSERT_TRUE(fed);

    ASSERT_TRUE(link.peer.Send(Sequence(22, 0x12)));
    const auto start = steady_clock::now();
    EXPECT_EQ(link.channel.Receive(buffer.data(), 8), 8);
    EXPECT_GE(ElapsedMs(start), 50 - kTickMs) << "the 50 ms quiet line";
}
