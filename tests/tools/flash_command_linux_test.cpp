// vornic-flash and vornic-controller-sim as programs, the cases that need
// Linux itself: file modes, links and the user's configuration folder,
// signals by number, and the simulator's pseudo-terminal.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/simulator_thread.h"

#include "tests/tools/flash_test_support.h"
#include "tools/flash/flash_options.h"

using support::Subprocess;
using support::TempFolder;

using namespace flash_test;

TEST(FlashCommand, ConfigPathNamesTheFileTheWindowWouldUse) {
    // Beside the program in the build folder, which is writable; nothing is
    // created by asking.
    const std::string besideBuild =
        std::filesystem::path(VORNIC_FLASH_PATH).parent_path().string() + "/Config.ini";
    const bool existed = std::filesystem::exists(besideBuild);
    Subprocess here(Flash({"--config-path"}));
    EXPECT_EQ(here.Wait(kStartMs), 0);
    EXPECT_EQ(here.Stdout(), besideBuild + "\n");
    EXPECT_EQ(std::filesystem::exists(besideBuild), existed);

    // A copy in a folder no one may write: the user's configuration folder.
    TempFolder folder;
    std::filesystem::create_directory(folder.Path("bin"));
    std::filesystem::copy_file(VORNIC_FLASH_PATH, folder.Path("bin/vornic-flash"));
    ASSERT_EQ(::chmod(folder.Path("bin").c_str(), 0555), 0);
    Subprocess installed({"/usr/bin/env", "-u", "XDG_CONFIG_HOME", "HOME=" + folder.Path("home"),
                          folder.Path("bin/vornic-flash"), "--tcp", "127.0.0.1:1", "--config-path"});
    EXPECT_EQ(installed.Wait(kStartMs), 0) << installed.Stderr();
    EXPECT_EQ(installed.Stdout(), folder.Path("home") + "/.config/vornic-updater/Config.ini\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Path("home"))) << "asking where the file is creates no folder";
    ::chmod(folder.Path("bin").c_str(), 0755);
}

TEST(SimulatorCommand, SerialModeNamesItsPseudoTerminal) {
    Subprocess sim({VORNIC_SIM_PATH, "--serial"});
    const auto banner = sim.ReadLine(kStartMs);
    ASSERT_TRUE(banner);
    ASSERT_EQ(banner->rfind("serial /dev/pts/", 0), 0u) << *banner;
    EXPECT_TRUE(std::filesystem::exists(banner->substr(7)));
    sim.Interrupt();
    EXPECT_EQ(sim.Wait(kStartMs), 1);
}

// A silent controller and a long reply time-out: the first SIGTERM is a Break
// that waits for the reply, the second ends the program at once.
TEST(FlashCommand, ASecondTerminationEndsTheRunWhateverItWaitsOn) {
    TempFolder folder;
    support::SimulatorThread sim({"--fault-silent", "3"});
    Subprocess flash(Flash({"--tcp", "127.0.0.1:" + std::to_string(sim.Port()), "--receive-timeout", "600000",
                            WriteImage(folder.Path("fw.bin"), 65536)}));
    // Until the frame that gets no reply has arrived.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunMs);
    while (sim.Summary().frames < 4 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(sim.Summary().frames, 4);
    flash.Terminate();
    // Two signals of one kind that are both pending count as one.
    while (flash.Stderr().find("stopping after the frame in flight") == std::string::npos &&
           std::chrono::steady_clock::now() < limit)
        flash.ReadLine(50);
    flash.Terminate();
    // Long before the reply time-out of ten minutes.
    EXPECT_EQ(flash.Wait(kRunMs), 143) << flash.Stderr();
}

TEST(FlashOptions, AReportThatIsTheImageOrTheTargetsFileByAnyNameIsRefused) {
    TempFolder folder;
    const std::string image = WriteImage(folder.Path("fw.bin"), 70000);
    const std::string targets = folder.Path("t.txt");
    WriteFile(targets, "tcp 127.0.0.1:10001\n");
    std::filesystem::create_symlink(image, folder.Path("fw-link.bin"));
    std::filesystem::create_hard_link(targets, folder.Path("t-hard.txt"));
    for (const auto& [report, clash] : std::vector<std::pair<std::string, std::string>>{
             {image, "is the firmware file"},
             {folder.Path("./fw.bin"), "is the firmware file"},
             {folder.Path("fw-link.bin"), "is the firmware file"},
             {targets, "is the targets file"},
             {folder.Path("t-hard.txt"), "is the targets file"},
             {folder.Path("new.jsonl"), ""}}) {
        for (const char* option : {"--report", "--report-append"}) {
            const flash::FlashCommandLine line = flash::ParseFlashOptions({"--targets", targets, option, report, image});
            EXPECT_EQ(line.outcome, clash.empty() ? tools::ParseOutcome::Run : tools::ParseOutcome::UsageError) << report;
            EXPECT_EQ(line.error.find(clash) != std::string::npos && !clash.empty(), !clash.empty()) << line.error;
        }
    }
    EXPECT_EQ(ReadFile(image).size(), 70000u);
    EXPECT_EQ(ReadFile(targets), "tcp 127.0.0.1:10001\n");
}

TEST(FlashOptions, ATargetsFileThatIsNoFileOfTargetsSaysWhatItIs) {
    TempFolder folder;
    WriteFile(folder.Path("empty"), "# nothing yet\n\n");
    WriteFile(folder.Path("bom"), "\xEF\xBB\xBFtcp 127.0.0.1:10001 north\n");
    for (const auto& [path, says] : std::vector<std::pair<std::string, std::string>>{
             {folder.Path(""), "is a folder"},
             {"/dev/null", "is not a regular file"},
             {folder.Path("empty"), "names no target"},
             {folder.Path("missing"), "No such file or directory"}}) {
        const flash::FlashCommandLine line = flash::ParseFlashOptions({"--targets", path, "fw.bin"});
        EXPECT_EQ(line.outcome, tools::ParseOutcome::UsageError) << path;
        EXPECT_NE(line.error.find(path + ": " + says), std::string::npos) << line.error;
    }
    const flash::FlashCommandLine bom = flash::ParseFlashOptions({"--targets", folder.Path("bom"), "fw.bin"});
    ASSERT_EQ(bom.outcome, tools::ParseOutcome::Run) << "a byte-order mark is no part of the first line: " << bom.error;
    EXPECT_EQ(bom.options.targets.at(0).name, "north");
}
