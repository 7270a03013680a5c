#include "platform/read_only_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_calls.h"

namespace platform {

namespace {

int LockExclusive(int fd) {
    if (const int error = file_calls::TakeInjectedLockFailure(); error != 0) {
        errno = error;
        return -1;
    }
    return ::flock(fd, LOCK_EX | LOCK_NB);
}
// The descriptor, kept in the handle that the header holds for every OS.
int Fd(std::intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

FileErrorCause ReadOnlyFile::OpenAlone(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return FileErrorCauseFromSystemError(errno);
    if (!S_ISREG(st.st_mode)) return FileErrorCause::AccessDenied;

    // O_NONBLOCK: should the path turn into a pipe between stat and open, the
    // open still returns at once, and the check below refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return FileErrorCauseFromSystemError(errno);
    m_handle = fd;
    if (::fstat(fd, &st) != 0) return FileErrorCauseFromSystemError(errno);
    if (!S_ISREG(st.st_mode)) return FileErrorCause::AccessDenied;

    // Only another holder of the lock is a sharing violation. Any other
    // refusal (EBADF, ENOLCK, EOPNOTSUPP, EINVAL on network shares) means the
    // file system keeps no locks, and the image is read without one.
    while (LockExclusive(fd) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return FileErrorCause::SharingViolation;
        break;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_size = st.st_size;
    m_modifiedSec = st.st_mtim.tv_sec;
    m_modifiedNsec = st.st_mtim.tv_nsec;
    return FileErrorCause::None;
}

bool ReadOnlyFile::ChangedSinceOpen() const {
    struct stat st{};
    if (!IsOpen() || ::fstat(Fd(m_handle), &st) != 0) return true;
    return st.st_size != m_size || st.st_mtim.tv_sec != m_modifiedSec ||
           st.st_mtim.tv_nsec != m_modifiedNsec;
}

namespace file_calls {

std::int64_t ReadSome(NativeFile file, void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::read(Fd(file), buffer, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool FileLength(NativeFile file, std::uint64_t* length) {
    struct stat st{};
    if (::fstat(Fd(file), &st) != 0) return false;
    *length = static_cast<std::uint64_t>(st.st_size);
    return true;
}

}  // namespace file_calls

}  // namespace platform
