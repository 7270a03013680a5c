// The Win32 codes as the causes the user reads.

#include <gtest/gtest.h>

#include <windows.h>

#include "platform/file_error.h"
#include "platform/system_error.h"

using platform::FileErrorCause;

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
