#include "platform/pseudo_terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/system_error.h"

namespace platform {

namespace {
void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    tio.c_cflag |= CLOCAL | CREAD;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void Hand(int fd, ByteStream* stream) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    stream->Adopt(fd, false);
}
}  // namespace

bool OpenPseudoTerminal(ByteStream* stream, std::string* path, std::string* error) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        *error = StepErrorText("pseudo-terminal", errno);
        CloseFd(master);
        return false;
    }
    *path = name;
    // Raw on both ends, so that no echo or line editing touches a byte.
    // The slave keeps its settings for as long as the master stays open.
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !MakeRaw(slave) || !MakeRaw(master)) {
        const int code = errno;
        *error = StepErrorText("raw mode on " + *path, code);
        CloseFd(slave);
        CloseFd(master);
        return false;
    }
    CloseFd(slave);
    Hand(master, stream);
    return true;
}

bool OpenSerialEnd(const std::string& path, ByteStream* stream, std::string* error) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int code = errno;
        *error = StepErrorText("open " + path, code);
        return false;
    }
    if (::isatty(fd) && !MakeRaw(fd)) {
        const int code = errno;
        *error = StepErrorText("raw mode on " + path, code);
        CloseFd(fd);
        return false;
    }
    Hand(fd, stream);
    return true;
}

}  // namespace platform
