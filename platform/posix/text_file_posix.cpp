#include "platform/text_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/replace_fault.h"

namespace platform {

namespace {

bool Fail(FileErrorCause* cause, FileErrorCause value) {
    if (cause) *cause = value;
    return false;
}

bool FailErrno(FileErrorCause* cause, int err) { return Fail(cause, FileErrorCauseFromSystemError(err)); }

bool Succeed(FileErrorCause* cause) {
    if (cause) *cause = FileErrorCause::None;
    return true;
}

bool WriteAllAt(int fd, std::string_view text, off_t offset) {
    if (InjectedReplaceFailure(ReplaceStep::Write)) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done,
                                   offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes through a link into the file it names, so that the link survives.
std::string ResolvedPath(const std::string& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) return path;
    return buffer;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    // Only hurries the new name to the disk: the file behind it is complete.
    (void)::fsync(fd);
    ::close(fd);
}

// Used only when the folder refuses new files but the file itself may be
// written. The room is reserved first so that a full disk fails before any
// byte changes.
bool RewriteInPlace(const std::string& target, std::string_view text, FileErrorCause* cause) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return FailErrno(cause, errno);
    auto fail = [&](int err) {
        ::close(fd);
        return FailErrno(cause, err);
    };
    if (!text.empty() && ::fallocate(fd, 0, 0, static_cast<off_t>(text.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return fail(errno);
    if (!WriteAllAt(fd, text, 0)) return fail(errno);
    if (::ftruncate(fd, static_cast<off_t>(text.size())) != 0) return fail(errno);
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) return FailErrno(cause, errno);
    return Succeed(cause);
}

// Replaces (or creates) `target` with `text` through a temporary file in its
// folder. `old` is the state of the file being replaced, or null.
bool ReplaceFile(const std::string& target, std::string_view text, const struct stat* old,
                 FileErrorCause* cause) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    // Kept short enough that the temporary name fits the folder's name limit.
    const std::string base = target.substr(folder.size(), 200);

    std::string temp;
    int fd = -1;
    for (int attempt = 0;; ++attempt) {
        temp = folder + "." + base + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter.fetch_add(1)) + ".tmp";
        if (!InjectedReplaceFailure(ReplaceStep::CreateTemp)) {
            fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        old ? 0600 : 0666);
        }
        if (fd >= 0) break;
        const int err = errno;
        if (err == EEXIST && attempt < 100) continue;
        if (old && (err == EACCES || err == EPERM)) return RewriteInPlace(target, text, cause);
        // What is missing when a new name cannot be made is the folder.
        return Fail(cause, err == ENOENT ? FileErrorCause::BadPath : FileErrorCauseFromSystemError(err));
    }

    auto abandon = [&](int err) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        return FailErrno(cause, err);
    };
    if (!WriteAllAt(fd, text, 0)) return abandon(errno);
    if (old) {
        // Ownership is given back where the system lets us; either way the
        // file stays writable for whoever could write it before.
        if (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) {
            // A cast to void does not quiet the fortified headers' warning.
            [[maybe_unused]] const int given = ::fchown(fd, old->st_uid, old->st_gid);
        }
        if (::fchmod(fd, old->st_mode & 07777) != 0) return abandon(errno);
    }
    if (::fsync(fd) != 0) return abandon(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return abandon(errno);
    if (InjectedReplaceFailure(ReplaceStep::Rename) || ::rename(temp.c_str(), target.c_str()) != 0)
        return abandon(errno);
    SyncFolder(folder);
    return Succeed(cause);
}

}  // namespace

bool PathExists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

bool ReadFileText(const std::string& path, std::string* text, FileErrorCause* cause) {
    text->clear();
    // O_NONBLOCK: a pipe put in the file's place must not hold the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return FailErrno(cause, errno);
    auto fail = [&](FileErrorCause value) {
        ::close(fd);
        text->clear();
        return Fail(cause, value);
    };
    struct stat st{};
    if (::fstat(fd, &st) != 0) return fail(FileErrorCauseFromSystemError(errno));
    if (!S_ISREG(st.st_mode)) return fail(FileErrorCause::AccessDenied);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(FileErrorCauseFromSystemError(errno));
        }
        text->append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return Succeed(cause);
}

bool RewriteFileText(const std::string& path,
                     const std::function<std::string(const std::string&)>& edit,
                     FileErrorCause* cause) {
    const std::string target = ResolvedPath(path);
    struct stat st{};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return FailErrno(cause, errno);

    std::string text;
    if (exists) {
        if (!S_ISREG(st.st_mode)) return Fail(cause, FileErrorCause::AccessDenied);
        // Root may write anything; a file without a single write bit was
        // still meant to stay as it is.
        if ((st.st_mode & 0222) == 0) return Fail(cause, FileErrorCause::AccessDenied);
        // The rename below would replace even a file we may not write.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return FailErrno(cause, errno);
        if (!ReadFileText(target, &text, cause)) return false;
    }
    const std::string updated = edit(text);
    // Nothing to change: the file is left alone, its time stamp included.
    if (exists && updated == text) return Succeed(cause);
    return ReplaceFile(target, updated, exists ? &st : nullptr, cause);
}

bool CreateFileWithText(const std::string& path, std::string_view text, FileErrorCause* cause) {
    return ReplaceFile(path, text, nullptr, cause);
}

}  // namespace platform
