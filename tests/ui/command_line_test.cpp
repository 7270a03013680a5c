// vornic-updater's own options: answered without Qt, so with no display and
// a platform that cannot start they still work.

#include <gtest/gtest.h>

#include "support/subprocess.h"

namespace {

// A platform that cannot start on any machine: X11 with no display to reach.
const support::SpawnOptions kWithoutDisplay{{"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"}, {}};

std::vector<std::string> Updater(const std::string& option) { return {VORNIC_UPDATER_PATH, option}; }

}  // namespace

TEST(UpdaterCommandLine, VersionAndHelpPrintAndExitWithoutOpeningAWindow) {
    support::Subprocess version(Updater("--version"), kWithoutDisplay);
    EXPECT_EQ(version.Wait(30000), 0) << version.Stderr();
    EXPECT_EQ(version.Stdout(), std::string("vornic-updater ") + VORNIC_VERSION + "\n");

    for (const char* option : {"--help", "-h"}) {
        support::Subprocess help(Updater(option), kWithoutDisplay);
        EXPECT_EQ(help.Wait(30000), 0) << option << help.Stderr();
        EXPECT_EQ(help.Stdout().rfind("Usage: vornic-updater [--version | --help]\n", 0), 0u) << option;
        EXPECT_NE(help.Stdout().find("~/.config/vornic-updater"), std::string::npos) << option;
    }
}
