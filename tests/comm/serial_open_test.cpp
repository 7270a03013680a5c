// Opening a COM port: the device name, exclusivity, and the line settings that
// reach a real pseudo-terminal.

#include <gtest/gtest.h>

#include "comm/com_port_name.h"
#include "comm/serial_port.h"
#include "platform/com_port_paths.h"
#include "platform/serial_device.h"
#include "platform/system_error.h"
#include "serial_fixture.h"
#include "support/temp_folder.h"

using serial_test::PtyPair;
using serial_test::RunningUnderWine;

namespace {

constexpr std::uint16_t kCom = 3;
const std::string kInvalidArgument = platform::SystemErrorText(platform::kSerialErrorInvalidParameter);
const std::string kIoFailure = platform::SystemErrorText(platform::kSerialErrorIo);

class SerialOpen : public serial_test::LineTest<kCom> {
protected:
    // The open failed with exactly this text and left the port closed.
    static void ExpectOpenFails(CSerialPort& port, std::int32_t baud, char parity, std::uint8_t data,
                                float stop, const std::string& text) {
        EXPECT_FALSE(port.Open(kCom, baud, parity, data, stop));
        EXPECT_EQ(port.LastErrorText, text);
        EXPECT_FALSE(port.IsOpen());
    }
};

}  // namespace

TEST(ComPortNames, ShortNamesBelowTenLongNamesFromTen) {
    EXPECT_EQ(comm::ComDeviceName(1), "COM1");
    EXPECT_EQ(comm::ComDeviceName(9), "COM9");
    EXPECT_EQ(comm::ComDeviceName(10), "\\\\.\\COM10");
    EXPECT_EQ(comm::ComDeviceName(20), "\\\\.\\COM20");
}

TEST(ComPortNames, NumberIsTheWholeDecimalNumberAfterComInAnyCase) {
    EXPECT_EQ(comm::ComNumberFromName("com7"), 7);
    EXPECT_EQ(comm::ComNumberFromName("\\\\.\\COM007"), 7);
    EXPECT_EQ(comm::ComNumberFromName("COM65535"), 65535);
    EXPECT_EQ(comm::ComNumberFromName("COM65536"), 0);
    EXPECT_EQ(comm::ComNumberFromName("COM+3"), 0);
    EXPECT_EQ(comm::ComNumberFromName("COM3 "), 0);
    EXPECT_EQ(comm::ComNumberFromName("COM"), 0);
}

TEST(SerialModeText, StopBitsOneAndAHalfOrTruncated) {
    EXPECT_EQ(CSerialPort::ModeText(19200, 'N', 8, 1.5f), "baud=19200 parity=N data=8 stop=1.5");
    EXPECT_EQ(CSerialPort::ModeText(19200, 'N', 8, 1.0f), "baud=19200 parity=N data=8 stop=1");
    EXPECT_EQ(CSerialPort::ModeText(19200, 'N', 8, 2.0f), "baud=19200 parity=N data=8 stop=2");
    EXPECT_EQ(CSerialPort::ModeText(19200, 'N', 8, 1.7f), "baud=19200 parity=N data=8 stop=1");
    EXPECT_EQ(CSerialPort::ModeText(9600, 'E', 7, 1e30f), "baud=9600 parity=E data=7 stop=0");
}

TEST(SerialModeText, RejectedTextLeavesTheControlBlockAsItWas) {
    platform::DeviceControlBlock dcb;
    dcb.BaudRate = 9600;
    EXPECT_FALSE(platform::BuildCommDCB("baud=19200 parity=N data=8 stop=3", &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_FALSE(platform::BuildCommDCB("baud=19200 speed=fast", &dcb));
    EXPECT_FALSE(platform::BuildCommDCB("baud=+19200", &dcb));
    EXPECT_FALSE(platform::BuildCommDCB("baud=19200 data=8x", &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_TRUE(platform::BuildCommDCB("BAUD=115200 Parity=s data=5 stop=1.5", &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.Parity, platform::ParityMode::Space);
    EXPECT_EQ(dcb.ByteSize, 5);
    EXPECT_EQ(dcb.StopBits, platform::StopBitsMode::OneAndHalf);
}

TEST_F(SerialOpen, ChannelSettingsGiveARaw19200EightNOneLine) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(kCom, 19200, 'N', 8, 1.0f)) << port.LastErrorText;
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.m_nPort, kCom);
    EXPECT_EQ(port.m_nBaud, 19200);

    const serial_test::LineSettings line = m_pty.Settings();
    EXPECT_EQ(line.baud, 19200u);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.parity, 'N');
    EXPECT_EQ(line.stopBits, 1);
    EXPECT_FALSE(line.rtsCtsFlow);
    EXPECT_TRUE(line.raw);
}

TEST_F(SerialOpen, OtherSpeedsAndStopBitsReachTheLine) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(kCom, 9600, 'N', 8, 2.0f)) << port.LastErrorText;
    const serial_test::LineSettings line = m_pty.Settings();
    EXPECT_EQ(line.baud, 9600u);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.parity, 'N');
    EXPECT_EQ(line.stopBits, 2);
}

