#include <gtest/gtest.h>

#include <cerrno>

#include "platform/file_error.h"

using platform::FileErrorCause;

TEST(FileErrorCause, MapsTheSystemErrors) {
    EXPECT_EQ(platform::FileErrorCauseFromSystemError(ENOENT), FileErrorCause::FileNotFound);
    EXPECT_EQ(platform::FileErrorCauseFromSystemError(EACCES), FileErrorCause::AccessDenied);
    EXPECT_EQ(platform::FileErrorCauseFromSystemError(EPERM), FileErrorCause::AccessDenied);
    EXPECT_EQ(platform::FileErrorCauseFromSystemError(EMFILE), FileErrorCause::TooManyOpenFiles);
    EXPECT_EQ(platform::FileErrorCauseFromSystemError(ENFILE), FileErrorCause::TooManyOpenFiles);
    EXPECT_EQ(platform::FileErrorCauseFromSystemError(ENOSPC), FileErrorCause::DiskFull);
    EXPECT_EQ(platform::FileErrorCauseFromSystemError(EIO), FileErrorCause::HardIO);
    EXPECT_EQ(platform::FileErrorCauseFromSystemError(ENAMETOOLONG), FileErrorCause::BadPath);
    EXPECT_EQ(platform::FileErrorCauseFromSystemError(EHOSTDOWN), FileErrorCause::Generic);
}
