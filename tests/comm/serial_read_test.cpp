// Reading from a COM port: the reader thread, the 40 ms slices of the read
// time-out, and a device that goes away, against a real pseudo-terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "comm/comm_channel.h"
#include "comm/serial_port.h"
#include "platform/com_port_paths.h"
#include "platform/serial_device.h"
#include "platform/thread.h"
#include "serial_fixture.h"

using serial_test::MsSince;
using serial_test::PtyPair;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint16_t kCom = 5;
// Upper bounds are loose: the machine is shared.
constexpr std::int64_t kSlack = 3000;

class SerialRead : public serial_test::OpenPortTest<kCom> {
protected:
    struct Outcome {
        Bytes bytes;
        std::int64_t ms;
    };
    // One ReadPort into an 8-byte buffer (plus guard bytes that must stay
    // untouched) with the given time-out.
    Outcome Read(std::uint16_t count, std::uint32_t timeoutMs) {
        std::uint8_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        m_port.m_nReadTimeout = timeoutMs;
        const auto start = std::chrono::steady_clock::now();
        const std::int32_t n = m_port.ReadPort(buffer, count);
        Outcome outcome{{}, MsSince(start)};
        EXPECT_GE(n, 0);
        EXPECT_LE(n, count);
        outcome.bytes.assign(buffer, buffer + std::max(n, 0));
        for (std::size_t i = static_cast<std::size_t>(std::max(n, 0)); i < sizeof buffer; ++i)
            EXPECT_EQ(buffer[i], 0xEE) << "byte " << i << " written beyond what was received";
        return outcome;
    }
};

}  // namespace

TEST_F(SerialRead, NullBufferFailsAtOnce) {
    m_port.m_nReadTimeout = 5000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_port.ReadPort(nullptr, 8), 0);
    EXPECT_EQ(m_port.LastErrorText, "Read buffer is invalid!");
    EXPECT_LT(MsSince(start), kSlack);
}

TEST_F(SerialRead, CountZeroReturnsAtOnceAndKeepsTheText) {
    m_port.WritePort(nullptr, 1, nullptr);  // leaves a text to keep
    ASSERT_TRUE(m_pty.Send({1, 2, 3}));
    const Outcome o = Read(0, 5000);
    EXPECT_TRUE(o.bytes.empty());
    EXPECT_LT(o.ms, kSlack);
    EXPECT_EQ(m_port.LastErrorText, "invalid buff pointer");
}

TEST_F(SerialRead, PortNotOpenReturnsZeroWithInvalidComHandle) {
    m_port.Close();
    const Outcome o = Read(8, 5000);
    EXPECT_TRUE(o.bytes.empty());
    EXPECT_LT(o.ms, kSlack);
    EXPECT_EQ(m_port.LastErrorText, "Invalid com handle");
}

TEST_F(SerialRead, ReaderThatCannotStartGivesZeroAndKeepsTheText) {
    ASSERT_TRUE(m_pty.Send({1, 2, 3}));
    m_port.LastErrorText = "before";
    platform::FailNextThreadStarts(1);
    EXPECT_TRUE(Read(8, 200).bytes.empty());
    EXPECT_EQ(m_port.LastErrorText, "before");
}

// The read ends once the time-out, rounded up to whole 40 ms slices, has
// passed: 0 ms at once, 40 ms after one slice, 41 ms after two, 1700 ms
// after 43 (1720 ms). Bytes that wait are read when the reader has started
// and taken its first 20 ms look for the interrupt before the time-out ends:
// one slice leaves too little room for that on a busy machine, where the read
// may end with nothing, but never with part of what waits.
class SerialReadSlices : public SerialRead, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(SerialReadSlices, TimeOutRoundedUpToWholeSlices) {
    const std::uint32_t timeout = GetParam();
    const std::int64_t rounded = (timeout + 39) / 40 * 40;
    ASSERT_TRUE(m_pty.Send({0x12, 0x34}));
    m_port.LastErrorText = "before";
    const Outcome o = Read(8, timeout);
    EXPECT_GE(o.ms, rounded);
    EXPECT_LT(o.ms, rounded + kSlack);
    if (rounded > 40) {
        EXPECT_EQ(o.bytes, (Bytes{0x12, 0x34}));
    } else if (timeout > 0) {
        EXPECT_TRUE(o.bytes.empty() || o.bytes == (Bytes{0x12, 0x34}));
    }
    EXPECT_EQ(m_port.LastErrorText, "before") << "a time-out is no failure";
}

