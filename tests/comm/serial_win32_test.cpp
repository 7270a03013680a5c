// What the serial port does on Windows only: COM numbers reach their devices
// through the \\.\ namespace, which COM10 and above need; a port opened
// without sharing refuses a second opener; the ports come from the SERIALCOMM
// map under their own numbers.

#include <gtest/gtest.h>

#include <windows.h>

#include "comm/com_port_name.h"
#include "comm/com_port_numbering.h"
#include "comm/serial_port.h"
#include "platform/com_port_paths.h"
#include "platform/serial_device.h"
#include "platform/serial_port_list.h"
#include "serial_pty.h"
#include "support/temp_folder.h"

#include <fstream>

using serial_test::PtyPair;
using serial_test::RunningUnderWine;

namespace {

// A byte each way through a port opened by number alone: the COM name the
// line has in the system, no override.
void ExpectRoundTrip(std::uint16_t number) {
    platform::ClearComPortPaths();
    PtyPair line(number);
    ASSERT_TRUE(line.IsValid()) << "no line as COM" << number;
    EXPECT_EQ(line.SlavePath(), "\\\\.\\COM" + std::to_string(number));
    CSerialPort port;
    ASSERT_TRUE(port.Open(number, 19200, 'N', 8, 1.0f)) << "COM" << number << ": " << port.LastErrorText;
    const std::uint8_t frame[] = {0x5A, 0xA5};
    ASSERT_TRUE(port.WritePort(frame, 2, nullptr)) << port.LastErrorText;
    EXPECT_EQ(line.Receive(2, 3000), (std::vector<std::uint8_t>{0x5A, 0xA5}));
    ASSERT_TRUE(line.Send({0x12}));
    port.m_nReadTimeout = 3000;
    std::uint8_t reply[1] = {};
    EXPECT_EQ(port.ReadPort(reply, 1), 1);
    EXPECT_EQ(reply[0], 0x12);
}

}  // namespace

TEST(ComPortNamesWindows, ResolveToTheDeviceNamespaceUnlessOverridden) {
    EXPECT_EQ(comm::ResolveComDevice(comm::ComDeviceName(1)), "\\\\.\\COM1");
    EXPECT_EQ(comm::ResolveComDevice(comm::ComDeviceName(10)), "\\\\.\\COM10");
    EXPECT_EQ(comm::ResolveComDevice(comm::ComDeviceName(20)), "\\\\.\\COM20");
    platform::SetComPortPath(3, "\\\\.\\COM12");
    EXPECT_EQ(comm::ResolveComDevice("COM3"), "\\\\.\\COM12");
    platform::SetComPortPath(3, "");
    EXPECT_EQ(comm::ResolveComDevice("COM3"), "\\\\.\\COM3");
}

TEST(SerialOpenWindows, PortsBelowAndFromTenOpenByTheirOwnNumbers) {
    ExpectRoundTrip(7);
    ExpectRoundTrip(12);
}

TEST(SerialOpenWindows, PortHeldByAnotherOpenerIsRefusedAsAccessDenied) {
    if (RunningUnderWine()) GTEST_SKIP() << "Wine opens a COM port again although it was opened without sharing";
    PtyPair line;
    ASSERT_TRUE(line.IsValid());
    const platform::ComHandle holder = platform::OpenComDevice(line.SlavePath());
    ASSERT_TRUE(platform::IsOpenComHandle(holder));
    EXPECT_EQ(platform::OpenComDevice(line.SlavePath()), platform::kInvalidComHandle);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    line.MapTo(4);
    CSerialPort port;
    EXPECT_FALSE(port.Open(4, 19200, 'N', 8, 1.0f));
    EXPECT_EQ(port.LastErrorText, "Can't open com handle!");
    platform::CloseComDevice(holder);
    EXPECT_TRUE(port.Open(4, 19200, 'N', 8, 1.0f)) << port.LastErrorText;
    platform::ClearComPortPaths();
}

// A file opens like a device, but it has no line settings to read.
TEST(SerialOpenWindows, DeviceWithoutLineSettingsFailsAtBuildCommDCB) {
    support::TempFolder folder;
    const auto file = folder.Dir() / "not-a-port";
    std::ofstream(file) << "x";
    platform::SetComPortPath(4, file.string());
    CSerialPort port;
    EXPECT_FALSE(port.Open(4, 19200, 'N', 8, 1.0f));
    const std::string label = "Error AT:BuildCommDCB";
    ASSERT_GT(port.LastErrorText.size(), label.size() + 2) << "the system's text comes first";
    EXPECT_EQ(port.LastErrorText.substr(port.LastErrorText.size() - label.size()), label);
    EXPECT_EQ(port.LastErrorText.substr(port.LastErrorText.size() - label.size() - 2, 2), "\r\n");
    EXPECT_FALSE(port.IsOpen());
    platform::ClearComPortPaths();
}

// Windows numbers its ports itself: each listed port keeps its COM number,
// under its own name and the short one a [Ports] line may use.
TEST(SerialPortListWindows, EveryListedPortKeepsItsOwnComNumber) {
    const std::vector<platform::SerialPortInfo> ports = platform::ListSerialPorts();
    if (RunningUnderWine()) {
        ASSERT_FALSE(ports.empty()) << "Wine's prefix lists COM1 in the SERIALCOMM map";
    }
    for (const platform::SerialPortInfo& port : ports) {
        const std::string number = std::to_string(port.builtInIndex + 1);
        EXPECT_EQ(port.kind, platform::SerialPortKind::BuiltIn);
        EXPECT_TRUE(port.present);
        EXPECT_EQ(port.device, "\\\\.\\COM" + number);
        EXPECT_EQ(port.links, std::vector<std::string>{"COM" + number});
        EXPECT_FALSE(port.description.empty());
    }
    const std::vector<ComPortEntry> entries = NumberComPorts({}, ports);
    ASSERT_EQ(entries.size(), ports.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].number, ports[i].builtInIndex + 1);
        EXPECT_EQ(entries[i].device, ports[i].device);
        EXPECT_EQ(entries[i].source, ComPortSource::BuiltIn);
    }
}

// A [Ports] line may name a port the short way; the port it names keeps the
// line's number, and the COM number it had is free for no one else.
TEST(SerialPortListWindows, PortsLineNamingTheShortNameTakesThatPort) {
    platform::SerialPortInfo com1;
    com1.device = "\\\\.\\COM1";
    com1.links = {"COM1"};
    com1.kind = platform::SerialPortKind::BuiltIn;
    com1.builtInIndex = 0;
    com1.present = true;
    const std::vector<ComPortEntry> entries = NumberComPorts({{5, "COM1"}}, {com1});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].number, 5);
    EXPECT_EQ(entries[0].device, "COM1");
    EXPECT_TRUE(entries[0].present);
}
