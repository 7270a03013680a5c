// Text files replaced on Windows: through a new file and ReplaceFileW, with
// paths only UTF-16 can carry.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>

#include "platform/file_error.h"
#include "platform/text_file.h"
#include "platform/user_folders.h"
#include "platform/win32/wide_text_win32.h"
#include "platform_test_support.h"
#include "support/open_handles.h"
#include "support/temp_folder.h"

using platform::FileErrorCause;
using platform_tests::Append;
using platform_tests::FileIdentity;
using platform_tests::kFirmware;
using platform_tests::kSettings;
using support::ReadAll;
using support::RunningUnderWine;
using support::TempFolderTest;
using support::Utf8Path;
using support::WriteAll;

namespace {

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(platform::Widen(path).c_str()); }

// The names in a folder: a replacement leaves no temporary file behind.
std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Utf8Path(folder)))
        names.insert(support::Utf8(entry.path().filename()));
    return names;
}

}  // namespace

std::uint64_t platform_tests::FileIdentity(const std::string& path) {
    HANDLE file = ::CreateFileW(platform::Widen(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

class TextFileWin32 : public TempFolderTest {};

TEST_F(TextFileWin32, ConfigIniInAFolderWithAChineseNameIsCreatedReadAndRewritten) {
    const std::string folder = Path(kSettings + "/" + kFirmware);
    ASSERT_TRUE(platform::CreateFolders(folder));
    const std::string path = folder + "\\Config.ini";
    FileErrorCause cause = FileErrorCause::Generic;
    ASSERT_TRUE(platform::CreateFileWithText(path, "[Set]\r\ncom=0\r\n", &cause));
    EXPECT_EQ(cause, FileErrorCause::None);
    EXPECT_TRUE(platform::PathExists(path));
    std::string text;
    ASSERT_TRUE(platform::ReadFileText(path, &text, &cause));
    EXPECT_EQ(text, "[Set]\r\ncom=0\r\n");
    ASSERT_TRUE(platform::RewriteFileText(path, Append("PortNo=1\r\n"), &cause));
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=0\r\nPortNo=1\r\n");
    EXPECT_EQ(NamesIn(folder), std::set<std::string>{"Config.ini"});
}

TEST_F(TextFileWin32, AReplacementIsANewFileWrittenBesideTheOldOne) {
    const std::string path = Path("Config.ini");
    WriteAll(path, "[Set]\r\n");
    const std::uint64_t before = FileIdentity(path);
    FileErrorCause cause{};
    ASSERT_TRUE(platform::RewriteFileText(path, Append("com=1\r\n"), &cause));
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=1\r\n");
    EXPECT_NE(FileIdentity(path), before) << "written to a new file, not over the old one";
    EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"});
}

TEST_F(TextFileWin32, AReplacementKeepsTheOldFilesAttributes) {
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine's ReplaceFileW does not carry the replaced file's attributes over";
    const std::string path = Path("Config.ini");
    WriteAll(path, "[Set]\r\n");
    ASSERT_TRUE(::SetFileAttributesW(platform::Widen(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
    FileErrorCause cause{};
    ASSERT_TRUE(platform::RewriteFileText(path, Append("com=1\r\n"), &cause));
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=1\r\n");
    EXPECT_TRUE(Attributes(path) & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(TextFileWin32, AFailedReplacementLeavesTheOldFileAndNoTemporary_InjectedBusyAndFullDisk) {
    const std::string path = Path("Config.ini");
    WriteAll(path, "[Set]\r\ncom=0\r\n");
    const struct {
        platform::ReplaceStep step;
        DWORD error;
        FileErrorCause cause;
    } rows[] = {
        {platform::ReplaceStep::Rename, ERROR_BUSY, FileErrorCause::Generic},
        {platform::ReplaceStep::Write, ERROR_DISK_FULL, FileErrorCause::DiskFull},
        {platform::ReplaceStep::CreateTemp, ERROR_TOO_MANY_OPEN_FILES, FileErrorCause::TooManyOpenFiles},
        // ReplaceFileW could not remove the old file: both keep their names.
        {platform::ReplaceStep::Rename, ERROR_UNABLE_TO_REMOVE_REPLACED, FileErrorCause::Generic},
    };
    for (const auto& row : rows) {
        platform::FailNextReplace(row.step, static_cast<int>(row.error));
        FileErrorCause cause{};
        EXPECT_FALSE(platform::RewriteFileText(path, Append("com=1\r\n"), &cause)) << row.error;
        EXPECT_EQ(cause, row.cause) << row.error;
        EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=0\r\n") << row.error;
        EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"}) << row.error;
    }
}

// After these two ReplaceFileW has moved the old file out of its name: the
// temporary file is then the only copy of the settings.
TEST_F(TextFileWin32, AReplacementThatMovedTheOldFileAsideEndsWithTheNewText_Injected1176And1177) {
    const std::string path = Path("Config.ini");
    for (const DWORD error : {ERROR_UNABLE_TO_MOVE_REPLACEMENT, ERROR_UNABLE_TO_MOVE_REPLACEMENT_2}) {
        WriteAll(path, "[Set]\r\ncom=0\r\n");
        platform::FailNextReplace(platform::ReplaceStep::Rename, static_cast<int>(error));
        FileErrorCause cause = FileErrorCause::Generic;
        EXPECT_TRUE(platform::RewriteFileText(path, Append("com=1\r\n"), &cause)) << error;
        EXPECT_EQ(cause, FileErrorCause::None) << error;
        EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=0\r\ncom=1\r\n") << error;
        EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"}) << error;
    }

    // A reader that does not share deletion stops the move too: the text
    // must then live on in the temporary file.
    HANDLE reader = ::CreateFileW(platform::Widen(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    platform::FailNextReplace(platform::ReplaceStep::Rename, ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    EXPECT_FALSE(platform::RewriteFileText(path, Append("com=2\r\n"), nullptr));
    ::CloseHandle(reader);
    const std::set<std::string> names = Names();
    ASSERT_EQ(names.size(), 2u);
    const std::string temp = *std::next(names.begin(), names.begin()->front() == '.' ? 0 : 1);
    EXPECT_EQ(ReadAll(Path(temp)), "[Set]\r\ncom=0\r\ncom=1\r\ncom=2\r\n") << temp;
}

TEST_F(TextFileWin32, TheReadOnlyAttributeRefusesARewriteAndAnUnchangedTextWritesNothing) {
    const std::string path = Path("Config.ini");
    WriteAll(path, "[Set]\r\n");
    ASSERT_TRUE(::SetFileAttributesW(platform::Widen(path).c_str(), FILE_ATTRIBUTE_READONLY));
    FileErrorCause cause{};
    EXPECT_FALSE(platform::RewriteFileText(path, Append("com=1\r\n"), &cause));
    EXPECT_EQ(cause, FileErrorCause::AccessDenied);
    EXPECT_EQ(ReadAll(path), "[Set]\r\n");
    ::SetFileAttributesW(platform::Widen(path).c_str(), FILE_ATTRIBUTE_NORMAL);

    const std::uint64_t before = FileIdentity(path);
    EXPECT_TRUE(platform::RewriteFileText(path, Append(""), &cause));
    EXPECT_EQ(FileIdentity(path), before);
}

TEST_F(TextFileWin32, AFileInTheFoldersPlaceOrAMissingFolderIsABadPath) {
    WriteAll(Path("plain"), "x");
    for (const std::string& path : {Path("plain\\Config.ini"), Path("no\\such\\Config.ini")}) {
        FileErrorCause cause{};
        EXPECT_FALSE(platform::CreateFileWithText(path, "x", &cause)) << path;
        EXPECT_EQ(cause, FileErrorCause::BadPath) << path;
    }
    EXPECT_EQ(Names(), std::set<std::string>{"plain"});
}
