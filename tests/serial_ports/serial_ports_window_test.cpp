// The COM list, Setup and vornic-flash over the ports of a umockdev test bed:
// the list says what is plugged in when it drops down, Setup keeps an
// adapter's number, and a download reaches the simulator through an emulated
// USB adapter by that number.

#include <QComboBox>
#include <QPushButton>
#include <filesystem>
#include <algorithm>
#include <iterator>
#include <sstream>

#include "comm/com_port_name.h"
#include "comm/com_port_numbering.h"
#include "platform/com_port_paths.h"
#include "res/resource.h"
#include "serial_testbed.h"
#include "settings/comm_settings.h"
#include "support/subprocess.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

using serialtest::CdcAcm;
using serialtest::Ftdi;
using serialtest::SerialTestbed;

constexpr int kFlashMs = 120000;

void ClearComTables() {
    platform::ClearComPortPaths();
    platform::SetAdapterComPorts({});
}

class ComListTestbed : public UpdaterWindowTest {
protected:
    void SetUp() override {
        if (!SerialTestbed::Preloaded()) GTEST_SKIP() << "run under umockdev-wrapper (ctest does)";
        ClearComTables();
    }
    void TearDown() override {
        UpdaterWindowTest::TearDown();
        ClearComTables();
    }

    QComboBox* ComList() { return Page1().Item<QComboBox>(IDC_COMNO); }
    std::vector<std::string> FirstTexts(int count) {
        std::vector<std::string> texts;
        for (int i = 0; i < count; ++i) texts.push_back(ComList()->itemText(i).toStdString());
        return texts;
    }
    void Setup(int comIndex) {
        ComList()->setCurrentIndex(comIndex);
        Click(Button(Page1(), IDC_SETUP));
    }

    SerialTestbed m_bed;
};

using SetupKeepsAdapterNumber = ComListTestbed;

TEST_F(ComListTestbed, DroppedListNamesWhatIsPluggedInNowAndClosedListKeepsThePlainNames) {
    m_bed.Plug(Ftdi());
    OpenWindow();
    ComList()->showPopup();
    EXPECT_EQ(FirstTexts(3), (std::vector<std::string>{"COM  1   FT232R USB UART (ttyUSB0)", "COM  2", "COM  3"}));
    EXPECT_EQ(ComList()->count(), 20);
    ComList()->hidePopup();
    EXPECT_EQ(FirstTexts(2), (std::vector<std::string>{"COM  1", "COM  2"}));
    EXPECT_EQ(ComList()->currentText().toStdString(), "COM  1");

    // Plugged in after start-up: no restart needed. Without a [Ports] line
    // the numbers follow the stable paths, so the newcomer comes first.
    m_bed.Plug(CdcAcm());
    ComList()->showPopup();
    EXPECT_EQ(FirstTexts(3), (std::vector<std::string>{"COM  1   Serial Bridge (ttyACM0)",
                                                        "COM  2   FT232R USB UART (ttyUSB0)", "COM  3"}));
    ComList()->hidePopup();
    EXPECT_EQ(m_messages->Count(), 0u);
}

TEST_F(SetupKeepsAdapterNumber, OneLineOnlyForAnAdapterAndOnlyOnce) {
    m_bed.Plug(Ftdi());
    m_bed.Plug(CdcAcm());
    OpenWindow();
    Setup(2);  // COM3: nothing behind it
    EXPECT_EQ(ReadText(ConfigPath()).find("[Ports]"), std::string::npos);

    Setup(1);  // COM2: the FTDI adapter
    const std::string kept = ReadText(ConfigPath());
    const std::string line = "\r\n[Ports]\r\nCOM2=" + Ftdi().StablePath();
    ASSERT_GE(kept.size(), line.size());
    EXPECT_EQ(kept.substr(kept.size() - line.size()), line);
    EXPECT_EQ(comm::ResolveComDevice("COM2"), Ftdi().StablePath());

    Setup(1);
    EXPECT_EQ(ReadText(ConfigPath()), kept);
    ASSERT_EQ(m_messages->Count(), 3u);
    for (const ShownMessage& message : m_messages->Messages()) EXPECT_EQ(message.text, "Setup successfully!");
}

TEST(FlashTestbed, ListsThePortsAndDownloadsThroughAnEmulatedUsbAdapterByItsComNumber) {
    if (!SerialTestbed::Preloaded()) GTEST_SKIP() << "run under umockdev-wrapper (ctest does)";
    ClearComTables();
    SerialTestbed bed;
    bed.Plug(Ftdi());
    bed.Plug(CdcAcm());
    Simulator sim({"--serial"});
    ASSERT_TRUE(sim.IsRunning());
    bed.BackWith(Ftdi(), sim.SerialPath());

    // vornic-flash beside a Config.ini whose [Ports] line Setup wrote.
    TempFolder folder;
    const std::string flash = folder.Path("vornic-flash");
    std::filesystem::copy_file(VORNIC_FLASH_PATH, flash);
    CommSettings settings;
    ASSERT_TRUE(ExchangeSettingsFile(settings, false, folder.Path("Config.ini"), nullptr));
    ASSERT_TRUE(SaveComPortLine(5, Ftdi().StablePath(), folder.Path("Config.ini"), nullptr));
    ClearComTables();

    support::Subprocess list({flash, "--list-ports"});
    ASSERT_EQ(list.Wait(kFlashMs), 0) << list.Stderr();
    std::istringstream rows(list.Stdout());
    std::vector<std::vector<std::string>> table;
    for (std::string row; std::getline(rows, row);) {
        std::istringstream words(row);
        table.emplace_back(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
    }
    using Words = std::vector<std::string>;
    EXPECT_EQ(table, (std::vector<Words>{
                         {"PORT", "DEVICE", "STABLE", "PATH", "DESCRIPTION", "PRESENT"},
                         {"COM1", "/dev/ttyACM0", CdcAcm().StablePath(), "Serial", "Bridge", "yes"},
                         {"COM5", "/dev/ttyUSB0", Ftdi().StablePath(), "FT232R", "USB", "UART", "yes"}}));

    const Bytes image = PatternedImage(70000, 5);
    WriteBytes(folder.Path("fw.bin"), image);
    support::Subprocess run({flash, "--serial", "COM5", folder.Path("fw.bin")});
    EXPECT_EQ(run.Wait(kFlashMs), 0) << run.Stderr();
    EXPECT_NE(run.Stdout().find("Download firmware successfully!"), std::string::npos) << run.Stdout();
    const auto received = sim.LastImage();
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(std::equal(received->begin(), received->end(), image.begin()));
}

}  // namespace
}  // namespace uitest
