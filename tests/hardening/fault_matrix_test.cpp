// The fault matrix: every way a link can fail, at frames 0, 255, 256 and 511,
// on both transports. Each cell is one run against a faulty controller and
// one run right after it against a sound one, with the same context and
// channel, as the Operation page would make them. A cell proves the run ended
// at its frame with the one notice of its fault, that the tool is idle with
// no descriptor or thread left behind, and that the next run succeeds.
//
// Each cell runs in a process of its own, started by the FaultMatrix tests:
// the serial way allows one read per process at a time, and the counts of
// /proc/self are then the cell's alone. Several cells run at once
// (VORNIC_HARDENING_JOBS, default 8), as nearly all of a cell's time is spent
// waiting on the protocol's fixed pace.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "hardening_support.h"

namespace {

using namespace hardening;

enum class Fault { Reply02, ReplyA, Reply00, NoReply, HangUp, Killed, Dripped, Deaf };

constexpr Fault kFaults[] = {Fault::Reply02, Fault::ReplyA, Fault::Reply00, Fault::NoReply,
                             Fault::HangUp,  Fault::Killed, Fault::Dripped, Fault::Deaf};
constexpr int kFrames[] = {0, 255, 256, 511};

constexpr std::uint16_t kCom = 7;
// Short reply time-outs for the faulty runs: only the cells without a reply
// wait them out. Long enough that a busy machine never makes a sound reply
// late.
constexpr std::uint32_t kFaultTimeoutMs = 2000;
// Long enough that a run ended by the kill cannot have been ended by it.
constexpr std::uint32_t kKilledTimeoutMs = 30000;
constexpr std::uint32_t kSoundTcpTimeoutMs = 5000;
constexpr std::uint32_t kSoundSerialTimeoutMs = 1700;  // the Operation page's

constexpr const char* kCellEnv = "VORNIC_FAULT_CELL";
constexpr const char* kJobsEnv = "VORNIC_HARDENING_JOBS";
constexpr const char* kSubsetEnv = "VORNIC_HARDENING_SUBSET";

struct Cell {
    Transport transport;
    Fault fault;
    int frame;
};

const char* FaultName(Fault f) {
    switch (f) {
    case Fault::Reply02: return "Reply02";
    case Fault::ReplyA: return "ReplyA";
    case Fault::Reply00: return "Reply00";
    case Fault::NoReply: return "NoReply";
    case Fault::HangUp: return "HangUp";
    case Fault::Killed: return "Killed";
    case Fault::Dripped: return "Dripped";
    case Fault::Deaf: return "Deaf";
    }
    return "?";
}

std::string CellName(const Cell& c) {
    return std::string(c.transport == Transport::Tcp ? "Tcp" : "Serial") + "_" + FaultName(c.fault) +
           "_At" + std::to_string(c.frame);
}

void PrintTo(const Cell& c, std::ostream* out) { *out << CellName(c); }

std::vector<Cell> AllCells() {
    std::vector<Cell> cells;
    for (const Transport t : {Transport::Tcp, Transport::Serial})
        for (const Fault f : kFaults)
            for (const int n : kFrames) cells.push_back({t, f, n});
    return cells;
}

// The notice the user reads for each fault.
std::string ExpectedText(Fault f) {
    switch (f) {
    case Fault::Reply02:
    case Fault::Dripped: return "echo char error!";
    case Fault::ReplyA: return "Echo char = A;expected 0x01";
    case Fault::Reply00: return "Echo char = ";  // the text ends at the inserted zero byte
    default: return "nothing readed!";
    }
}

std::vector<std::string> SimArgs(const Cell& c) {
    std::vector<std::string> args;
    if (c.transport == Transport::Serial)
        args.push_back("--serial");
    else
        args.insert(args.end(), {"--port", "0"});
    const std::string n = std::to_string(c.frame);
    switch (c.fault) {
    case Fault::Reply02: args.insert(args.end(), {"--fault-reply", "0x02@" + n}); break;
    case Fault::ReplyA: args.insert(args.end(), {"--fault-reply", "A@" + n}); break;
    case Fault::Reply00: args.insert(args.end(), {"--fault-reply", "0@" + n}); break;
    // Killed: silent at frame N, and killed by the test while the tool waits.
    case Fault::NoReply:
    case Fault::Killed: args.insert(args.end(), {"--fault-silent", n}); break;
    case Fault::HangUp: args.insert(args.end(), {"--fault-close", n}); break;
    case Fault::Dripped: args.insert(args.end(), {"--drip", "--fault-reply", "0x02@" + n}); break;
    case Fault::Deaf: break;
    }
    return args;
}

std::int64_t MsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

class FaultCell : public ::testing::TestWithParam<Cell> {};

TEST_P(FaultCell, EndsWithItsNoticeLeavesNothingBehindAndTheNextRunSucceeds) {
    if (std::getenv(kCellEnv) == nullptr)
        GTEST_SKIP() << "cells run in processes of their own, from the FaultMatrix tests";
    const Cell cell = GetParam();
    const bool tcp = cell.transport == Transport::Tcp;

    support::TempFolder folder;
    const Bytes image = ImageBytes(static_cast<unsigned>(cell.frame) * 31u + static_cast<unsigned>(cell.fault));
    RecordingContext context(support::WriteBytes(folder.Path("firmware.bin"), image));

    // Both controllers are up before the counts are taken: what they hold
    // is theirs, not the tool's.
    std::unique_ptr<SimProcess> faulty;
    std::unique_ptr<DeafPeer> deaf;
    if (cell.fault == Fault::Deaf)
        deaf = std::make_unique<DeafPeer>(cell.transport, cell.frame);
    else
        faulty = std::make_unique<SimProcess>(SimArgs(cell));
    SimThread sound(tcp ? std::vector<std::string>{} : std::vector<std::string>{"--serial"});
    ASSERT_FALSE(::testing::Test::HasFailure());

    const std::uint32_t timeout = cell.fault == Fault::Killed ? kKilledTimeoutMs : kFaultTimeoutMs;
    if (tcp)
        context.UseTcp(deaf ? deaf->Port() : faulty->Port(), timeout);
    else
        UseSerial(context, kCom, deaf ? deaf->SlavePath() : faulty->SerialPath(), timeout);

    // The progress report of frame N comes after its send and before its
    // reply is awaited: the moment to kill the controller.
    std::atomic<int> calls{0};
    Clock::time_point frameAt{};
    context.OnProgress([&](int) {
        if (calls.fetch_add(1) != cell.frame) return;
        frameAt = Clock::now();
        if (cell.fault == Fault::Killed) faulty->Kill();
    });

    const Resources baseline = Baseline();
    RunMark mark = MarkOf(context);
    RunToEnd(context);
    const auto endedAt = Clock::now();

    ExpectRunEndedWith(context, mark, ExpectedText(cell.fault), MessageStyle::Warning);
    // Frames 0..N reported, then the 0 of the end sequence: it failed at N.
    EXPECT_EQ(ProgressSince(context, mark).size(), static_cast<std::size_t>(cell.frame) + 2);
    if (cell.fault == Fault::NoReply || cell.fault == Fault::Deaf) {
        EXPECT_GE(MsBetween(frameAt, endedAt), kFaultTimeoutMs);
    }
    if (cell.fault == Fault::Killed) {
        EXPECT_LT(MsBetween(frameAt, endedAt), 15000) << "the kill went unnoticed until the time-out";
    }
    EXPECT_TRUE(NothingLeftSince(baseline)) << "left behind by the faulty run";

    // The next run, at once, on the same channel, against a sound controller.
    context.OnProgress(nullptr);
    if (tcp)
        context.UseTcp(sound.Port(), kSoundTcpTimeoutMs);
    else
        UseSerial(context, kCom, sound.SerialPath(), kSoundSerialTimeoutMs);
    mark = MarkOf(context);
    RunToEnd(context);
    ExpectRunEndedWith(context, mark, "Download firmware successfully!", MessageStyle::Information);
    const auto received = sound.LastImage();
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(std::equal(received->begin(), received->end(), image.begin()));
    EXPECT_TRUE(NothingLeftSince(baseline)) << "left behind by the run after the fault";

    // The faulty controller saw frames 0..N, all of them sound.
    if (deaf) {
        EXPECT_EQ(deaf->FramesAnswered(), cell.frame);
    } else if (cell.fault != Fault::Killed) {
        const std::string summary = faulty->StopAndSummary();
        EXPECT_NE(summary.find("frames=" + std::to_string(cell.frame + 1) + " bad=0 "), std::string::npos)
            << summary;
    }
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultCell, ::testing::ValuesIn(AllCells()),
                         [](const ::testing::TestParamInfo<Cell>& cell) { return CellName(cell.param); });

// --- Running the cells ------------------------------------------------------

std::string SelfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

struct Child {
    std::string name;
    std::string log;
    std::unique_ptr<support::Subprocess> process;
    Clock::time_point start;
};

// The cell's test alone, in a process of its own with its output in `log`.
std::unique_ptr<support::Subprocess> SpawnCell(const std::string& self, const std::string& name,
                                               const std::string& log) {
    support::SpawnOptions options;
    options.environment = {std::string(kCellEnv) + "=1"};
    options.outputFile = log;
    return std::make_unique<support::Subprocess>(
        std::vector<std::string>{self, "--gtest_filter=Cells/FaultCell.*/" + name}, options);
}

std::string Tail(const std::string& path, std::size_t bytes) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    return text.size() > bytes ? "..." + text.substr(text.size() - bytes) : text;
}

