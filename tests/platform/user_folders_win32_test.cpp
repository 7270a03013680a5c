// Folders made and tested on Windows, and the user's own.

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/user_folders.h"
#include "platform/win32/wide_text_win32.h"
#include "platform_test_support.h"
#include "support/temp_folder.h"

using platform_tests::kFirmware;
using platform_tests::kSettings;
using support::TempFolderTest;
using support::Utf8Path;
using support::WriteAll;

class UserFoldersWin32 : public TempFolderTest {};

TEST_F(UserFoldersWin32, CreateFoldersMakesEveryLevelOfAChinesePathAndStopsAtAFile) {
    const std::string deep = Path(kSettings + "\\" + kFirmware + "/c");
    ASSERT_TRUE(platform::CreateFolders(deep));
    EXPECT_TRUE(std::filesystem::is_directory(Utf8Path(deep)));
    EXPECT_TRUE(platform::CreateFolders(deep)) << "an existing folder is fine";
    EXPECT_TRUE(platform::CreateFolders(deep + "\\"));
    WriteAll(Path("file"), "x");
    EXPECT_FALSE(platform::CreateFolders(Path("file")));
    EXPECT_FALSE(platform::CreateFolders(Path("file/below")));
    EXPECT_FALSE(platform::CreateFolders(""));
}

TEST_F(UserFoldersWin32, FolderIsWritableAsksTheSystemAndLeavesNothingBehind) {
    std::filesystem::create_directory(Utf8Path(Path(kSettings)));
    WriteAll(Path("file"), "x");
    const struct {
        const char* name;
        std::string path;
        bool writable;
    } rows[] = {
        {"a folder with a Chinese name", Path(kSettings), true},
        {"with a trailing separator", Path(kSettings) + "\\", true},
        {"a regular file", Path("file"), false},
        {"missing", Path("missing"), false},
        {"empty path", "", false},
    };
    for (const auto& row : rows) EXPECT_EQ(platform::FolderIsWritable(row.path), row.writable) << row.name;
    EXPECT_TRUE(std::filesystem::is_empty(Utf8Path(Path(kSettings))));
}

TEST(UserFoldersWin32Environment, ValuesAreUtf8AndTheHomeAndSettingsFoldersAreTheUsers) {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VORNIC_TEST_VALUE", platform::Widen(kFirmware).c_str()));
    EXPECT_EQ(platform::EnvironmentValue("VORNIC_TEST_VALUE"), kFirmware);
    ::SetEnvironmentVariableW(L"VORNIC_TEST_VALUE", nullptr);
    EXPECT_EQ(platform::EnvironmentValue("VORNIC_TEST_VALUE"), "");
    const std::string home = platform::HomeFolder();
    ASSERT_GE(home.size(), 3u);
    EXPECT_EQ(home.substr(1, 2), ":\\") << home;
    const std::string settings = platform::SystemSettingsFolder();
    EXPECT_EQ(settings.substr(0, home.size() + 1), home + "\\") << settings;
    EXPECT_TRUE(std::filesystem::is_directory(Utf8Path(settings))) << settings;
}