INSTANTIATE_TEST_SUITE_P(Timeouts, SerialReadSlices, ::testing::Values(0u, 40u, 41u, 1700u));

TEST_F(SerialRead, LongestTimeoutDoesNotWrapRoundToNothing) {
    // 0xFFFFFFFF + 39 wraps to 38 in 32 bits: 0 slices, an immediate end.
    std::thread device([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        m_pty.Send({1, 2, 3, 4, 5, 6, 7, 8});
    });
    const Outcome o = Read(8, 0xFFFFFFFFu);
    device.join();
    EXPECT_EQ(o.bytes, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_GE(o.ms, 290);
}

TEST_F(SerialRead, AllBytesThereReturnsWithoutWaitingForTheTimeout) {
    const Bytes reply{0x12, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(m_pty.Send(reply));
    const Outcome o = Read(8, 10000);
    EXPECT_EQ(o.bytes, reply);
    EXPECT_LT(o.ms, kSlack);
}

TEST_F(SerialRead, BytesArrivingInPiecesAreCollectedInOrder) {
    std::thread device([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_pty.Send({1, 2, 3});
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_pty.Send({4, 5, 6, 7, 8});
    });
    const Outcome o = Read(8, 10000);
    device.join();
    EXPECT_EQ(o.bytes, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_GE(o.ms, 240);
    EXPECT_LT(o.ms, 250 + kSlack);
}

TEST_F(SerialRead, NeverStoresMoreThanTheCount) {
    ASSERT_TRUE(m_pty.Send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(Read(8, 2000).bytes, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(SerialRead, BytesBeyondTheCountAreDiscardedByTheNextWrite) {
    ASSERT_TRUE(m_pty.Send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(Read(4, 2000).bytes, (Bytes{1, 2, 3, 4}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const std::uint8_t frame = 0x5A;
    ASSERT_TRUE(m_port.WritePort(&frame, 1, nullptr)) << m_port.LastErrorText;
    EXPECT_EQ(m_pty.Receive(1, 2000), Bytes{0x5A});
    ASSERT_TRUE(m_pty.Send({0x12}));
    EXPECT_EQ(Read(8, 300).bytes, Bytes{0x12});
}

TEST_F(SerialRead, DeviceHungUpMidReadEndsTheReadAtOnceWithWhatCame) {
    std::thread device([this] {
        m_pty.Send({0x12, 0x34, 0x56});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        m_pty.CloseMaster();
    });
    const Outcome o = Read(8, 20000);
    device.join();
    EXPECT_EQ(o.bytes, (Bytes{0x12, 0x34, 0x56}));
    EXPECT_GE(o.ms, 250);
    EXPECT_LT(o.ms, 300 + kSlack);
    EXPECT_EQ(m_port.LastErrorText, "GetOverlappedResult is failed!");
}

TEST_F(SerialRead, HungUpDeviceEndsEveryLaterReadAtOnce) {
    m_pty.CloseMaster();
    for (int i = 0; i < 3; ++i) {
        m_port.LastErrorText.clear();
        const Outcome o = Read(8, 20000);
        EXPECT_TRUE(o.bytes.empty());
        EXPECT_LT(o.ms, kSlack);
        EXPECT_EQ(m_port.LastErrorText, "GetOverlappedResult is failed!");
    }
}

TEST_F(SerialRead, ByteReadFailureEndsTheReadAtOnce_InjectedEio) {
    ASSERT_TRUE(m_pty.Send({1, 2, 3}));
    platform::FailNextSerialCall(platform::SerialCall::Read, platform::kSerialErrorIo);
    const Outcome o = Read(8, 10000);
    EXPECT_TRUE(o.bytes.empty());
    EXPECT_LT(o.ms, kSlack);
    EXPECT_EQ(m_port.LastErrorText, "GetOverlappedResult is failed!");
    EXPECT_EQ(Read(3, 2000).bytes, (Bytes{1, 2, 3})) << "the port still reads afterwards";
}

// Nothing is queued: bytes waiting before a wait are taken without one.
TEST_F(SerialRead, EventWaitRefusedAsAnInvalidParameterWaitsOutTheTimeout_InjectedEinval) {
    platform::FailNextSerialCall(platform::SerialCall::PollReceived, platform::kSerialErrorInvalidParameter);
    const Outcome o = Read(8, 200);
    EXPECT_TRUE(o.bytes.empty());
    EXPECT_GE(o.ms, 200);
    EXPECT_EQ(m_port.LastErrorText, "非法参数\n");
}

TEST_F(SerialRead, EventWaitFailingOtherwiseWaitsOutTheTimeout_InjectedEio) {
    platform::FailNextSerialCall(platform::SerialCall::PollReceived, platform::kSerialErrorIo);
    const Outcome o = Read(8, 200);
    EXPECT_TRUE(o.bytes.empty());
    EXPECT_GE(o.ms, 200);
    EXPECT_EQ(m_port.LastErrorText, "OTHER ERROR\n");
}

// A driver records a character only while the mask holds it: the mask is set
// before the reader starts, and bytes already queued are taken without a wait
// for an event they may never have raised.
TEST_F(SerialRead, MaskIsSetBeforeTheReaderAndQueuedBytesNeedNoEvent) {
    using platform::SerialCall;
    ASSERT_TRUE(m_pty.Send({1, 2, 3}));
    platform::RecordSerialCalls();
    const Outcome queued = Read(3, 10000);
    EXPECT_EQ(queued.bytes, (Bytes{1, 2, 3}));
    EXPECT_LT(queued.ms, kSlack);
    std::vector<SerialCall> calls = platform::RecordedSerialCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), SerialCall::SetMask);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), SerialCall::PollReceived), 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), SerialCall::Read), 3);

    platform::RecordSerialCalls();
    EXPECT_TRUE(Read(8, 100).bytes.empty());
    calls = platform::RecordedSerialCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), SerialCall::SetMask);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] == SerialCall::PollReceived) {
            EXPECT_EQ(calls.at(i - 1), SerialCall::BytesWaiting) << "wait " << i << " without a look at the queue";
        }
    }
}

