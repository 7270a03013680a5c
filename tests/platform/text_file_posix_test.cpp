// Text files on POSIX: modes, owners and links survive a replacement.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_error.h"
#include "platform/system_error.h"
#include "platform/text_file.h"
#include "platform_test_support.h"
#include "support/temp_folder.h"

using platform::FileErrorCause;
using platform_tests::Becomes;
using platform_tests::TextFile;
using support::ReadAll;
using support::WriteAll;

std::uint64_t platform_tests::FileIdentity(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.st_ino);
}

TEST_F(TextFile, AMissingFileIsCreatedWithTheProcessMode) {
    const std::string path = Path("new.ini");
    const mode_t mask = ::umask(022);
    FileErrorCause cause = FileErrorCause::Generic;
    EXPECT_TRUE(platform::RewriteFileText(path, Becomes("[Set]\r\ncom=3\r\n"), &cause));
    ::umask(mask);
    EXPECT_EQ(cause, FileErrorCause::None);
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=3\r\n");
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(TextFile, RewriteKeepsTheModeAlsoAfterAFailedOneAndWritesThroughALink) {
    const std::string real = Path("real.ini");
    const std::string link = Path("Config.ini");
    WriteAll(real, "[Set]\ncom=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0604), 0);
    ASSERT_EQ(::symlink("real.ini", link.c_str()), 0);

    platform::FailNextReplace(platform::ReplaceStep::Rename,
                              platform::SystemErrorCode(platform::KnownError::Busy));
    EXPECT_FALSE(platform::RewriteFileText(link, Becomes("[Set]\ncom=2\n"), nullptr));
    EXPECT_TRUE(platform::RewriteFileText(link, Becomes("[Set]\ncom=2\n"), nullptr));
    EXPECT_EQ(ReadAll(real), "[Set]\ncom=2\n");
    struct stat st{};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(Names(), (std::set<std::string>{"Config.ini", "real.ini"}));
}