TEST_F(SerialOpen, PortsFromTenOpenThroughTheirLongNames) {
    PtyPair second;
    m_pty.MapTo(10);
    second.MapTo(20);
    CSerialPort ten, twenty;
    EXPECT_TRUE(ten.Open(10, 19200, 'N', 8, 1.0f)) << ten.LastErrorText;
    EXPECT_TRUE(twenty.Open(20, 19200, 'N', 8, 1.0f)) << twenty.LastErrorText;
    EXPECT_EQ(twenty.m_nPort, 20);
}

TEST_F(SerialOpen, MissingDeviceCannotBeOpened) {
    support::TempFolder folder;
    platform::SetComPortPath(kCom, (folder.Dir() / "ttyGone").string());
    CSerialPort port;
    ExpectOpenFails(port, 38400, 'N', 8, 1.0f, "Can't open com handle!");
    EXPECT_EQ(port.m_nPort, kCom);  // kept even though the open failed
    EXPECT_EQ(port.m_nBaud, 38400);
}

TEST_F(SerialOpen, PortHeldByAnotherObjectIsBusyUntilClosed) {
    if (RunningUnderWine()) GTEST_SKIP() << "Wine opens a COM port again although it was opened without sharing";
    CSerialPort first, second;
    ASSERT_TRUE(first.Open(kCom, 19200, 'N', 8, 1.0f)) << first.LastErrorText;
    ExpectOpenFails(second, 19200, 'N', 8, 1.0f, "Can't open com handle!");
    first.Close();
    first.Close();  // harmless
    EXPECT_TRUE(second.Open(kCom, 19200, 'N', 8, 1.0f)) << second.LastErrorText;
}

TEST_F(SerialOpen, DestroyingThePortReleasesTheDevice) {
    {
        CSerialPort first;
        ASSERT_TRUE(first.Open(kCom, 19200, 'N', 8, 1.0f));
    }
    CSerialPort second;
    EXPECT_TRUE(second.Open(kCom, 19200, 'N', 8, 1.0f)) << second.LastErrorText;
}

TEST_F(SerialOpen, OpeningAnOpenPortClosesTheFirstHandle) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(kCom, 19200, 'N', 8, 1.0f));
    // Were the first handle still held, its lock would refuse the second open.
    ASSERT_TRUE(port.Open(kCom, 19200, 'N', 8, 1.0f)) << port.LastErrorText;

    support::TempFolder folder;
    platform::SetComPortPath(kCom, (folder.Dir() / "ttyGone").string());
    ExpectOpenFails(port, 19200, 'N', 8, 1.0f, "Can't open com handle!");
    m_pty.MapTo(kCom);
    CSerialPort other;
    EXPECT_TRUE(other.Open(kCom, 19200, 'N', 8, 1.0f)) << "the failed reopen still holds the line";
}

TEST_F(SerialOpen, ModeTextsNoDeviceCanTakeFailAtBuildCommDCB) {
    CSerialPort port;
    const std::string text = kInvalidArgument + "Error AT:BuildCommDCB";
    ExpectOpenFails(port, -19200, 'N', 8, 1.0f, text);
    ExpectOpenFails(port, 19200, 'X', 8, 1.0f, text);
    ExpectOpenFails(port, 19200, '\0', 8, 1.0f, text);
    ExpectOpenFails(port, 19200, 'N', 9, 1.0f, text);
    ExpectOpenFails(port, 19200, 'N', 4, 1.0f, text);
    ExpectOpenFails(port, 19200, 'N', 8, 3.0f, text);
    ExpectOpenFails(port, 19200, 'N', 8, 0.5f, text);
    // Every failed configuration closed the device again.
    CSerialPort other;
    EXPECT_TRUE(other.Open(kCom, 19200, 'N', 8, 1.0f)) << other.LastErrorText;
}

TEST_F(SerialOpen, FramesTheLineCannotCarryFailAtSetCommState) {
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine sets any frame on a pseudo-terminal; a serial driver refuses these";
    CSerialPort port;
    const std::string text = kInvalidArgument + "Error AT:SetCommState";
    ExpectOpenFails(port, 19200, 'N', 8, 1.5f, text);
    ExpectOpenFails(port, 19200, 'N', 5, 2.0f, text);
}

TEST_F(SerialOpen, ReadingTheSettingsFails_InjectedEio) {
    platform::FailNextSerialCall(platform::SerialCall::GetAttributes, platform::kSerialErrorIo);
    CSerialPort port;
    ExpectOpenFails(port, 19200, 'N', 8, 1.0f, kIoFailure + "Error AT:BuildCommDCB");
}

TEST_F(SerialOpen, TimeoutsRefused_InjectedEio) {
    platform::FailNextSerialCall(platform::SerialCall::SetTimeouts, platform::kSerialErrorIo);
    CSerialPort port;
    ExpectOpenFails(port, 19200, 'N', 8, 1.0f, kIoFailure + "Error AT:SetCommTimeouts");
}

TEST_F(SerialOpen, SuccessLeavesTheLastFailureText) {
    CSerialPort port;
    ExpectOpenFails(port, 19200, 'X', 8, 1.0f, kInvalidArgument + "Error AT:BuildCommDCB");
    ASSERT_TRUE(port.Open(kCom, 19200, 'N', 8, 1.0f));
    EXPECT_EQ(port.LastErrorText, kInvalidArgument + "Error AT:BuildCommDCB");
}