// A driver that completes the device wait neither when the mask is set again
// nor when it is cancelled must not hold the read, nor Break with it, past
// its time-out by more than a bound.
TEST_F(SerialRead, DeviceWaitThatNeverEndsStillLetsTheReadEnd_InjectedEndWait) {
    m_port.LastErrorText = "before";
    platform::FailNextSerialCall(platform::SerialCall::EndWait, platform::kSerialErrorTimedOut);
    const Outcome o = Read(8, 200);
    EXPECT_TRUE(o.bytes.empty());
    EXPECT_GE(o.ms, 200);
    EXPECT_LT(o.ms, 200 + kSlack);
    EXPECT_EQ(m_port.LastErrorText, "before");
    ASSERT_TRUE(m_pty.Send({1, 2, 3}));
    EXPECT_EQ(Read(3, 2000).bytes, (Bytes{1, 2, 3})) << "the port still reads afterwards";
}

TEST_F(SerialRead, SecondReadAtTheSameTimeIsRefusedAndTheFirstIsUnharmed) {
    PtyPair otherPty;
    otherPty.MapTo(kCom + 1);
    CSerialPort other;
    ASSERT_TRUE(other.Open(kCom + 1, 19200, 'N', 8, 1.0f)) << other.LastErrorText;

    Outcome first;
    std::thread reader([&] { first = Read(8, 3000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(otherPty.Send({9, 9, 9}));
    std::uint8_t buffer[8];
    other.m_nReadTimeout = 3000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(other.ReadPort(buffer, 8), 0);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(other.LastErrorText, "Another read is in progress!");
    ASSERT_TRUE(m_pty.Send({1, 2, 3, 4, 5, 6, 7, 8}));
    reader.join();
    EXPECT_EQ(first.bytes, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(SerialChannel, FrameOutAndReplyInThroughTheChannel) {
    constexpr std::uint16_t kChannelCom = 7;
    PtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    pty.MapTo(kChannelCom);
    CCommChannel channel;
    channel.SetWay(kWaySerial);
    channel.SetSerialParams(kChannelCom, 19200, 300);
    ASSERT_TRUE(channel.Open()) << channel.SerialPort().LastErrorText;

    Bytes frame(136, 0xA5);
    ASSERT_TRUE(channel.Send(frame.data(), 136));
    EXPECT_EQ(pty.Receive(136, 3000), frame);
    ASSERT_TRUE(pty.Send({0x12, 0, 0, 0, 0, 0, 0, 0}));
    std::uint8_t reply[8] = {};
    EXPECT_EQ(channel.Receive(reply, 8), 8);
    EXPECT_EQ(reply[0], 0x12);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel.Receive(reply, 8), 0);  // nothing more comes: 300 ms, 8 slices
    EXPECT_GE(MsSince(start), 320);
    channel.Close();
    EXPECT_FALSE(channel.SerialPort().IsOpen());
    platform::ClearComPortPaths();
}
