#include "platform/text_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_calls.h"

namespace platform {

bool PathExists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

namespace file_calls {

namespace {
int Fd(NativeFile file) { return static_cast<int>(file); }
NativeFile Opened(int fd) { return fd < 0 ? kNoFile : fd; }
}  // namespace

std::string ResolvedPath(const std::string& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) return path;
    return buffer;
}

bool Inspect(const std::string& path, ExistingFile* file) {
    struct stat st{};
    *file = ExistingFile{};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
    file->exists = true;
    file->regular = S_ISREG(st.st_mode);
    file->markedReadOnly = (st.st_mode & 0222) == 0;
    file->mode = st.st_mode & 07777;
    file->owner = st.st_uid;
    file->group = st.st_gid;
    return true;
}

bool MayWrite(const std::string& path) { return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0; }

std::size_t FolderEnd(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// O_NONBLOCK: a pipe put in the file's place must not hold the reader.
NativeFile OpenToRead(const std::string& path) {
    return Opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
}

bool IsRegularFile(NativeFile file, bool* regular) {
    struct stat st{};
    if (::fstat(Fd(file), &st) != 0) return false;
    *regular = S_ISREG(st.st_mode);
    return true;
}

NativeFile CreateNew(const std::string& path, bool replacesAFile) {
    return Opened(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                         replacesAFile ? 0600 : 0666));
}

NoNewFile WhyNoNewFile(int error) {
    switch (error) {
    case EEXIST: return NoNewFile::NameTaken;
    case EACCES:
    case EPERM: return NoNewFile::FolderRefuses;
    case ENOENT: return NoNewFile::FolderMissing;
    default: return NoNewFile::Other;
    }
}

NativeFile OpenToWrite(const std::string& path) {
    return Opened(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
}

bool Reserve(NativeFile file, std::size_t length) {
    if (length == 0 || ::fallocate(Fd(file), 0, 0, static_cast<off_t>(length)) == 0) return true;
    return errno == EOPNOTSUPP || errno == ENOSYS;
}

bool WriteFromStart(NativeFile file, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(Fd(file), text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SetLength(NativeFile file, std::size_t length) {
    return ::ftruncate(Fd(file), static_cast<off_t>(length)) == 0;
}

bool KeepOwnerAndMode(NativeFile file, const ExistingFile& old) {
    // Ownership is given back where the system lets us; either way the file
    // stays writable for whoever could write it before.
    if (old.owner != ::geteuid() || old.group != ::getegid()) {
        // A cast to void does not quiet the fortified headers' warning.
        [[maybe_unused]] const int given = ::fchown(Fd(file), old.owner, old.group);
    }
    return ::fchmod(Fd(file), old.mode) == 0;
}

bool Sync(NativeFile file) { return ::fsync(Fd(file)) == 0; }

bool Close(NativeFile file) { return ::close(Fd(file)) == 0; }

void Remove(const std::string& path) { ::unlink(path.c_str()); }

bool ReplaceExisting(const std::string& temp, const std::string& target) { return MoveOver(temp, target); }

bool MoveOver(const std::string& temp, const std::string& target) {
    return ::rename(temp.c_str(), target.c_str()) == 0;
}

// rename either replaces the old file or leaves it as it was.
bool OldFileMovedAside(int) { return false; }

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    // Only hurries the new name to the disk: the file behind it is complete.
    (void)::fsync(fd);
    ::close(fd);
}

}  // namespace file_calls

}  // namespace platform
