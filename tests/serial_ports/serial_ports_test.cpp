// The serial ports as libudev finds them in a umockdev test bed: what is
// listed, how it is numbered, and the [Ports] line that keeps a number.

#include <gtest/gtest.h>
#include <linux/serial.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "comm/com_port_name.h"
#include "comm/com_port_numbering.h"
#include "platform/com_port_paths.h"
#include "platform/serial_port_list.h"
#include "serial_testbed.h"
#include "settings/comm_settings.h"
#include "ui_test_support.h"

namespace serialtest {
namespace {

// Every test starts from empty COM tables and a bed of its own.
class SerialPortsTestbed : public ::testing::Test {
protected:
    void SetUp() override {
        if (!SerialTestbed::Preloaded()) GTEST_SKIP() << "run under umockdev-wrapper (ctest does)";
        platform::ClearComPortPaths();
        platform::SetAdapterComPorts({});
    }
    void TearDown() override {
        platform::ClearComPortPaths();
        platform::SetAdapterComPorts({});
    }
};

using SerialPortList = SerialPortsTestbed;
using ComNumbering = SerialPortsTestbed;
using AdapterNumberLine = SerialPortsTestbed;

std::string Describe(const platform::SerialPortInfo& port) {
    return port.device + " | " + port.stablePath + " | " + port.description + " | " + port.bus + " | " +
           (port.kind == platform::SerialPortKind::BuiltIn ? "built-in " + std::to_string(port.builtInIndex)
                                                           : "adapter") +
           (port.present ? " | present" : " | absent");
}

std::vector<std::string> ListedPorts() {
    std::vector<std::string> ports;
    for (const platform::SerialPortInfo& port : platform::ListSerialPorts()) ports.push_back(Describe(port));
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::vector<std::string> Numbers(const std::vector<ComPortEntry>& entries) {
    std::vector<std::string> numbers;
    for (const ComPortEntry& e : entries)
        numbers.push_back("COM" + std::to_string(e.number) + " " + (e.present ? e.node : "absent"));
    return numbers;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(SerialPortList, EachBedListsItsPortsWithNamesLinksAndPresence) {
    const std::string ftdi = "/dev/ttyUSB0 | " + Ftdi().StablePath() + " | FT232R USB UART | usb | adapter | present";
    const std::string acm = "/dev/ttyACM0 | " + CdcAcm().StablePath() + " | Serial Bridge | usb | adapter | present";
    struct Row {
        const char* name;
        std::function<void(SerialTestbed&)> build;
        std::vector<std::string> expected;
    };
    for (const Row& row : std::vector<Row>{
             {"no ports", [](SerialTestbed&) {}, {}},
             {"two USB adapters",
              [](SerialTestbed& bed) {
                  bed.Plug(Ftdi());
                  bed.Plug(CdcAcm());
              },
              {acm, ftdi}},
             {"the record file of the screenshot",
              [](SerialTestbed& bed) { bed.Load(VORNIC_TWO_ADAPTERS_RECORD); },
              {acm, ftdi}},
             {"built-in ports: type attribute, TIOCGSERIAL, or neither",
              [](SerialTestbed& bed) {
                  bed.AddBuiltIn(0, PORT_16550A);
                  bed.AddBuiltIn(1, PORT_UNKNOWN);
                  bed.AddBuiltIn(2, std::nullopt);
                  bed.AnswerSerialInfo("/dev/ttyS2", PORT_16550A);
                  bed.AddBuiltIn(3, std::nullopt);
              },
              {"/dev/ttyS0 |  | Built-in serial port | pnp | built-in 0 | present",
               "/dev/ttyS1 |  | Built-in serial port | pnp | built-in 1 | absent",
               "/dev/ttyS2 |  | Built-in serial port | pnp | built-in 2 | present",
               "/dev/ttyS3 |  | Built-in serial port | pnp | built-in 3 | absent"}},
         }) {
        SerialTestbed bed;
        row.build(bed);
        EXPECT_EQ(ListedPorts(), row.expected) << row.name;
    }
}

TEST_F(ComNumbering, BuiltInPortKeepsItsNumberAndAdaptersTakeTheFreeOnesInEitherPlugOrder) {
    for (const bool ftdiFirst : {true, false}) {
        SerialTestbed bed;
        bed.AddBuiltIn(0, PORT_16550A);
        bed.AddBuiltIn(1, PORT_UNKNOWN);
        // Two of one model: the first one plugged in is ttyUSB0.
        UsbAdapter ftdi = Ftdi(ftdiFirst ? "ttyUSB0" : "ttyUSB1", "1-1");
        UsbAdapter twin = Ftdi(ftdiFirst ? "ttyUSB1" : "ttyUSB0", "1-4");
        twin.serial = "B77";
        bed.Plug(ftdiFirst ? ftdi : twin);
        bed.Plug(CdcAcm());
        bed.Plug(ftdiFirst ? twin : ftdi);
        const std::vector<ComPortEntry> entries = RefreshComPorts();
        EXPECT_EQ(Numbers(entries), (std::vector<std::string>{"COM1 /dev/ttyS0", "COM2 /dev/ttyACM0",
                                                              "COM3 " + ftdi.Device(), "COM4 " + twin.Device()}))
            << (ftdiFirst ? "A10K3R7Q first" : "B77 first");
        EXPECT_EQ(comm::ResolveComDevice("COM3"), ftdi.StablePath());
        EXPECT_EQ(comm::ResolveComDevice("COM1"), "/dev/ttyS0");
        EXPECT_EQ(comm::ResolveComDevice("COM2"), CdcAcm().StablePath());
    }
}

TEST_F(AdapterNumberLine, WrittenOnceKeepingEveryOtherByteAndTheNumberSurvivesAReplug) {
    uitest::TempFolder folder;
    const std::string config = folder.Path("Config.ini");
    CommSettings settings;
    ASSERT_TRUE(ExchangeSettingsFile(settings, false, config, nullptr));
    const std::string defaults = ReadBytes(config);
    ASSERT_EQ(defaults.size(), 175u);

    auto bed = std::make_unique<SerialTestbed>();
    bed->Plug(Ftdi("ttyUSB0", "1-1"));
    bed->Plug(CdcAcm());
    const std::vector<ComPortEntry> before = RefreshComPorts();
    const ComPortEntry* ftdi = FindComPort(before, 2);
    ASSERT_NE(ftdi, nullptr);
    ASSERT_EQ(PortsLineToKeep(*ftdi), Ftdi().StablePath());

    ASSERT_TRUE(SaveComPortLine(2, PortsLineToKeep(*ftdi), config, nullptr));
    const std::string kept = defaults + "\r\n[Ports]\r\nCOM2=" + Ftdi().StablePath();
    EXPECT_EQ(ReadBytes(config), kept);
    ASSERT_TRUE(SaveComPortLine(2, "/dev/ttyUSB7", config, nullptr));
    EXPECT_EQ(ReadBytes(config), kept) << "a second Setup writes nothing";

    // Read back as the next start reads it. Replugged, the adapter is
    // ttyUSB1, and a newcomer whose stable path sorts first was plugged in
    // before it; after a reboot the newcomer has ttyUSB0.
    platform::ClearComPortPaths();
    LoadComPortOverrides(config);
    UsbAdapter newcomer = Ftdi("ttyUSB2", "1-4");
    newcomer.serial = "0001";
    bed->Unplug(Ftdi());
    bed->Plug(newcomer);
    bed->Plug(Ftdi("ttyUSB1", "1-3"));
    const std::vector<ComPortEntry> replugged = RefreshComPorts();
    EXPECT_EQ(Numbers(replugged), (std::vector<std::string>{"COM1 /dev/ttyACM0", "COM2 /dev/ttyUSB1", "COM3 /dev/ttyUSB2"}));
    EXPECT_EQ(FindComPort(replugged, 2)->source, ComPortSource::PortsLine);
    EXPECT_EQ(comm::ResolveComDevice("COM2"), Ftdi().StablePath());

    // One bed at a time: the old one's end clears the environment.
    bed.reset();
    bed = std::make_unique<SerialTestbed>();
    newcomer.node = "ttyUSB0";
    bed->Plug(newcomer);
    bed->Plug(Ftdi("ttyUSB1", "1-1"));
    bed->Plug(CdcAcm());
    EXPECT_EQ(Numbers(RefreshComPorts()), (std::vector<std::string>{"COM1 /dev/ttyACM0", "COM2 /dev/ttyUSB1", "COM3 /dev/ttyUSB0"}));

    // Unplugged, the line keeps the number for it.
    bed.reset();
    bed = std::make_unique<SerialTestbed>();
    EXPECT_EQ(Numbers(RefreshComPorts()), std::vector<std::string>{"COM2 absent"});
}

}  // namespace
}  // namespace serialtest
