#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text_file.h"
#include "settings/profile_file.h"
#include "settings_test_support.h"
#include "support/temp_folder.h"

using support::ReadAll;
using support::TempFolderTest;
using support::WriteAll;
using platform::FileErrorCause;
using settings_tests::ProfileFile;

TEST_F(ProfileFile, WriteCreatesAMissingFileWithTheProcessMode) {
    const std::string path = Path("new.ini");
    const mode_t mask = ::umask(022);
    FileErrorCause cause = FileErrorCause::Generic;
    EXPECT_TRUE(settings::WriteProfileString("Set", "com", "3", path, &cause));
    ::umask(mask);
    EXPECT_EQ(cause, FileErrorCause::None);
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=3\r\n");
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(settings::GetProfileInt("set", "COM", 0, path), 3u);
}

TEST_F(ProfileFile, RewriteKeepsTheModeAndWritesThroughALink) {
    const std::string real = Path("real.ini");
    const std::string link = Path("Config.ini");
    WriteAll(real, "[Set]\ncom=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real.ini", link.c_str()), 0);

    EXPECT_TRUE(settings::WriteProfileString("Set", "com", "2", link, nullptr));
    EXPECT_EQ(ReadAll(real), "[Set]\ncom=2\n");
    struct stat st{};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(), (std::set<std::string>{"Config.ini", "real.ini"}));
}

TEST_F(ProfileFile, FolderThatRefusesNewFilesRewritesInPlace_InjectedEacces) {
    const std::string path = Path("Config.ini");
    WriteAll(path, "[Set]\r\ncom=1\r\n;keep\r\n");
    struct stat before{};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    platform::FailNextReplace(platform::ReplaceStep::CreateTemp, EACCES);
    FileErrorCause cause = FileErrorCause::Generic;
    EXPECT_TRUE(settings::WriteProfileString("Set", "com", "12345", path, &cause));
    EXPECT_EQ(cause, FileErrorCause::None);
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=12345\r\n;keep\r\n");
    struct stat after{};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);

    platform::FailNextReplace(platform::ReplaceStep::CreateTemp, EACCES);
    EXPECT_TRUE(settings::WriteProfileString("Set", "com", "1", path, &cause));
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=1\r\n;keep\r\n");
}
