// Firmware images opened on POSIX: locks, fifos and file systems without locks.

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sys/file.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_error.h"
#include "platform/read_only_file.h"
#include "support/temp_folder.h"

using platform::FileErrorCause;

class ReadOnlyFileOpen : public support::TempFolderTest {};

TEST_F(ReadOnlyFileOpen, RefusesAFolderAPipeAndAMissingFileWithTheirCauses) {
    platform::ReadOnlyFile file;
    FileErrorCause cause{};
    EXPECT_FALSE(file.Open(m_dir.string(), &cause));
    EXPECT_EQ(cause, FileErrorCause::AccessDenied);
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(file.Open(Path("fifo"), &cause));  // must not block
    EXPECT_EQ(cause, FileErrorCause::AccessDenied);
    EXPECT_FALSE(file.Open(Path("missing.bin"), &cause));
    EXPECT_EQ(cause, FileErrorCause::FileNotFound);
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(ReadOnlyFileOpen, AFileLockedByAnotherHolderIsASharingViolation) {
    std::ofstream(Path("img.bin")) << "data";
    const int other = ::open(Path("img.bin").c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    platform::ReadOnlyFile file;
    FileErrorCause cause{};
    EXPECT_FALSE(file.Open(Path("img.bin"), &cause));
    EXPECT_EQ(cause, FileErrorCause::SharingViolation);
    ::close(other);
    EXPECT_TRUE(file.Open(Path("img.bin"), &cause));
    EXPECT_EQ(file.Length(), 4u);
    char buffer[8];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 4u);
}

// A network share may refuse any lock at all: the image is still read, and
// only another holder of the lock is a sharing violation.
TEST_F(ReadOnlyFileOpen, AFileSystemWithoutLocksStillOpens_InjectedLockRefusals) {
    std::ofstream(Path("img.bin")) << "data";
    for (const int error : {EBADF, ENOLCK, EOPNOTSUPP, EINVAL}) {
        platform::FailNextFileLock(error);
        platform::ReadOnlyFile file;
        FileErrorCause cause{};
        EXPECT_TRUE(file.Open(Path("img.bin"), &cause)) << "errno " << error;
        EXPECT_EQ(cause, FileErrorCause::None);
        char buffer[8];
        EXPECT_EQ(file.Read(buffer, sizeof buffer), 4u);
    }
    platform::FailNextFileLock(EWOULDBLOCK);
    platform::ReadOnlyFile file;
    FileErrorCause cause{};
    EXPECT_FALSE(file.Open(Path("img.bin"), &cause));
    EXPECT_EQ(cause, FileErrorCause::SharingViolation);
    EXPECT_FALSE(file.IsOpen());
}
