#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system_error.h"

namespace platform {

OutputFile::~OutputFile() {
    std::string ignored;
    Close(&ignored);
}

bool OutputFile::Open(const std::string& path, bool append, std::string* error) {
    std::string ignored;
    Close(&ignored);
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = kNotRegularFile;
        return false;
    }
    // O_NONBLOCK: a FIFO put in the file's place meanwhile cannot block the
    // open; the check after it refuses it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (append ? O_APPEND : 0),
                          0666);
    if (fd < 0) {
        *error = errno == ENXIO ? kNotRegularFile : SystemErrorLine(errno);
        return false;
    }
    m_handle = fd;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = kNotRegularFile;
        Close(&ignored);
        return false;
    }
    if (!append && ::ftruncate(fd, 0) != 0) {
        *error = SystemErrorLine(errno);
        Close(&ignored);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return true;
}

bool OutputFile::Write(std::string_view bytes, std::string* error) {
    const int fd = static_cast<int>(m_handle);
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = SystemErrorLine(n < 0 ? errno : EIO);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool OutputFile::Close(std::string* error) {
    if (m_handle == kNoHandle) return true;
    const int fd = static_cast<int>(m_handle);
    m_handle = kNoHandle;
    // Linux closes the descriptor even when close fails, EINTR included.
    if (::close(fd) != 0) {
        *error = SystemErrorLine(errno);
        return false;
    }
    return true;
}

}  // namespace platform
