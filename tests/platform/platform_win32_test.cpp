// The Windows side of platform/: UTF-16 at the system calls, the Win32 error
// codes, files that share with no one, and replacements that survive a crash.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "platform/file_error.h"
#include "platform/module_path.h"
#include "platform/read_only_file.h"
#include "platform/system_error.h"
#include "platform/terminal.h"
#include "platform/temp_folder.h"
#include "platform/text_file.h"
#include "platform/user_folders.h"
#include "platform/win32/wide_text_win32.h"
#include "support/open_handles.h"
#include "support/temp_folder.h"

using platform::FileErrorCause;
using support::ReadAll;
using support::TempFolderTest;
using support::Utf8Path;
using support::WriteAll;

namespace {

// "固件" (firmware) and "配置" (settings): names a code page other than
// UTF-8 cannot carry.
const std::string kFirmware = "\xE5\x9B\xBA\xE4\xBB\xB6";
const std::string kSettings = "\xE9\x85\x8D\xE7\xBD\xAE";

using support::RunningUnderWine;

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(platform::Widen(path).c_str()); }

// The volume's number for the file: the same file keeps it, a new one
// replacing it gets another.
ULONGLONG FileIndex(const std::string& path) {
    HANDLE file = ::CreateFileW(platform::Widen(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// The names in a folder: a replacement leaves no temporary file behind.
std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Utf8Path(folder)))
        names.insert(support::Utf8(entry.path().filename()));
    return names;
}

std::function<std::string(const std::string&)> Append(const std::string& line) {
    return [line](const std::string& old) { return old + line; };
}

}  // namespace

TEST(WideText, ConvertsChineseBothWaysAndReplacesBrokenBytes) {
    EXPECT_EQ(platform::Widen(kFirmware), std::wstring(L"\x56FA\x4EF6"));
    EXPECT_EQ(platform::Narrow(L"\x56FA\x4EF6"), kFirmware);
    EXPECT_EQ(platform::Narrow(platform::Widen("C:\\a\\" + kSettings + "\\Config.ini")),
              "C:\\a\\" + kSettings + "\\Config.ini");
    EXPECT_EQ(platform::Widen("a\xFF" "b"), std::wstring(L"a\xFFFD" L"b"));
    EXPECT_EQ(platform::Widen(""), std::wstring());
    EXPECT_EQ(platform::Narrow(L""), std::string());
}

TEST(SystemError, LastErrorIsTheThreadsWin32CodeAndItsTextEndsInCrLf) {
    platform::SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(platform::LastError(), static_cast<int>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    const std::string text = platform::SystemErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(platform::SystemErrorText(0), "");
}

TEST(FileErrorCause, MapsTheWin32Codes) {
    const struct {
        DWORD code;
        FileErrorCause cause;
    } rows[] = {
        {ERROR_SUCCESS, FileErrorCause::None},
        {ERROR_FILE_NOT_FOUND, FileErrorCause::FileNotFound},
        {ERROR_PATH_NOT_FOUND, FileErrorCause::BadPath},
        {ERROR_INVALID_NAME, FileErrorCause::BadPath},
        {ERROR_TOO_MANY_OPEN_FILES, FileErrorCause::TooManyOpenFiles},
        {ERROR_ACCESS_DENIED, FileErrorCause::AccessDenied},
        {ERROR_INVALID_HANDLE, FileErrorCause::InvalidFile},
        {ERROR_CURRENT_DIRECTORY, FileErrorCause::RemoveCurrentDir},
        {ERROR_NEGATIVE_SEEK, FileErrorCause::BadSeek},
        {ERROR_CRC, FileErrorCause::HardIO},
        {ERROR_SHARING_VIOLATION, FileErrorCause::SharingViolation},
        {ERROR_LOCK_VIOLATION, FileErrorCause::LockViolation},
        {ERROR_DISK_FULL, FileErrorCause::DiskFull},
        {ERROR_HANDLE_DISK_FULL, FileErrorCause::DiskFull},
        {ERROR_HANDLE_EOF, FileErrorCause::EndOfFile},
        {ERROR_BUSY, FileErrorCause::Generic},
        {ERROR_NOT_ENOUGH_MEMORY, FileErrorCause::Generic},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::FileErrorCauseFromSystemError(static_cast<int>(row.code)), row.cause)
            << "code " << row.code;
    }
    EXPECT_EQ(platform::SystemErrorCode(platform::KnownError::SharingViolation),
              static_cast<int>(ERROR_SHARING_VIOLATION));
}

