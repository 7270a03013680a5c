// The pseudo-terminal pair and the simulator of the serial tests on Linux:
// the test makes the pair itself, and runs the simulator on a thread.

#include "serial_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/com_port_paths.h"
#include "platform/system_error.h"
#include "support/simulator_thread.h"

namespace serial_test {

struct PtyPair::Impl {
    int master = -1;
    int slave = -1;
    std::string slavePath;
};

PtyPair::PtyPair(std::uint16_t) : m_impl(std::make_unique<Impl>()) {
    Impl& p = *m_impl;
    p.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.master < 0 || ::grantpt(p.master) != 0 || ::unlockpt(p.master) != 0) return;
    char name[128];
    if (::ptsname_r(p.master, name, sizeof name) != 0) return;
    p.slavePath = name;
    p.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (p.slave >= 0 && ::tcgetattr(p.slave, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(p.slave, TCSANOW, &t);
    }
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (m_impl->slave >= 0) ::close(m_impl->slave);
}

bool PtyPair::IsValid() const { return m_impl->master >= 0 && m_impl->slave >= 0; }
const std::string& PtyPair::SlavePath() const { return m_impl->slavePath; }
void PtyPair::MapTo(std::uint16_t port) const { platform::SetComPortPath(port, m_impl->slavePath); }

void PtyPair::CloseMaster() {
    if (m_impl->master >= 0) ::close(m_impl->master);
    m_impl->master = -1;
}

bool PtyPair::Send(const std::vector<std::uint8_t>& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_impl->master, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<std::uint8_t> PtyPair::Receive(std::size_t count, int timeoutMs) const {
    std::vector<std::uint8_t> bytes;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{m_impl->master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        std::uint8_t chunk[4096];
        const std::size_t want = std::min(sizeof chunk, count - bytes.size());
        const ssize_t n = ::read(m_impl->master, chunk, want);
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

std::string PtyPair::HangUpText() { return platform::SystemErrorText(EIO); }

LineSettings PtyPair::Settings() const {
    termios t{};
    ::tcgetattr(m_impl->slave, &t);
    LineSettings s;
    const std::pair<speed_t, std::uint32_t> speeds[] = {{B9600, 9600}, {B19200, 19200}, {B38400, 38400},
                                                        {B57600, 57600}, {B115200, 115200}};
    for (const auto& [code, baud] : speeds) {
        if (::cfgetospeed(&t) == code && ::cfgetispeed(&t) == code) s.baud = baud;
    }
    switch (t.c_cflag & CSIZE) {
        case CS5: s.dataBits = 5; break;
        case CS6: s.dataBits = 6; break;
        case CS7: s.dataBits = 7; break;
        default: s.dataBits = 8; break;
    }
    s.parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    s.raw = (t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD) && (t.c_iflag & (IXON | IXOFF | ICRNL)) == 0 &&
            (t.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (t.c_oflag & OPOST) == 0;
    s.rtsCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    return s;
}

struct SerialSimulator::Impl {
    explicit Impl(std::vector<std::string> args) : sim(WithSerial(std::move(args))) {}
    static std::vector<std::string> WithSerial(std::vector<std::string> args) {
        args.insert(args.begin(), "--serial");
        return args;
    }
    support::SimulatorThread sim;
    std::string problem;
};

SerialSimulator::SerialSimulator(std::vector<std::string> args)
    : m_impl(std::make_unique<Impl>(std::move(args))) {
    if (!m_impl->sim.IsRunning()) m_impl->problem = "the simulator did not start";
}
SerialSimulator::~SerialSimulator() = default;

bool SerialSimulator::IsRunning() const { return m_impl->sim.IsRunning(); }
const std::string& SerialSimulator::Problem() const { return m_impl->problem; }
void SerialSimulator::MapTo(std::uint16_t port) const { platform::SetComPortPath(port, m_impl->sim.SerialPath()); }

SerialSimulator::Outcome SerialSimulator::OutcomeAfterOneSession() const {
    const sim::Summary summary = m_impl->sim.SummaryAfter(1);
    Outcome outcome;
    outcome.frames = summary.frames;
    outcome.bad = summary.bad;
    outcome.complete = summary.complete;
    if (const auto image = m_impl->sim.LastImage()) outcome.image.assign(image->begin(), image->end());
    return outcome;
}

}  // namespace serial_test
