// The simulator on a thread of the test, reached over a real
// pseudo-terminal: Linux only.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "tests/tools/sim_test_support.h"

using support::Bytes;
using support::TempFolder;
using namespace sim_test;

namespace {

// The tool's end of the simulator's line, opened as the tool opens it.
std::unique_ptr<Peer> OpenSerial(const std::string& path) {
    auto stream = std::make_unique<platform::ByteStream>();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) stream->Adopt(fd, false);
    return std::make_unique<Peer>(std::move(stream));
}

}  // namespace

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
