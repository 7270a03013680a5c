// vornic-flash and vornic-controller-sim as programs, the cases that need
// Linux itself: file modes and the user's configuration folder, and the
// simulator's pseudo-terminal.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "tests/tools/flash_test_support.h"

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
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path("home") + "/.config/vornic-updater"));
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
