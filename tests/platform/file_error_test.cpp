#include <gtest/gtest.h>

#include <string>

#include "platform/file_error.h"

using platform::FileErrorCause;

TEST(FileErrorText, ReplacesThePathOrNamesAnUnnamedFile) {
    EXPECT_EQ(platform::FileErrorText(FileErrorCause::FileNotFound, "/tmp/a.bin"),
              "/tmp/a.bin was not found.");
    EXPECT_EQ(platform::FileErrorText(FileErrorCause::AccessDenied, ""),
              "Access to an unnamed file was denied.");
    EXPECT_EQ(platform::FileErrorText(FileErrorCause::BadSeek, "x"), "Seek failed on x");
    EXPECT_EQ(platform::FileErrorText(FileErrorCause::None, "x"), "No error occurred.");
}

TEST(FileErrorText, IsCutAt1023BytesWithoutSplittingACharacter) {
    std::string path;
    while (path.size() < 1100) path += "\xE5\x9B\xBA";  // a three-byte character
    const std::string text = platform::FileErrorText(FileErrorCause::DiskFull, path);
    EXPECT_LE(text.size(), platform::kMaxFileErrorText);
    EXPECT_GE(text.size(), platform::kMaxFileErrorText - 2);
    EXPECT_EQ((text.size() - std::string("Disk full while accessing ").size()) % 3, 0u);
}
