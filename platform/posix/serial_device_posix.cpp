// The serial device on Linux: a terminal opened exclusively and without
// blocking, set up with termios, watched with poll, read one byte at a time.

#include "platform/serial_device_os.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "platform/posix/event_posix.h"

namespace platform {

namespace {

// A ComHandle here is always a descriptor.
int Fd(ComHandle h) { return static_cast<int>(h); }

constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;
// A byte takes about half a millisecond at 19200 baud: the queue is looked at
// often enough that a frame is known to be out soon after its last byte.
constexpr std::chrono::milliseconds kSentLookInterval{1};

constexpr std::pair<std::uint32_t, speed_t> kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedOf(std::uint32_t baud, speed_t* speed) {
    for (const auto& [rate, code] : kSpeeds) {
        if (rate == baud) {
            *speed = code;
            return true;
        }
    }
    return false;
}

std::uint32_t BaudOf(speed_t speed) {
    for (const auto& [rate, code] : kSpeeds) {
        if (code == speed) return rate;
    }
    return 0;
}

tcflag_t SizeFlag(std::uint8_t byteSize) {
    switch (byteSize) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

std::uint8_t ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5: return 5;
        case CS6: return 6;
        case CS7: return 7;
        default: return 8;
    }
}

// Digits only, at most nine of them.
bool ParseNumber(const std::string& text, std::uint32_t* value) {
    if (text.size() > 9) return false;
    const char* const end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, *value);
    return failure == std::errc{} && stop == end;
}

bool ParseModeEntry(const std::string& key, const std::string& value, DeviceControlBlock* dcb) {
    std::uint32_t n = 0;
    speed_t speed;
    if (key == "baud") {
        if (!ParseNumber(value, &n) || !SpeedOf(n, &speed)) return false;
        dcb->BaudRate = n;
        return true;
    }
    if (key == "parity") {
        if (value.size() != 1) return false;
        switch (std::toupper(static_cast<unsigned char>(value[0]))) {
            case 'N': dcb->Parity = ParityMode::None; return true;
            case 'E': dcb->Parity = ParityMode::Even; return true;
            case 'O': dcb->Parity = ParityMode::Odd; return true;
            case 'M': dcb->Parity = ParityMode::Mark; return true;
            case 'S': dcb->Parity = ParityMode::Space; return true;
            default: return false;
        }
    }
    if (key == "data") {
        if (!ParseNumber(value, &n) || n < 5 || n > 8) return false;
        dcb->ByteSize = static_cast<std::uint8_t>(n);
        return true;
    }
    if (key == "stop") {
        if (value == "1") dcb->StopBits = StopBitsMode::One;
        else if (value == "1.5") dcb->StopBits = StopBitsMode::OneAndHalf;
        else if (value == "2") dcb->StopBits = StopBitsMode::Two;
        else return false;
        return true;
    }
    return false;
}

