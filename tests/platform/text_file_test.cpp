// Text files on every OS: the same faults through the system's own codes.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/file_error.h"
#include "platform/system_error.h"
#include "platform/text_file.h"
#include "platform_test_support.h"
#include "support/temp_folder.h"

using platform::FileErrorCause;
using platform_tests::Becomes;
using platform_tests::FileIdentity;
using platform_tests::TextFile;
using support::ReadAll;
using support::WriteAll;

TEST_F(TextFile, FolderThatRefusesNewFilesRewritesInPlace_InjectedAccessDenied) {
    const int kAccessDenied = platform::SystemErrorCode(platform::KnownError::AccessDenied);
    const std::string path = Path("Config.ini");
    WriteAll(path, "[Set]\r\ncom=1\r\n;keep\r\n");
    const std::uint64_t before = FileIdentity(path);
    platform::FailNextReplace(platform::ReplaceStep::CreateTemp, kAccessDenied);
    FileErrorCause cause = FileErrorCause::Generic;
    EXPECT_TRUE(platform::RewriteFileText(path, Becomes("[Set]\r\ncom=12345\r\n;keep\r\n"), &cause));
    EXPECT_EQ(cause, FileErrorCause::None);
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=12345\r\n;keep\r\n");
    EXPECT_EQ(FileIdentity(path), before);

    platform::FailNextReplace(platform::ReplaceStep::CreateTemp, kAccessDenied);
    EXPECT_TRUE(platform::RewriteFileText(path, Becomes("[Set]\r\ncom=1\r\n;keep\r\n"), &cause));
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=1\r\n;keep\r\n");
    platform::FailNextReplace(platform::ReplaceStep::CreateTemp, kAccessDenied);
    EXPECT_TRUE(platform::RewriteFileText(path, Becomes("[Set]\r\ncom=1\r\n"), &cause));
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=1\r\n") << "a shorter text cuts the file";
    EXPECT_EQ(FileIdentity(path), before);
}
