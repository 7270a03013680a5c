// Private temporary folders on Windows.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/temp_folder.h"
#include "platform/user_folders.h"
#include "platform_test_support.h"
#include "support/temp_folder.h"

using platform_tests::kFirmware;
using support::Utf8Path;

TEST(TempFolderWin32, APrivateFolderWithAChinesePrefixIsMadeAndIsNew) {
    std::string error;
    const std::string a = platform::MakePrivateTempFolder("vornic-" + kFirmware + "-", &error);
    const std::string b = platform::MakePrivateTempFolder("vornic-" + kFirmware + "-", &error);
    ASSERT_FALSE(a.empty()) << error;
    ASSERT_FALSE(b.empty()) << error;
    EXPECT_NE(a, b);
    EXPECT_NE(a.find(kFirmware), std::string::npos);
    EXPECT_TRUE(platform::FolderIsWritable(a));
    std::filesystem::remove(Utf8Path(a));
    std::filesystem::remove(Utf8Path(b));
}