// Raises or lowers one modem line; a device without modem lines (a
// pseudo-terminal) answers ENOTTY or EINVAL, which is no failure.
bool SetModemLine(ComHandle h, int line, bool raised) {
    if (::ioctl(Fd(h), raised ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
    return errno == ENOTTY || errno == EINVAL;
}

}  // namespace

std::string DefaultComDevicePath(std::uint16_t port) {
    return "/dev/ttyS" + std::to_string(port - 1);
}

const int kSerialErrorInvalidParameter = EINVAL;
const int kSerialErrorIo = EIO;
const int kSerialErrorTimedOut = ETIMEDOUT;

namespace os {

ComHandle OpenComDevice(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kInvalidComHandle;
    // The lock first: a refused second opener must not touch the holder's line.
    // TIOCEXCL is left out on a device that is no terminal; the lock still holds.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return kInvalidComHandle;
    }
    return fd;
}

void CloseComDevice(ComHandle h) {
    // The exclusive flag belongs to the terminal, not to this descriptor.
    (void)::ioctl(Fd(h), TIOCNXCL);
    ::close(Fd(h));
}

bool GetCommState(ComHandle h, DeviceControlBlock* dcb) {
    termios t{};
    if (::tcgetattr(Fd(h), &t) != 0) return false;

    dcb->BaudRate = BaudOf(::cfgetospeed(&t));
    if (!(t.c_cflag & PARENB)) dcb->Parity = ParityMode::None;
    else if (t.c_cflag & CMSPAR) dcb->Parity = (t.c_cflag & PARODD) ? ParityMode::Mark : ParityMode::Space;
    else dcb->Parity = (t.c_cflag & PARODD) ? ParityMode::Odd : ParityMode::Even;
    dcb->ByteSize = ByteSizeOf(t.c_cflag);
    if (!(t.c_cflag & CSTOPB)) dcb->StopBits = StopBitsMode::One;
    else dcb->StopBits = dcb->ByteSize == 5 ? StopBitsMode::OneAndHalf : StopBitsMode::Two;

    const bool hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
    int lines = 0;
    const bool haveLines = ::ioctl(Fd(h), TIOCMGET, &lines) == 0;
    dcb->fOutxCtsFlow = hardwareFlow;
    dcb->fOutxDsrFlow = false;
    dcb->fDsrSensitivity = false;
    dcb->fDtrControl = haveLines && (lines & TIOCM_DTR) ? LineControl::Enable : LineControl::Disable;
    if (hardwareFlow) dcb->fRtsControl = LineControl::Handshake;
    else dcb->fRtsControl = haveLines && (lines & TIOCM_RTS) ? LineControl::Enable : LineControl::Disable;
    return true;
}

bool BuildCommDCB(const std::string& mode, DeviceControlBlock* dcb) {
    DeviceControlBlock built = *dcb;
    bool any = false;
    std::size_t pos = 0;
    while (pos < mode.size()) {
        if (mode[pos] == ' ' || mode[pos] == '\t') {
            ++pos;
            continue;
        }
        const std::size_t end = std::min(mode.find_first_of(" \t", pos), mode.size());
        const std::string entry = mode.substr(pos, end - pos);
        pos = end;
        const std::size_t eq = entry.find('=');
        if (eq == std::string::npos) {
            errno = EINVAL;
            return false;
        }
        std::string key = entry.substr(0, eq);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!ParseModeEntry(key, entry.substr(eq + 1), &built)) {
            errno = EINVAL;
            return false;
        }
        any = true;
    }
    if (!any) {
        errno = EINVAL;
        return false;
    }
    *dcb = built;
    return true;
}

bool SetCommState(ComHandle h, const DeviceControlBlock& dcb) {
    speed_t speed;
    const bool lineCanCarry =
        SpeedOf(dcb.BaudRate, &speed) && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 &&
        !(dcb.StopBits == StopBitsMode::OneAndHalf && dcb.ByteSize != 5) &&
        !(dcb.StopBits == StopBitsMode::Two && dcb.ByteSize == 5) && !dcb.fOutxDsrFlow &&
        !dcb.fDsrSensitivity && dcb.fDtrControl != LineControl::Handshake;
    if (!lineCanCarry) {
        errno = EINVAL;
        return false;
    }

    termios t{};
    if (::tcgetattr(Fd(h), &t) != 0) return false;
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | SizeFlag(dcb.ByteSize);
    switch (dcb.Parity) {
        case ParityMode::None: break;
        case ParityMode::Even: t.c_cflag |= PARENB; break;
        case ParityMode::Odd: t.c_cflag |= PARENB | PARODD; break;
        case ParityMode::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case ParityMode::Space: t.c_cflag |= PARENB | CMSPAR; break;
    }
    if (dcb.StopBits != StopBitsMode::One) t.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == LineControl::Handshake) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return false;
    if (::tcsetattr(Fd(h), TCSANOW, &t) != 0) return false;

    // tcsetattr succeeds when any part was applied; a driver that dropped the
    // speed or the frame format has refused the block.
    termios applied{};
    if (::tcgetattr(Fd(h), &applied) != 0) return false;
    constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    if (::cfgetospeed(&applied) != speed || (applied.c_cflag & kFrame) != (t.c_cflag & kFrame)) {
        errno = EINVAL;
        return false;
    }

    if (!SetModemLine(h, TIOCM_DTR, dcb.fDtrControl == LineControl::Enable)) return false;
    if (dcb.fRtsControl != LineControl::Handshake &&
        !SetModemLine(h, TIOCM_RTS, dcb.fRtsControl == LineControl::Enable))
        return false;
    return true;
}