class ReadOnlyFileWin32 : public TempFolderTest {};

TEST_F(ReadOnlyFileWin32, ReadsAnImageInAFolderWithAChineseName) {
    std::filesystem::create_directory(Utf8Path(Path(kFirmware)));
    const std::string image = Path(kFirmware + "/" + kFirmware + ".bin");
    const support::Bytes bytes = support::RandomBytes(70000, 7);
    support::WriteBytes(image, bytes);
    platform::ReadOnlyFile file;
    FileErrorCause cause = FileErrorCause::Generic;
    ASSERT_TRUE(file.Open(image, &cause));
    EXPECT_EQ(cause, FileErrorCause::None);
    EXPECT_EQ(file.Length(), 70000u);
    support::Bytes read(65536);
    EXPECT_EQ(file.Read(read.data(), read.size()), 65536u);
    EXPECT_TRUE(std::equal(read.begin(), read.end(), bytes.begin()));
    EXPECT_EQ(file.Read(read.data(), read.size()), 70000u - 65536u) << "short only at the end";
    EXPECT_FALSE(file.ChangedSinceOpen());
}

TEST_F(ReadOnlyFileWin32, ASecondOpenOfAnOpenImageIsASharingViolation) {
    const std::string image = Path(kFirmware + ".bin");
    WriteAll(image, "data");
    platform::ReadOnlyFile first;
    FileErrorCause cause{};
    ASSERT_TRUE(first.Open(image, &cause));

    platform::ReadOnlyFile second;
    EXPECT_FALSE(second.Open(image, &cause));
    EXPECT_EQ(cause, FileErrorCause::SharingViolation);
    EXPECT_EQ(platform::FileErrorText(cause, image),
              "A sharing violation occurred while accessing " + image + ".");
    // Nobody writes the image while it is read.
    HANDLE writer = ::CreateFileW(platform::Widen(image).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    first.Close();
    EXPECT_TRUE(second.Open(image, &cause));
    EXPECT_EQ(second.Length(), 4u);
}

TEST_F(ReadOnlyFileWin32, AnotherProgramsOpenHandleIsASharingViolation) {
    const std::string image = Path("img.bin");
    WriteAll(image, "data");
    HANDLE other = ::CreateFileW(platform::Widen(image).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    platform::ReadOnlyFile file;
    FileErrorCause cause{};
    EXPECT_FALSE(file.Open(image, &cause));
    EXPECT_EQ(cause, FileErrorCause::SharingViolation);
    ::CloseHandle(other);
    EXPECT_TRUE(file.Open(image, &cause));
}

TEST_F(ReadOnlyFileWin32, RefusesAFolderADeviceAndAMissingFileWithTheirCauses) {
    const struct {
        const char* name;
        std::string path;
        FileErrorCause cause;
    } rows[] = {
        {"a folder", support::Utf8(m_dir), FileErrorCause::AccessDenied},
        {"the null device", "NUL", FileErrorCause::AccessDenied},
        {"a missing file", Path(kFirmware + ".bin"), FileErrorCause::FileNotFound},
        {"a missing folder", Path("no/such/img.bin"), FileErrorCause::BadPath},
        {"an empty path", "", FileErrorCause::BadPath},
    };
    for (const auto& row : rows) {
        platform::ReadOnlyFile file;
        FileErrorCause cause{};
        EXPECT_FALSE(file.Open(row.path, &cause)) << row.name;
        EXPECT_EQ(cause, row.cause) << row.name;
        EXPECT_FALSE(file.IsOpen()) << row.name;
    }
}

TEST_F(ReadOnlyFileWin32, AnInjectedLockFailureIsTheOpensFailure_InjectedSharingViolation) {
    WriteAll(Path("img.bin"), "data");
    platform::FailNextFileLock(ERROR_SHARING_VIOLATION);
    platform::ReadOnlyFile file;
    FileErrorCause cause{};
    EXPECT_FALSE(file.Open(Path("img.bin"), &cause));
    EXPECT_EQ(cause, FileErrorCause::SharingViolation);
    EXPECT_TRUE(file.Open(Path("img.bin"), &cause)) << "only the next open fails";
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
    const ULONGLONG before = FileIndex(path);
    FileErrorCause cause{};
    ASSERT_TRUE(platform::RewriteFileText(path, Append("com=1\r\n"), &cause));
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=1\r\n");
    EXPECT_NE(FileIndex(path), before) << "written to a new file, not over the old one";
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

TEST_F(TextFileWin32, TheReadOnlyAttributeRefusesARewriteAndAnUnchangedTextWritesNothing) {
    const std::string path = Path("Config.ini");
    WriteAll(path, "[Set]\r\n");
    ASSERT_TRUE(::SetFileAttributesW(platform::Widen(path).c_str(), FILE_ATTRIBUTE_READONLY));
    FileErrorCause cause{};
    EXPECT_FALSE(platform::RewriteFileText(path, Append("com=1\r\n"), &cause));
    EXPECT_EQ(cause, FileErrorCause::AccessDenied);
    EXPECT_EQ(ReadAll(path), "[Set]\r\n");
    ::SetFileAttributesW(platform::Widen(path).c_str(), FILE_ATTRIBUTE_NORMAL);

    const ULONGLONG before = FileIndex(path);
    EXPECT_TRUE(platform::RewriteFileText(path, Append(""), &cause));
    EXPECT_EQ(FileIndex(path), before);
}

TEST_F(TextFileWin32, FolderThatRefusesNewFilesRewritesInPlace_InjectedAccessDenied) {
    const std::string path = Path("Config.ini");
    WriteAll(path, "[Set]\r\ncom=1\r\n;keep\r\n");
    const ULONGLONG before = FileIndex(path);
    platform::FailNextReplace(platform::ReplaceStep::CreateTemp, ERROR_ACCESS_DENIED);
    FileErrorCause cause = FileErrorCause::Generic;
    EXPECT_TRUE(platform::RewriteFileText(
        path, [](const std::string&) { return std::string("[Set]\r\ncom=12345\r\n;keep\r\n"); }, &cause));
    EXPECT_EQ(cause, FileErrorCause::None);
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=12345\r\n;keep\r\n");
    EXPECT_EQ(FileIndex(path), before);

    platform::FailNextReplace(platform::ReplaceStep::CreateTemp, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(platform::RewriteFileText(
        path, [](const std::string&) { return std::string("[Set]\r\ncom=1\r\n"); }, &cause));
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=1\r\n") << "a shorter text cuts the file";
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

TEST(ModulePathWin32, NamesThisProgramWithItsFolderAndTitle) {
    const std::string path = platform::ExecutablePath();
    const std::string folder = platform::ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(path, folder + "platform_tests.exe");
    EXPECT_EQ(platform::ExecutableTitle(), "platform_tests");
}

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

// The live view redraws only a console; CTest reads the output through a
// pipe, which gets plain lines even after the console preparation.
TEST(TerminalWin32, APipeIsNoTerminalEvenWhenPrepared) {
    DWORD mode = 0;
    ASSERT_FALSE(::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) << "run it through CTest";
    platform::PrepareStandardOutput();
    EXPECT_FALSE(platform::StandardOutputIsTerminal());
    EXPECT_EQ(platform::StandardOutputColumns(), 0);
    EXPECT_EQ(platform::StandardOutputRows(), 0);
}
