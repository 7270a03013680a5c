// What the serial port does on Linux only: the ttyS names of the COM
// numbers, what termios refuses, and a pseudo-terminal's fixed frame.

#include <gtest/gtest.h>

#include <fstream>

#include "comm/com_port_name.h"
#include "comm/serial_port.h"
#include "platform/com_port_paths.h"
#include "platform/serial_device.h"
#include "serial_fixture.h"
#include "support/temp_folder.h"

using serial_test::PtyPair;

namespace {

constexpr std::uint16_t kCom = 3;
const char* const kInvalidArgument = "Invalid argument\n";

class SerialOpenLinux : public serial_test::LineTest<kCom> {
protected:
    void ExpectOpenFails(std::int32_t baud, char parity, std::uint8_t data, const std::string& text) {
        CSerialPort port;
        EXPECT_FALSE(port.Open(kCom, baud, parity, data, 1.0f));
        EXPECT_EQ(port.LastErrorText, text);
        EXPECT_FALSE(port.IsOpen());
    }
};

}  // namespace

TEST(ComPortNames, ResolveToTtySUnlessOverridden) {
    EXPECT_EQ(comm::ResolveComDevice(comm::ComDeviceName(1)), "/dev/ttyS0");
    EXPECT_EQ(comm::ResolveComDevice(comm::ComDeviceName(10)), "/dev/ttyS9");
    EXPECT_EQ(comm::ResolveComDevice(comm::ComDeviceName(20)), "/dev/ttyS19");
    platform::SetComPortPath(3, "/dev/ttyUSB0");
    EXPECT_EQ(comm::ResolveComDevice("COM3"), "/dev/ttyUSB0");
    platform::SetComPortPath(3, "");
    EXPECT_EQ(comm::ResolveComDevice("COM3"), "/dev/ttyS2");
}

// Texts the mode parser refuses here although Windows's takes them: no
// settings at all, zero-padded numbers.
TEST(SerialModeText, EmptyOrPaddedTextsAreRefused) {
    platform::DeviceControlBlock dcb;
    dcb.BaudRate = 9600;
    EXPECT_FALSE(platform::BuildCommDCB("", &dcb));
    EXPECT_FALSE(platform::BuildCommDCB("baud=0000019200", &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
}

TEST_F(SerialOpenLinux, BaudRateWithoutATermiosSpeedFailsAtBuildCommDCB) {
    ExpectOpenFails(12345, 'N', 8, std::string(kInvalidArgument) + "Error AT:BuildCommDCB");
}

TEST_F(SerialOpenLinux, FrameTheDriverDropsIsRefusedAtSetCommState) {
    // A pseudo-terminal always carries 8 data bits without parity; the port
    // reads the line back rather than trusting tcsetattr's partial success.
    ExpectOpenFails(19200, 'E', 7, std::string(kInvalidArgument) + "Error AT:SetCommState");
    ExpectOpenFails(19200, 'M', 8, std::string(kInvalidArgument) + "Error AT:SetCommState");
}

TEST_F(SerialOpenLinux, DeviceWithoutLineSettingsFailsAtBuildCommDCB) {
    support::TempFolder folder;
    const auto file = folder.Dir() / "not-a-terminal";
    std::ofstream(file) << "x";
    platform::SetComPortPath(kCom, file.string());
    ExpectOpenFails(19200, 'N', 8, "Inappropriate ioctl for device\nError AT:BuildCommDCB");
}
