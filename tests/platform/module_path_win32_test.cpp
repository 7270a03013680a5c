// The running program's path, folder and title on Windows.

#include <gtest/gtest.h>

#include <string>

#include "platform/module_path.h"

TEST(ModulePathWin32, NamesThisProgramWithItsFolderAndTitle) {
    const std::string path = platform::ExecutablePath();
    const std::string folder = platform::ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(path, folder + "platform_tests.exe");
    EXPECT_EQ(platform::ExecutableTitle(), "platform_tests");
}