// A subset for a hurried run: VORNIC_HARDENING_SUBSET set to anything but
// "all" keeps the cells at frame 0 and two at frame 511.
bool InSubset(const Cell& c) {
    const char* subset = std::getenv(kSubsetEnv);
    if (subset == nullptr || std::string(subset).empty() || std::string(subset) == "all") return true;
    return c.frame == 0 || (c.frame == 511 && (c.fault == Fault::Reply02 || c.fault == Fault::Dripped));
}

void RunCells(Transport transport) {
    const std::string self = SelfPath();
    ASSERT_FALSE(self.empty());
    int jobs = 8;
    if (const char* j = std::getenv(kJobsEnv)) jobs = std::max(1, std::atoi(j));
    constexpr auto kCellLimit = 600s;

    std::vector<Cell> pending;
    for (const Cell& c : AllCells())
        if (c.transport == transport && InSubset(c)) pending.push_back(c);
    // The longest first, so that they do not all end up in the tail.
    std::stable_sort(pending.begin(), pending.end(), [](const Cell& a, const Cell& b) {
        const bool slowA = a.fault == Fault::Dripped, slowB = b.fault == Fault::Dripped;
        if (slowA != slowB) return slowA;
        return a.frame > b.frame;
    });

    support::TempFolder logs;
    std::vector<Child> running;
    std::size_t next = 0;
    int passed = 0;
    const auto start = Clock::now();
    while (next < pending.size() || !running.empty()) {
        while (next < pending.size() && static_cast<int>(running.size()) < jobs) {
            Child child;
            child.name = CellName(pending[next++]);
            child.log = logs.Path(child.name + ".log");
            child.start = Clock::now();
            child.process = SpawnCell(self, child.name, child.log);
            if (!child.process->Started()) {
                ADD_FAILURE() << child.name << ": could not start";
                continue;
            }
            running.push_back(std::move(child));
        }
        std::this_thread::sleep_for(20ms);
        for (auto it = running.begin(); it != running.end();) {
            const std::optional<platform::ChildEnd> done = it->process->PollStatus();
            if (!done && Clock::now() - it->start > kCellLimit) {
                it->process->Kill();
                ++it;
                continue;  // reaped on the next round
            }
            if (!done) {
                ++it;
                continue;
            }
            const platform::ChildEnd status = *done;
            const std::string output = Tail(it->log, 6000);
            const bool ran = output.find("[  PASSED  ] 1 test") != std::string::npos;
            if (status.exited && status.code == 0 && ran) {
                ++passed;
                std::printf("cell %-24s ok in %5.1f s\n", it->name.c_str(),
                            static_cast<double>(MsBetween(it->start, Clock::now())) / 1000.0);
            } else {
                ADD_FAILURE() << "cell " << it->name << " failed ("
                              << (status.exited ? "exit " + std::to_string(status.code)
                                                : "signal " + std::to_string(status.signal))
                              << "):\n"
                              << output;
            }
            it = running.erase(it);
        }
    }
    std::printf("%d of %zu cells passed in %.1f s with %d at a time\n", passed, pending.size(),
                static_cast<double>(MsBetween(start, Clock::now())) / 1000.0, jobs);
    std::fflush(stdout);
}

TEST(FaultMatrix, EveryTcpCellInAProcessOfItsOwn) { RunCells(Transport::Tcp); }

TEST(FaultMatrix, EverySerialCellInAProcessOfItsOwn) { RunCells(Transport::Serial); }

}  // namespace
