// The simulator on a thread of the test, reached over real loopback sockets
// and a real pseudo-terminal.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "download/download_frame.h"
#include "support/temp_folder.h"
#include "tools/controller_sim/controller_sim.h"

using support::Bytes;
using support::ReadBytes;
using support::TempFolder;

namespace {

constexpr int kWaitMs = 5000;

Bytes Data(int frame) {
    Bytes data(kFrameDataSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(frame + 5 * i);
    return data;
}

Bytes Frame(int n) {
    const DownloadFrame f = BuildFrame(n, Data(n).data());
    return Bytes(f.begin(), f.end());
}

// One end of a byte stream: a TCP connection or the far end of a pty.
class Peer {
public:
    explicit Peer(int fd) : m_fd(fd) {}
    ~Peer() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool IsValid() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    bool Write(const Bytes& bytes) { return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()); }
    // Up to `count` bytes within the time; fewer when the peer hangs up.
    Bytes Read(std::size_t count, int timeoutMs = kWaitMs) {
        Bytes bytes;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t chunk[256];
            const ssize_t n = ::read(m_fd, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (n <= 0) {
                m_hungUp = true;
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }
    bool HungUp() const { return m_hungUp; }
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
    bool m_hungUp = false;
};

std::unique_ptr<Peer> Connect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return std::make_unique<Peer>(-1);
    }
    return std::make_unique<Peer>(fd);
}

std::unique_ptr<Peer> OpenSerial(const std::string& path) {
    return std::make_unique<Peer>(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
}

class SimOnThread {
public:
    explicit SimOnThread(std::vector<std::string> args) {
        sim::Options options;
        std::string error;
        EXPECT_TRUE(sim::ParseOptions(args, &options, &error)) << error;
        m_sim = std::make_unique<sim::ControllerSim>(options);
        m_started = m_sim->Start(&error);
        EXPECT_TRUE(m_started) << error;
        if (m_started) m_thread = std::thread([this] { m_exitCode = m_sim->Run(); });
    }
    ~SimOnThread() { Join(); }

    sim::ControllerSim& operator*() { return *m_sim; }
    sim::ControllerSim* operator->() { return m_sim.get(); }
    // Stops the simulator unless it has ended by itself; its exit code.
    int Join() {
        if (m_thread.joinable()) {
            m_sim->Stop();
            m_thread.join();
        }
        return m_exitCode;
    }
    // Waits for Run to end by itself.
    int JoinWithoutStop() {
        if (m_thread.joinable()) m_thread.join();
        return m_exitCode;
    }

private:
    std::unique_ptr<sim::ControllerSim> m_sim;
    bool m_started = false;
    std::thread m_thread;
    int m_exitCode = -1;
};

}  // namespace

TEST(SimulatorTcp, WholeImageIsAnsweredFrameByFrameAndWrittenToTheImageFile) {
    TempFolder folder;
    SimOnThread sim({"--port", "0", "--once", "--image", folder.Path("image.bin")});
    auto peer = Connect(sim->Port());
    ASSERT_TRUE(peer->IsValid());
    Bytes expected;
    for (int n = 0; n < kFrameCount; ++n) {
        ASSERT_TRUE(peer->Write(Frame(n)));
        const Bytes reply = peer->Read(24);
        ASSERT_EQ(reply.size(), 24u) << "frame " << n;
        ASSERT_EQ(reply[0], 0x12);
        const Bytes data = Data(n);
        expected.insert(expected.end(), data.begin(), data.end());
    }
    // The file is complete before the last reply goes out.
    EXPECT_EQ(ReadBytes(folder.Path("image.bin")), expected);
    peer->Close();

    EXPECT_EQ(sim.JoinWithoutStop(), 0);  // --once: ends with the session
    EXPECT_EQ(sim->GetSummary().Line(), "summary: frames=512 bad=0 images=1 complete=yes sessions=1");
}

TEST(SimulatorTcp, DisconnectMidImageStartsTheNextConnectionAtFrameZero) {
    SimOnThread sim({"--port", "0"});
    {
        auto first = Connect(sim->Port());
        for (int n = 0; n < 3; ++n) {
            ASSERT_TRUE(first->Write(Frame(n)));
            ASSERT_EQ(first->Read(24).size(), 24u);
        }
    }
    ASSERT_TRUE(sim->WaitForSessions(1, std::chrono::milliseconds(kWaitMs)));
    auto second = Connect(sim->Port());
    ASSERT_TRUE(second->Write(Frame(3)));  // block 3 where 0 is due
    EXPECT_EQ(second->Read(24).at(0), 0x02);
    ASSERT_TRUE(second->Write(Frame(0)));
    EXPECT_EQ(second->Read(24).at(0), 0x12);
    second->Close();

    EXPECT_EQ(sim.Join(), 1);
    const sim::Summary summary = sim->GetSummary();
    EXPECT_EQ(summary.frames, 5);
    EXPECT_EQ(summary.bad, 1);
    EXPECT_FALSE(summary.complete);
}

TEST(SimulatorTcp, GarbageIsRefusedAfterAPauseAndTheSessionGoesOn) {
    SimOnThread sim({"--port", "0"});
    auto peer = Connect(sim->Port());
    const Bytes garbage(300, 0x33);  // two bad frames and 28 bytes left over
    ASSERT_TRUE(peer->Write(garbage));
    const Bytes replies = peer->Read(3 * 24);
    ASSERT_EQ(replies.size(), 3u * 24);
    EXPECT_EQ(replies[0], 0x02);
    EXPECT_EQ(replies[24], 0x02);
    EXPECT_EQ(replies[48], 0x02);  // the leftover, judged once the line fell quiet
    ASSERT_TRUE(peer->Write(Frame(0)));
    EXPECT_EQ(peer->Read(24).at(0), 0x12);
    EXPECT_EQ(sim->GetSummary().bad, 3);
}

TEST(SimulatorTcp, FaultCloseHangsUpAtItsFrameAndTheNextConnectionIsServed) {
    SimOnThread sim({"--port", "0", "--fault-close", "1"});
    auto peer = Connect(sim->Port());
    ASSERT_TRUE(peer->Write(Frame(0)));
    EXPECT_EQ(peer->Read(24).size(), 24u);
    ASSERT_TRUE(peer->Write(Frame(1)));
    EXPECT_TRUE(peer->Read(24).empty());
    EXPECT_TRUE(peer->HungUp());

    auto next = Connect(sim->Port());
    ASSERT_TRUE(next->Write(Frame(0)));
    EXPECT_EQ(next->Read(24).at(0), 0x12);
}

TEST(SimulatorTcp, MutePeerAcceptsButNeverAnswers) {
    SimOnThread sim({"--port", "0", "--mute"});
    auto peer = Connect(sim->Port());
    ASSERT_TRUE(peer->IsValid());
    ASSERT_TRUE(peer->Write(Frame(0)));
    EXPECT_TRUE(peer->Read(1, 200).empty());
    EXPECT_FALSE(peer->HungUp());
    peer->Close();
    ASSERT_TRUE(sim->WaitForSessions(1, std::chrono::milliseconds(kWaitMs)));
    EXPECT_EQ(sim->GetSummary().frames, 0);
}

TEST(SimulatorTcp, DelayHoldsEachReplyBack) {
    SimOnThread sim({"--port", "0", "--delay-ms", "150"});
    auto peer = Connect(sim->Port());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(peer->Write(Frame(0)));
    EXPECT_EQ(peer->Read(24).size(), 24u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}

TEST(SimulatorTcp, StopEndsAWaitingSimulatorAtOnce) {
    SimOnThread sim({"--port", "0", "--delay-ms", "600000"});
    auto peer = Connect(sim->Port());
    ASSERT_TRUE(peer->Write(Frame(0)));  // the simulator now sits in its delay
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sim.Join(), 1);
}

TEST(SimulatorSerial, PseudoTerminalServesEachAttachmentOfTheTool) {
    SimOnThread sim({"--serial"});
    ASSERT_FALSE(sim->SerialPath().empty());
    EXPECT_EQ(sim->Banner(), "serial " + sim->SerialPath());

    // The tool opens the line for a download and closes it afterwards.
    for (int attachment = 1; attachment <= 2; ++attachment) {
        auto line = OpenSerial(sim->SerialPath());
        ASSERT_TRUE(line->IsValid());
        for (int n = 0; n < 2; ++n) {
            ASSERT_TRUE(line->Write(Frame(n)));
            const Bytes reply = line->Read(8);
            ASSERT_EQ(reply.size(), 8u);
            EXPECT_EQ(reply, Bytes(8, 0x12));
        }
        line->Close();
        ASSERT_TRUE(sim->WaitForSessions(attachment, std::chrono::milliseconds(kWaitMs)));
    }
    EXPECT_EQ(sim->GetSummary().bad, 0);  // the second began at block 0 again
}

TEST(SimulatorSerial, LineIsRawSoNoByteIsEchoedOrTranslated) {
    SimOnThread sim({"--serial", "--reply-len", "3", "--reply-fill", "0x0A"});
    auto line = OpenSerial(sim->SerialPath());
    termios tio{};
    ASSERT_EQ(::tcgetattr(line->Fd(), &tio), 0);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    ASSERT_TRUE(line->Write(Frame(0)));
    // 0x0A stays 0x0A (no CR added), and nothing of the frame comes back.
    EXPECT_EQ(line->Read(3), (Bytes{0x12, 0x0A, 0x0A}));
    EXPECT_TRUE(line->Read(1, 100).empty());
}

TEST(SimulatorSerial, FaultCloseHangsUpTheLineAndEndsTheSimulator) {
    SimOnThread sim({"--serial", "--fault-close", "0"});
    auto line = OpenSerial(sim->SerialPath());
    ASSERT_TRUE(line->Write(Frame(0)));
    EXPECT_TRUE(line->Read(8).empty());
    EXPECT_TRUE(line->HungUp());
    EXPECT_EQ(sim.JoinWithoutStop(), 1);
}

TEST(SimulatorSerial, LineWithoutAToolIsWaitedOnWithoutSpinning) {
    SimOnThread sim({"--serial"});
    std::clock_t before = std::clock();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    // A loop that spun on the hung-up line would use the whole half second.
    EXPECT_LT(cpuMs, 250.0);
}
