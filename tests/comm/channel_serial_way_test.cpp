// The channel's serial way: what it hands to the port, and what it keeps to
// itself. The device is the master side of a pseudo-terminal.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "comm/comm_channel.h"
#include "platform/com_port_paths.h"
#include "serial_pty.h"
#include "support/temp_folder.h"

namespace {
constexpr std::uint16_t kCom = 11;

struct SerialLink {
    explicit SerialLink(std::uint32_t readTimeoutMs = 300) {
        pty.MapTo(kCom);
        channel.SetWay(kWaySerial);
        channel.SetSerialParams(kCom, 19200, readTimeoutMs);
        opened = channel.Open();
    }
    ~SerialLink() { platform::ClearComPortPaths(); }
    bool Ready() const { return pty.IsValid() && opened; }

    serial_test::PtyPair pty;
    CCommChannel channel;
    bool opened = false;
};
}  // namespace

// A negative count or length names no bytes: it must not reach the port as a
// huge unsigned size.
TEST(ChannelSerialWay, NegativeCountStoresNothing) {
    SerialLink link;
    ASSERT_TRUE(link.Ready()) << link.channel.SerialPort().LastErrorText;
    ASSERT_TRUE(link.pty.Send(std::vector<std::uint8_t>(32, 0x12)));
    // Bytes 8.. guard the buffer.
    std::array<std::uint8_t, 8 + 64> region;
    region.fill(0xEE);

    EXPECT_EQ(link.channel.Receive(region.data(), -1), 0);
    for (std::size_t i = 0; i < region.size(); ++i) ASSERT_EQ(region[i], 0xEE) << "byte " << i;
}

TEST(ChannelSerialWay, NegativeLengthSendsNothing) {
    SerialLink link;
    ASSERT_TRUE(link.Ready()) << link.channel.SerialPort().LastErrorText;
    const std::array<std::uint8_t, 8> data{1, 2, 3, 4, 5, 6, 7, 8};

    EXPECT_FALSE(link.channel.Send(data.data(), -1));
    EXPECT_TRUE(link.pty.Receive(1, 200).empty());
}

TEST(ChannelSerialWay, SetSerialParamsChangesTheReadTimeoutFromTheNextReceive) {
    SerialLink link(100);
    ASSERT_TRUE(link.Ready()) << link.channel.SerialPort().LastErrorText;
    std::array<std::uint8_t, 8> buffer{};
    EXPECT_EQ(link.channel.Receive(buffer.data(), 8), 0);

    link.channel.SetSerialParams(kCom, 19200, 600);
    EXPECT_TRUE(link.channel.SerialPort().IsOpen());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.channel.Receive(buffer.data(), 8), 0);
    EXPECT_GE(serial_test::MsSince(start), 600);
    EXPECT_EQ(link.channel.SerialPort().m_nReadTimeout, 600u);
}

TEST(ChannelSerialWay, SetWayTcpClosesTheSerialPort) {
    SerialLink link;
    ASSERT_TRUE(link.Ready()) << link.channel.SerialPort().LastErrorText;
    link.channel.SetWay(kWayTcp);
    EXPECT_FALSE(link.channel.SerialPort().IsOpen());
}

// Serial failures stay in the port's own text; the serial open empties the
// channel's text like Close does.
TEST(ChannelSerialWay, FailedOpenLeavesItsReasonToThePortAndEmptiesTheChannelText) {
    support::TempFolder folder;
    platform::SetComPortPath(kCom, (folder.Dir() / "no-such-device").string());
    CCommChannel channel;
    channel.LastErrorText = "earlier failure";
    channel.SetSerialParams(kCom, 19200, 300);

    EXPECT_FALSE(channel.Open());
    EXPECT_EQ(channel.LastErrorText, "");
    EXPECT_NE(channel.SerialPort().LastErrorText, "");
    platform::ClearComPortPaths();
}
