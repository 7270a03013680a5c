#include "platform/read_only_file.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system_error.h"

namespace platform {

namespace {
std::atomic<int> g_lockFault{0};

int LockExclusive(int fd) {
    if (const int error = g_lockFault.exchange(0); error != 0) {
        errno = error;
        return -1;
    }
    return ::flock(fd, LOCK_EX | LOCK_NB);
}
// The descriptor, kept in the handle that the header holds for every OS.
int Fd(std::intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

void FailNextFileLock(int error) { g_lockFault.store(error); }

ReadOnlyFile::~ReadOnlyFile() { Close(); }

bool ReadOnlyFile::Open(const std::string& path, FileErrorCause* cause) {
    Close();
    auto fail = [&](FileErrorCause c) {
        Close();
        if (cause) *cause = c;
        return false;
    };
    if (path.empty()) return fail(FileErrorCause::BadPath);

    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return fail(FileErrorCauseFromSystemError(errno));
    if (!S_ISREG(st.st_mode)) return fail(FileErrorCause::AccessDenied);

    // O_NONBLOCK: should the path turn into a pipe between stat and open, the
    // open still returns at once, and the check below refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fail(FileErrorCauseFromSystemError(errno));
    m_handle = fd;
    if (::fstat(fd, &st) != 0) return fail(FileErrorCauseFromSystemError(errno));
    if (!S_ISREG(st.st_mode)) return fail(FileErrorCause::AccessDenied);

    // Only another holder of the lock is a sharing violation. Any other
    // refusal (EBADF, ENOLCK, EOPNOTSUPP, EINVAL on network shares) means the
    // file system keeps no locks, and the image is read without one.
    while (LockExclusive(fd) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return fail(FileErrorCause::SharingViolation);
        break;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_size = st.st_size;
    m_modifiedSec = st.st_mtim.tv_sec;
    m_modifiedNsec = st.st_mtim.tv_nsec;
    if (cause) *cause = FileErrorCause::None;
    return true;
}

bool ReadOnlyFile::ChangedSinceOpen() const {
    struct stat st{};
    if (!IsOpen() || ::fstat(Fd(m_handle), &st) != 0) return true;
    return st.st_size != m_size || st.st_mtim.tv_sec != m_modifiedSec ||
           st.st_mtim.tv_nsec != m_modifiedNsec;
}

std::uint64_t ReadOnlyFile::Length() const {
    struct stat st{};
    if (!IsOpen()) throw FileError(FileErrorCause::InvalidFile, "file not open");
    if (::fstat(Fd(m_handle), &st) != 0) {
        const int err = errno;
        throw FileError(FileErrorCauseFromSystemError(err), SystemErrorText(err));
    }
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t ReadOnlyFile::Read(void* buffer, std::size_t count) {
    if (!IsOpen()) throw FileError(FileErrorCause::InvalidFile, "file not open");
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(Fd(m_handle), out + done, count - done);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            throw FileError(FileErrorCauseFromSystemError(err), SystemErrorText(err));
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void ReadOnlyFile::Close() {
    if (IsOpen()) {
        ::close(Fd(m_handle));  // closing also releases the lock
        m_handle = kNoHandle;
    }
}

}  // namespace platform
