#pragma once
// A pseudo-terminal pair for the serial tests: the port opens the slave side
// through a COM number mapped to it, the test plays the device on the master
// side. The pair keeps a slave descriptor of its own, so that the line stays
// up between two opens of the port and its settings can be read back.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com_port_paths.h"

namespace serial_test {

class PtyPair {
public:
    PtyPair() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
        char name[128];
        if (::ptsname_r(m_master, name, sizeof name) != 0) return;
        m_slavePath = name;
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (m_slave >= 0 && ::tcgetattr(m_slave, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(m_slave, TCSANOW, &t);
        }
    }
    ~PtyPair() {
        CloseMaster();
        if (m_slave >= 0) ::close(m_slave);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsValid() const { return m_master >= 0 && m_slave >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }
    int Master() const { return m_master; }
    int Slave() const { return m_slave; }

    // Makes COM `port` open this pair's slave side.
    void MapTo(std::uint16_t port) const { platform::SetComPortPath(port, m_slavePath); }

    // The device hangs up: the port's side sees a hang-up from now on.
    void CloseMaster() {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }

    bool Send(const std::vector<std::uint8_t>& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // What the port sent: up to `count` bytes, waiting at most `timeoutMs`.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs) const {
        std::vector<std::uint8_t> bytes;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t chunk[4096];
            const std::size_t want = std::min(sizeof chunk, count - bytes.size());
            const ssize_t n = ::read(m_master, chunk, want);
            if (n <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    // The line settings as the port left them.
    termios Settings() const {
        termios t{};
        ::tcgetattr(m_slave, &t);
        return t;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

inline std::int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace serial_test
