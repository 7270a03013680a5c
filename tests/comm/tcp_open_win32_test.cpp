// The channel's TCP way on what Windows sockets do their own way: a failed
// connection attempt shows only in the exception set, which the attempt does
// not watch, so it ends like a silent peer once the connect time-out is up.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "comm/comm_channel.h"
#include "support/loopback.h"
#include "tcp_channel_setup.h"

using namespace std::chrono;
using namespace tcp_test;

// A refused port, and 127.255.255.255 (the loopback network's broadcast
// address), which the system rejects at the connect itself.
TEST(TcpConnectFailure, FailedAttemptsLastTheWholeConnectTimeoutAndGiveTheTimeoutText) {
    constexpr std::int32_t kConnectMs = 1500;
    loopback::RefusingPort refusing;
    ASSERT_TRUE(refusing.IsValid());
    struct Row {
        std::string what;
        std::uint32_t address;
        std::uint16_t port;
    };
    for (const Row& row : {Row{"refused port", loopback::Address(), refusing.Port()},
                           Row{"broadcast address", platform::HostToNetwork32(0x7FFFFFFFu), 9}}) {
        CCommChannel channel;
        UseTcp(channel, row.port, kConnectMs, kShortReceiveMs, row.address);

        const auto start = steady_clock::now();
        ExpectFailedOpen(channel, kTimedOut);
        const auto elapsed = ElapsedMs(start);
        EXPECT_GE(elapsed, kConnectMs) << row.what;
        EXPECT_LT(elapsed, kConnectMs + kWellWithinLongMs) << row.what;
        const std::uint8_t byte = 0;
        EXPECT_FALSE(channel.Send(&byte, 1)) << row.what;
    }
}
