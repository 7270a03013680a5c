// Writing to a COM port: every way a write ends, against a real
// pseudo-terminal.

#include <gtest/gtest.h>

#include <thread>

#include "comm/serial_port.h"
#include "platform/com_port_paths.h"
#include "platform/serial_device.h"
#include "serial_fixture.h"

using serial_test::MsSince;
using serial_test::PtyPair;
using serial_test::RunningUnderWine;

namespace {

constexpr std::uint16_t kCom = 4;
// Far more than a pseudo-terminal buffers while its other side doesn't read.
constexpr std::uint32_t kFloodSize = 1u << 20;

using SerialWrite = serial_test::OpenPortTest<kCom>;

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

}  // namespace

TEST_F(SerialWrite, AllBytesReachTheDeviceAndAreCounted) {
    const auto frame = Pattern(136);
    std::uint32_t written = 0;
    ASSERT_TRUE(m_port.WritePort(frame.data(), 136, &written)) << m_port.LastErrorText;
    EXPECT_EQ(written, 136u);
    EXPECT_EQ(m_pty.Receive(136, 3000), frame);
    EXPECT_TRUE(m_port.WritePort(frame.data(), 136, nullptr)) << "the count is optional";
}

TEST_F(SerialWrite, NullDataFailsWhateverTheStateOfThePort) {
    std::uint32_t written = 99;
    EXPECT_FALSE(m_port.WritePort(nullptr, 4, &written));
    EXPECT_EQ(m_port.LastErrorText, "invalid buff pointer");
    m_port.Close();
    EXPECT_FALSE(m_port.WritePort(nullptr, 0, &written));
    EXPECT_EQ(m_port.LastErrorText, "invalid buff pointer");
    EXPECT_EQ(written, 99u);
}

TEST_F(SerialWrite, NothingToSendOrNoPortFails) {
    const std::uint8_t byte = 0x5A;
    EXPECT_FALSE(m_port.WritePort(&byte, 0, nullptr));
    EXPECT_EQ(m_port.LastErrorText, "Port handle valid or no data to send!");
    CSerialPort closed;
    EXPECT_FALSE(closed.WritePort(&byte, 1, nullptr));
    EXPECT_EQ(closed.LastErrorText, "Port handle valid or no data to send!");
}

TEST_F(SerialWrite, ErrorStateThatCannotBeClearedFails_InjectedEio) {
    const std::uint8_t byte = 0x5A;
    platform::FailNextSerialCall(platform::SerialCall::BytesWaiting, platform::kSerialErrorIo);
    EXPECT_FALSE(m_port.WritePort(&byte, 1, nullptr));
    EXPECT_EQ(m_port.LastErrorText, "ClearCommError");
}

TEST_F(SerialWrite, WriteRefusedAsAnInvalidParameter_InjectedEinval) {
    const std::uint8_t byte = 0x5A;
    platform::FailNextSerialCall(platform::SerialCall::Write, platform::kSerialErrorInvalidParameter);
    EXPECT_FALSE(m_port.WritePort(&byte, 1, nullptr));
    EXPECT_EQ(m_port.LastErrorText, "非法参数!AT:WritePort");
}

TEST_F(SerialWrite, WriteRefusedOtherwiseKeepsTheOldText_InjectedEio) {
    const std::uint8_t byte = 0x5A;
    EXPECT_FALSE(m_port.WritePort(nullptr, 1, nullptr));
    platform::FailNextSerialCall(platform::SerialCall::Write, platform::kSerialErrorIo);
    EXPECT_FALSE(m_port.WritePort(&byte, 1, nullptr));
    EXPECT_EQ(m_port.LastErrorText, "invalid buff pointer");
}

TEST_F(SerialWrite, PendingWriteFailsWithTheSystemTextWhenTheLineHangsUp) {
    const auto flood = Pattern(kFloodSize);
    std::thread hangUp([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        m_pty.CloseMaster();
    });
    const auto start = std::chrono::steady_clock::now();
    std::uint32_t written = 0;
    const bool ok = m_port.WritePort(flood.data(), kFloodSize, &written);
    const auto elapsed = MsSince(start);
    hangUp.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(m_port.LastErrorText, PtyPair::HangUpText());
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 5000) << "the write must end with the line, not with its time-out";
}

TEST_F(SerialWrite, ShortWriteStoresTheCountThenFails_InjectedTimeout) {
    // The device really stops taking bytes; only the wait for the write
    // time-out (1000 ms per byte) is cut short.
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine may never complete a write cancelled while the pseudo-terminal is full";
    const auto flood = Pattern(kFloodSize);
    platform::FailNextSerialCall(platform::SerialCall::WaitWritable, platform::kSerialErrorTimedOut);
    std::uint32_t written = 0;
    EXPECT_FALSE(m_port.WritePort(flood.data(), kFloodSize, &written));
    EXPECT_LT(written, kFloodSize);
    EXPECT_EQ(m_port.LastErrorText,
              "Not all chars been send!(" + std::to_string(written) + "/" + std::to_string(kFloodSize) + ")");
}

TEST_F(SerialWrite, WriteWaitsForASlowReaderWithinItsTimeLimit) {
    const auto flood = Pattern(256 * 1024);
    std::vector<std::uint8_t> received;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        received = m_pty.Receive(flood.size(), 10000);
    });
    std::uint32_t written = 0;
    const bool ok = m_port.WritePort(flood.data(), static_cast<std::uint32_t>(flood.size()), &written);
    reader.join();
    EXPECT_TRUE(ok) << m_port.LastErrorText;
    EXPECT_EQ(written, flood.size());
    EXPECT_EQ(received, flood);
}

// A pseudo-terminal hands the bytes to its other side as soon as they are
// written: its output queue reads empty even while nobody reads, so a frame
// is out at once, far within its 137 s write time-out.
TEST_F(SerialWrite, FrameIntoAPseudoTerminalNobodyReadsIsCompleteAtOnce) {
    const auto frame = Pattern(136);
    const auto start = std::chrono::steady_clock::now();
    std::uint32_t written = 0;
    EXPECT_TRUE(m_port.WritePort(frame.data(), 136, &written)) << m_port.LastErrorText;
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_EQ(written, 136u);
    EXPECT_EQ(m_pty.Receive(136, 3000), frame);
}

// The bytes were taken but never leave: the write fails. A line whose queue
// can no longer be looked at (hung up as the controller took the frame) ends
// the wait: the hang-up is the next read's to report.
TEST_F(SerialWrite, BytesThatDoNotLeaveFailTheWriteAndAHangUpEndsTheWait_InjectedDrainFaults) {
    struct Row {
        int error;
        bool complete;
        std::string text;
        std::uint32_t written;
    };
    const auto frame = Pattern(136);
    for (const Row& row : {Row{platform::kSerialErrorTimedOut, false, "Not all chars been send!(0/136)", 0},
                           Row{platform::kSerialErrorIo, true, "", 136}}) {
        platform::FailNextSerialCall(platform::SerialCall::WaitSent, row.error);
        std::uint32_t written = 99;
        m_port.LastErrorText.clear();
        EXPECT_EQ(m_port.WritePort(frame.data(), 136, &written), row.complete) << "errno " << row.error;
        EXPECT_EQ(m_port.LastErrorText, row.text);
        EXPECT_EQ(written, row.written);
        if (row.complete) {
            EXPECT_EQ(m_pty.Receive(136, 3000), frame);
        }
    }
    EXPECT_TRUE(m_port.WritePort(frame.data(), 136, nullptr)) << "the next write is whole again";
}
