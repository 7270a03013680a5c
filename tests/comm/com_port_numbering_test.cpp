// The COM numbering rule on port lists written out by hand; the same rule on
// ports that libudev finds runs in serial_ports_tests under umockdev.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/com_port_numbering.h"

namespace {

using platform::SerialPortInfo;
using platform::SerialPortKind;

SerialPortInfo Adapter(const std::string& node, const std::string& stable, const std::string& description) {
    SerialPortInfo port;
    port.device = node;
    port.stablePath = stable;
    if (!stable.empty()) port.links = {stable, "/dev/serial/by-path/" + node.substr(5)};
    port.description = description;
    port.bus = "usb";
    port.present = true;
    return port;
}

SerialPortInfo BuiltIn(int index, bool present) {
    SerialPortInfo port;
    port.device = "/dev/ttyS" + std::to_string(index);
    port.description = "Built-in serial port";
    port.bus = "pnp";
    port.kind = SerialPortKind::BuiltIn;
    port.builtInIndex = index;
    port.present = present;
    return port;
}

const std::string kFtdiId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3R7Q-if00-port0";
const std::string kAcmId = "/dev/serial/by-id/usb-Acme_Bench_Serial_Bridge_E661410-if00";

// "COM3 /dev/ttyUSB0 <- /dev/serial/by-id/... adapter" for a present entry,
// "COM4 /dev/ttyUSB9 line absent" for a line with nothing behind it.
std::vector<std::string> Summary(const std::vector<ComPortEntry>& entries) {
    static const char* const kSources[] = {"line", "built-in", "adapter"};
    std::vector<std::string> lines;
    for (const ComPortEntry& e : entries) {
        std::string line = "COM" + std::to_string(e.number) + " " + e.device;
        if (e.present && e.node != e.device) line += " <- " + e.node;
        line += std::string(" ") + kSources[static_cast<int>(e.source)];
        if (!e.present) line += " absent";
        lines.push_back(line);
    }
    return lines;
}

TEST(ComNumbering, LinesFirstThenBuiltInPortsWithHardwareThenAdaptersInTheLowestFreeNumbers) {
    struct Row {
        const char* name;
        std::map<std::uint16_t, std::string> lines;
        std::vector<SerialPortInfo> ports;
        std::vector<std::string> expected;
    };
    const SerialPortInfo ftdi = Adapter("/dev/ttyUSB0", kFtdiId, "FT232R USB UART");
    const SerialPortInfo acm = Adapter("/dev/ttyACM0", kAcmId, "Serial Bridge");
    const SerialPortInfo bare = Adapter("/dev/ttyUSB1", "", "Serial port");
    for (const Row& row : std::vector<Row>{
             {"nothing", {}, {}, {}},
             {"absent built-in ports take no number", {}, {BuiltIn(0, false), BuiltIn(1, false)}, {}},
             {"a line with nothing behind it keeps its number",
              {{4, "/dev/ttyUSB9"}},
              {ftdi},
              {"COM1 " + kFtdiId + " <- /dev/ttyUSB0 adapter", "COM4 /dev/ttyUSB9 line absent"}},
             {"built-in keeps COMn, adapters by stable path fill the gaps",
              {},
              {ftdi, BuiltIn(0, true), BuiltIn(1, false), acm, BuiltIn(3, true)},
              {"COM1 /dev/ttyS0 built-in", "COM2 " + kAcmId + " <- /dev/ttyACM0 adapter",
               "COM3 " + kFtdiId + " <- /dev/ttyUSB0 adapter", "COM4 /dev/ttyS3 built-in"}},
             {"a line naming the stable path pins the adapter",
              {{5, kFtdiId}},
              {ftdi, acm, BuiltIn(0, true)},
              {"COM1 /dev/ttyS0 built-in", "COM2 " + kAcmId + " <- /dev/ttyACM0 adapter",
               "COM5 " + kFtdiId + " <- /dev/ttyUSB0 line"}},
             {"a line naming the node matches too",
              {{7, "/dev/ttyACM0"}},
              {acm},
              {"COM7 /dev/ttyACM0 line"}},
             {"a built-in port whose number a line took gets a free one",
              {{1, kFtdiId}},
              {BuiltIn(0, true), ftdi, acm},
              {"COM1 " + kFtdiId + " <- /dev/ttyUSB0 line", "COM2 " + kAcmId + " <- /dev/ttyACM0 adapter",
               "COM3 /dev/ttyS0 adapter"}},
             {"an adapter without a stable path is opened by its node",
              {},
              {bare, ftdi},
              {"COM1 " + kFtdiId + " <- /dev/ttyUSB0 adapter", "COM2 /dev/ttyUSB1 adapter"}},
             {"a line outside 1..255 is no line", {{0, kFtdiId}, {256, kAcmId}}, {}, {}},
         }) {
        EXPECT_EQ(Summary(NumberComPorts(row.lines, row.ports)), row.expected) << row.name;
    }
}

TEST(ComNumbering, PlugOrderAndNodeNamesDoNotChangeTheNumbers) {
    // Two adapters of one model: whichever came first got ttyUSB0.
    const std::string otherId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_B77-if00-port0";
    const auto ftdiFirst = NumberComPorts({}, {Adapter("/dev/ttyUSB0", kFtdiId, "FT232R USB UART"),
                                               Adapter("/dev/ttyUSB1", otherId, "FT232R USB UART")});
    const auto otherFirst = NumberComPorts({}, {Adapter("/dev/ttyUSB0", otherId, "FT232R USB UART"),
                                                Adapter("/dev/ttyUSB1", kFtdiId, "FT232R USB UART")});
    const std::vector<std::string> expected = {"COM1 " + kFtdiId, "COM2 " + otherId};
    for (const auto* entries : {&ftdiFirst, &otherFirst}) {
        std::vector<std::string> numbers;
        for (const ComPortEntry& e : *entries) numbers.push_back("COM" + std::to_string(e.number) + " " + e.device);
        EXPECT_EQ(numbers, expected);
    }
}

TEST(ComNumbering, OnlyAnAdapterThatFoundItsOwnNumberAsksForALine) {
    const SerialPortInfo ftdi = Adapter("/dev/ttyUSB0", kFtdiId, "FT232R USB UART");
    const SerialPortInfo bare = Adapter("/dev/ttyUSB1", "", "Serial port");
    const auto entries = NumberComPorts({{9, "/dev/ttyACM3"}}, {BuiltIn(0, true), ftdi, bare});
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(PortsLineToKeep(*FindComPort(entries, 1)), "") << "a built-in port keeps its number anyway";
    EXPECT_EQ(PortsLineToKeep(*FindComPort(entries, 2)), kFtdiId);
    EXPECT_EQ(PortsLineToKeep(*FindComPort(entries, 3)), "") << "a node name would not stick to the device";
    EXPECT_EQ(PortsLineToKeep(*FindComPort(entries, 9)), "") << "already a line";
    EXPECT_EQ(FindComPort(entries, 4), nullptr);
}

}  // namespace
