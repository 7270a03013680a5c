// The channel's TCP way on what only Linux shows: the descriptor's mode, a
// process that has run out of descriptors, and failed connects that the
// kernel reports as writable at once.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "comm/comm_channel.h"
#include "support/loopback.h"
#include "tcp_channel_setup.h"

using namespace std::chrono;
using namespace tcp_test;

TEST(TcpOpen, ConnectedSocketIsABlockingDescriptor) {
    loopback::Listener peer;
    CCommChannel channel;
    UseTcp(channel, peer.Port());
    ASSERT_TRUE(channel.Open());
    EXPECT_EQ(::fcntl(static_cast<int>(channel.Socket()), F_GETFL) & O_NONBLOCK, 0);
}

// A descriptor limit just above the open ones makes the socket itself fail.
TEST(TcpConnectFailure, SocketThatCannotBeCreatedFailsWithItsText) {
#if defined(__SANITIZE_ADDRESS__)
    // The undefined-behaviour checker built in with it tests whether memory
    // is readable through a pipe of its own, which the limit denies it too.
    GTEST_SKIP() << "needs descriptors the limit takes away from the sanitizer";
#endif
    loopback::Listener peer;
    CCommChannel channel;
    UseTcp(channel, peer.Port());
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::dup(0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);

    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const bool opened = channel.Open();
    const std::string text = channel.LastErrorText;
    const auto socket = channel.Socket();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_FALSE(opened);
    EXPECT_EQ(text, "socket create failed");
    EXPECT_EQ(socket, platform::kInvalidSocket);
    EXPECT_FALSE(peer.Accept(200).IsValid());
    EXPECT_TRUE(channel.Open());
}

TEST(TcpConnectFailure, RefusedConnectionFailsAtOnceWithTheTimeoutText) {
    loopback::RefusingPort refusing;
    ASSERT_TRUE(refusing.IsValid());
    CCommChannel channel;
    UseTcp(channel, refusing.Port(), kLongConnectMs);

    const auto start = steady_clock::now();
    ExpectFailedOpen(channel, kTimedOut);
    EXPECT_LT(ElapsedMs(start), kWellWithinLongMs);
}

// 127.255.255.255 is the loopback network's broadcast address: the kernel
// rejects the connect itself, and the unconnected socket still selects as
// writable with no pending error.
TEST(TcpConnectFailure, ConnectRejectedByTheKernelFailsWithTheTimeoutText) {
    CCommChannel channel;
    UseTcp(channel, 9, kLongConnectMs, kShortReceiveMs, platform::HostToNetwork32(0x7FFFFFFFu));

    const auto start = steady_clock::now();
    ExpectFailedOpen(channel, kTimedOut);
    EXPECT_LT(ElapsedMs(start), kWellWithinLongMs);
    const std::uint8_t byte = 0;
    EXPECT_FALSE(channel.Send(&byte, 1));
}
