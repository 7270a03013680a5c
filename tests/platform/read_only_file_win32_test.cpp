// Firmware images opened on Windows: shared with no one while they are read.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/file_error.h"
#include "platform/read_only_file.h"
#include "platform/win32/wide_text_win32.h"
#include "platform_test_support.h"
#include "support/temp_folder.h"

using platform::FileErrorCause;
using platform_tests::kFirmware;
using support::TempFolderTest;
using support::Utf8Path;
using support::WriteAll;

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
