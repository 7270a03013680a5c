#pragma once
// The TCP way of a channel set up for the loopback tests, and what the tests
// of an attempt to open it share.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "comm/comm_channel.h"
#include "support/loopback.h"

namespace tcp_test {

const std::string kTimedOut = "连接超时";
constexpr std::int32_t kShortConnectMs = 300;
constexpr std::uint32_t kShortReceiveMs = 300;
// Long enough that an attempt which ends well within it did not wait for it.
constexpr std::int32_t kLongConnectMs = 10000;
constexpr std::int64_t kWellWithinLongMs = 5000;

inline std::int64_t ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

inline void UseTcp(CCommChannel& channel, std::uint16_t port, std::int32_t connectMs = kShortConnectMs,
                   std::uint32_t receiveMs = kShortReceiveMs, std::uint32_t address = loopback::Address()) {
    channel.SetWay(kWayTcp);
    channel.SetTcpParams(address, port, connectMs, receiveMs);
}

// The attempt failed with exactly this text and left the channel closed.
inline void ExpectFailedOpen(CCommChannel& channel, const std::string& text) {
    EXPECT_FALSE(channel.Open());
    EXPECT_EQ(channel.LastErrorText, text);
    EXPECT_FALSE(channel.IsConnected());
    EXPECT_EQ(channel.Socket(), platform::kInvalidSocket);
}

}  // namespace tcp_test