bool SetCommTimeouts(ComHandle h, const CommTimeouts&) {
    termios t{};
    return ::tcgetattr(Fd(h), &t) == 0;
}

bool PurgeComm(ComHandle h) {
    return ::tcflush(Fd(h), TCIOFLUSH) == 0;
}

// The terminal reports every byte it receives to poll: nothing to set.
bool SetCommMask(ComHandle, std::uint32_t) { return true; }

void DiscardOutput(ComHandle h) { (void)::tcflush(Fd(h), TCOFLUSH); }

bool BytesWaiting(ComHandle h, std::uint32_t* count) {
    int n = 0;
    if (::ioctl(Fd(h), FIONREAD, &n) != 0) return false;
    *count = n > 0 ? static_cast<std::uint32_t>(n) : 0;
    return true;
}

Start StartCommEventWait(ComHandle h, Event& readEvent, bool* hungUp) {
    pollfd p{Fd(h), POLLIN, 0};
    int n;
    while ((n = ::poll(&p, 1, 0)) < 0 && errno == EINTR) {
    }
    if (n < 0) return Start::Failed;
    if (n == 0) return Start::Pending;
    if (p.revents & kGoneEvents) *hungUp = true;
    readEvent.Set();
    return Start::Completed;
}

int WaitCommEventOrInterrupt(ComHandle h, bool watchDevice, Event& readEvent, Event& interrupt,
                             bool* hungUp) {
    Event* events[] = {&readEvent, &interrupt};
    if (!watchDevice) return WaitForAny(events, kInfinite);

    short revents = 0;
    const int which = WaitForAnyOrDescriptor(events, Fd(h), POLLIN, kInfinite, &revents);
    if (which != 2) return which;
    if (revents & kGoneEvents) *hungUp = true;
    readEvent.Set();
    return 0;
}

// No wait is ever under way on the device: a look tells whether it is ready.
void EndCommEventWait(ComHandle h, bool, bool* ready, bool* hungUp) {
    pollfd p{Fd(h), POLLIN, 0};
    *ready = ::poll(&p, 1, 0) == 1 && p.revents != 0;
    if (*ready && (p.revents & kGoneEvents)) *hungUp = true;
}

ByteRead ReadOneByte(ComHandle h, std::uint8_t* byte) {
    for (;;) {
        const ssize_t n = ::read(Fd(h), byte, 1);
        if (n == 1) return ByteRead::One;
        if (n == 0) {
            errno = EIO;  // the device has gone: no byte will ever come
            return ByteRead::Failed;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return ByteRead::NoByte;
        return ByteRead::Failed;
    }
}

Start StartWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t* moved) {
    for (;;) {
        const ssize_t n = ::write(Fd(h), data, length);
        if (n >= 0) {
            *moved = static_cast<std::uint32_t>(n);
            return *moved == length ? Start::Completed : Start::Pending;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Start::Pending;
        return Start::Failed;
    }
}

bool FinishWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length,
                 std::uint32_t* moved, std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    while (*moved < length) {
        const auto left = ceil<milliseconds>(deadline - steady_clock::now());
        if (left <= milliseconds::zero()) return true;

        pollfd p{Fd(h), POLLOUT, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 0x7fffffff)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) continue;
        if (p.revents & kGoneEvents) {
            errno = (p.revents & POLLNVAL) ? EBADF : EIO;
            return false;
        }
        const ssize_t w = ::write(Fd(h), data + *moved, length - *moved);
        if (w > 0) {
            *moved += static_cast<std::uint32_t>(w);
        } else if (w < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
    }
    return true;
}

// A write here never stays under way: what FinishWrite had not written yet
// is simply not written.
void AbandonWrite(ComHandle, std::uint32_t*) {}

void WaitUntilSent(ComHandle h, std::uint32_t length, std::uint32_t* unsent,
                   std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        int queued = 0;
        // A queue that can no longer be looked at (the line hung up as the
        // controller took the frame) holds nothing to wait for: the hang-up
        // is the next read's to report, as it was before this wait existed.
        if (::ioctl(Fd(h), TIOCOUTQ, &queued) != 0) return;
        if (queued <= 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            *unsent = std::min(static_cast<std::uint32_t>(queued), length);
            DiscardOutput(h);
            return;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kSentLookInterval, deadline - now));
    }
}

}  // namespace os

}  // namespace platform
