#pragma once
// What the hardening tests share: the process's own descriptor, thread and
// read-byte counts, a run with a watchdog, the controller simulator as a
// program of its own (so that it can be killed) or on a thread of the test,
// and a peer that goes deaf at a given frame.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/download_thread.h"
#include "platform/com_port_paths.h"
#include "support/loopback.h"
#include "support/process_resources.h"
#include "support/recording_context.h"
#include "support/simulator_thread.h"
#include "support/subprocess.h"
#include "support/temp_folder.h"
#include "tools/controller_sim/controller_sim.h"

namespace hardening {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using support::Bytes;
using support::ExpectRunEndedWith;
using support::MarkOf;
using support::RecordingContext;
using support::RunMark;

enum class Transport { Tcp, Serial };

// --- The process's own resources ---------------------------------------------

using support::Baseline;
using support::NothingLeftSince;
using Resources = support::ProcessResources;

// Bytes this process passed to read() and its kind, from /proc/self/io.
inline std::uint64_t ReadCharCount() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

// --- Runs -------------------------------------------------------------------

// Starts a run as the Operation page does and waits for its end. A run that
// never ends fails the whole process at once: the worker still uses the
// context, so the test could not even clean up.
inline void RunToEnd(RecordingContext& context, std::chrono::seconds limit = 240s) {
    ASSERT_TRUE(StartDownloadThread(&context)) << "the worker could not start";
    if (!context.IdleEvent().Wait(std::chrono::duration_cast<std::chrono::milliseconds>(limit).count())) {
        std::fprintf(stderr, "HANG: the download did not end within %lld s\n",
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(3);
    }
}

// The serial way to COM `com`, mapped to `device`.
inline void UseSerial(RecordingContext& context, std::uint16_t com, const std::string& device,
                      std::uint32_t readTimeoutMs) {
    platform::SetComPortPath(com, device);
    context.UseSerial(com, readTimeoutMs);
}

// --- The simulator ----------------------------------------------------------

// The simulator program, killed at the end if still running.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        args.insert(args.begin(), VORNIC_SIM_PATH);
        m_process = std::make_unique<support::Subprocess>(args);
        const auto banner = m_process->Started() ? m_process->ReadLine(10000) : std::nullopt;
        if (!banner) {
            ADD_FAILURE() << "the simulator did not start: " << m_process->Stderr();
            return;
        }
        if (banner->rfind("listening ", 0) == 0) {
            m_port = static_cast<std::uint16_t>(std::stoi(banner->substr(banner->rfind(':') + 1)));
        } else if (banner->rfind("serial ", 0) == 0) {
            m_serialPath = banner->substr(7);
        } else {
            ADD_FAILURE() << "unexpected simulator banner: " << *banner;
        }
    }

    std::uint16_t Port() const { return m_port; }
    const std::string& SerialPath() const { return m_serialPath; }
    void Kill() { m_process->Kill(); }

    // Ends it and returns its summary line ("summary: frames=..."), or an
    // empty text when it printed none (it was killed).
    std::string StopAndSummary() {
        m_process->Terminate();
        m_process->Wait(10000);
        const std::string& out = m_process->Stdout();
        const auto at = out.find("summary: ");
        if (at == std::string::npos) return {};
        return out.substr(at, out.find('\n', at) - at);
    }

private:
    std::unique_ptr<support::Subprocess> m_process;
    std::uint16_t m_port = 0;
    std::string m_serialPath;
};

using SimThread = support::SimulatorThread;

// --- A peer that goes deaf ----------------------------------------------------

// Answers the first `answered` frames with 0x12 and from then on neither
// reads nor answers, holding the line open until the tool lets go of it (TCP)
// or the test ends (serial). Frames are taken by length, not judged: the
// simulator judges them in every other case.
class DeafPeer {
public:
    DeafPeer(Transport transport, int answered) : m_transport(transport), m_answered(answered) {
        m_stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (transport == Transport::Tcp) {
            m_listener = std::make_unique<loopback::Listener>(1);
        } else {
            m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            char name[128];
            if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0 &&
                ::ptsname_r(m_master, name, sizeof name) == 0) {
                m_slavePath = name;
                // Raw from the start, as a device would be; the settings stay
                // while the master is open.
                const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
                termios t{};
                if (slave >= 0 && ::tcgetattr(slave, &t) == 0) {
                    ::cfmakeraw(&t);
                    ::tcsetattr(slave, TCSANOW, &t);
                }
                if (slave >= 0) ::close(slave);
            }
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~DeafPeer() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stop, &one, sizeof one);
        m_thread.join();
        if (m_master >= 0) ::close(m_master);
        ::close(m_stop);
    }
    DeafPeer(const DeafPeer&) = delete;
    DeafPeer& operator=(const DeafPeer&) = delete;

    std::uint16_t Port() const { return m_listener ? m_listener->Port() : 0; }
    const std::string& SlavePath() const { return m_slavePath; }
    int FramesAnswered() const { return m_done.load(); }

private:
    static constexpr std::size_t kFrame = 136;

    // Waits for `fd` to be ready for `events`; false when stopped.
    bool WaitFor(int fd, short events) {
        for (;;) {
            pollfd fds[2] = {{m_stop, POLLIN, 0}, {fd, events, 0}};
            const int n = ::poll(fds, 2, 20);
            if (n < 0 && errno != EINTR) return false;
            if (fds[0].revents) return false;
            if (fds[1].revents & (events | POLLERR)) return true;
            if (fds[1].revents & (POLLHUP | POLLNVAL)) {
                // A pty whose far end nobody holds open reports a hang-up: the
                // tool has not opened it yet, so look again shortly.
                pollfd stop{m_stop, POLLIN, 0};
                if (::poll(&stop, 1, 20) > 0) return false;
            }
        }
    }

    bool ReadFrame(int fd) {
        std::uint8_t buffer[kFrame];
        std::size_t got = 0;
        while (got < kFrame) {
            if (!WaitFor(fd, POLLIN)) return false;
            const ssize_t n = ::read(fd, buffer + got, kFrame - got);
            if (n == 0) return false;
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EIO) continue;
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool Answer(int fd) {
        const std::vector<std::uint8_t> reply(m_transport == Transport::Tcp ? 24 : 8, 0x12);
        return ::write(fd, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size());
    }

    void Run() {
        int fd = m_master;
        loopback::Connection connection;
        if (m_transport == Transport::Tcp) {
            if (!m_listener || !m_listener->IsValid() || !WaitFor(m_listener->Fd(), POLLIN)) return;
            connection = m_listener->Accept(1000);
            fd = connection.Fd();
        }
        if (fd < 0) return;
        for (int i = 0; i < m_answered; ++i) {
            if (!ReadFrame(fd) || !Answer(fd)) return;
            m_done.fetch_add(1);
        }
        if (m_transport == Transport::Tcp) {
            // Deaf from here: only the tool's hang-up is noticed, never a byte.
            WaitFor(fd, POLLRDHUP);
            connection.Close();
        }
        pollfd stop{m_stop, POLLIN, 0};
        while (::poll(&stop, 1, -1) < 0 && errno == EINTR) {
        }
    }

    Transport m_transport;
    int m_answered;
    int m_stop = -1;
    int m_master = -1;
    std::string m_slavePath;
    std::unique_ptr<loopback::Listener> m_listener;
    std::atomic<int> m_done{0};
    std::thread m_thread;
};

inline Bytes ImageBytes(unsigned seed) { return support::RandomBytes(kImageSize, seed); }

}  // namespace hardening
