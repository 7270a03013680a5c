// vornic-flash with several targets, the cases that need Linux itself: a
// pseudo-terminal target, a child process found under /proc and killed by
// signal number, and serial devices named by Linux paths and links.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "support/simulator_thread.h"
#include "tests/tools/fleet_test_support.h"
#include "tools/flash/flash_options.h"

using support::Subprocess;
using namespace flash_test;

namespace {

// The child of `parent` whose command line names `text`; 0 when none does.
pid_t ChildNaming(pid_t parent, const std::string& text) {
    std::istringstream children(ReadFile("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                                         "/children"));
    for (pid_t child; children >> child;) {
        std::string command = ReadFile("/proc/" + std::to_string(child) + "/cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        if (command.find(" " + text + " ") != std::string::npos) return child;
    }
    return 0;
}

}  // namespace

TEST(FleetCommand, InterruptBreaksEveryRunningTargetAndTheReportIsStillWritten) {
    TempFolder folder;
    const std::string image = WriteImage(folder.Path("fw.bin"), 65536);
    support::SimulatorThread a({"--delay-ms", "20"}), b({"--serial", "--delay-ms", "20"}), waiting;
    Subprocess flash(Flash({"--tcp", Endpoint(a), "--serial", b.SerialPath(), "--tcp", Endpoint(waiting), "--jobs",
                            "2", "--report", folder.Path("report.jsonl"), image}));
    ASSERT_TRUE(WaitUntilSending(flash, {Endpoint(a), b.SerialPath()})) << flash.Stdout() << flash.Stderr();

    flash.Interrupt();
    EXPECT_EQ(flash.Wait(kRunMs), 1);
    EXPECT_TRUE(EndsWith(flash.Stdout(), "3 targets: 0 ok, 3 failed\n"
                                         "  " + Endpoint(a) + ": Download firmware erroe!\n"
                                         "  " + b.SerialPath() + ": Download firmware erroe!\n"
                                         "  " + Endpoint(waiting) + ": not started: the run was broken off\n"))
        << flash.Stdout();
    EXPECT_NE(flash.Stderr().find("stopping every download after the frame in flight"), std::string::npos);

    // Each run stopped right after a frame went out: the controller got that
    // frame, the tool never read its reply.
    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 2u);
    for (const auto& [sim, target] : std::vector<std::pair<support::SimulatorThread*, std::string>>{
             {&a, Endpoint(a)}, {&b, b.SerialPath()}}) {
        const int frames = sim->SummaryAfter(1).frames;
        EXPECT_GT(frames, 1);
        ExpectAttempt(report[target].at(0), 1, false, frames - 1, "Download firmware erroe!", ReadFile(image));
    }
    EXPECT_EQ(waiting.Summary().sessions, 0);
}

TEST(FleetCommand, ATargetWhoseProcessDiesLeavesTheOthersToFinish) {
    TempFolder folder;
    support::SimulatorThread doomed({"--delay-ms", "20"}), sound;
    Subprocess flash(Flash({"--tcp", Endpoint(doomed), "--tcp", Endpoint(sound), "--report",
                            folder.Path("report.jsonl"), WriteImage(folder.Path("fw.bin"), 65536)}));
    ASSERT_TRUE(WaitUntilSending(flash, {Endpoint(doomed), Endpoint(sound)})) << flash.Stdout();
    const pid_t child = ChildNaming(flash.Id(), Endpoint(doomed));
    ASSERT_NE(child, 0);
    ::kill(child, SIGKILL);

    EXPECT_EQ(flash.Wait(kRunMs), 1);
    EXPECT_TRUE(EndsWith(flash.Stdout(), "2 targets: 1 ok, 1 failed\n  " + Endpoint(doomed) +
                                             ": the download process ended without a result (signal 9)\n"))
        << flash.Stdout();
    EXPECT_EQ(sound.SummaryAfter(1).images, 1);
    std::size_t lines = 0;
    EXPECT_EQ(ReportByTarget(folder.Path("report.jsonl"), &lines)[Endpoint(doomed)].at(0)["ok"], false);
}

TEST(FlashOptions, TheSameControllerNamedTwiceIsAUsageError) {
    TempFolder folder;
    WriteFile(folder.Path("ttyFake"), "");
    std::filesystem::create_symlink(folder.Path("ttyFake"), folder.Path("ttyLink"));
    WriteFile(folder.Path("targets"), "tcp 127.0.0.1:10001 again\n");
    for (const auto& [args, twice] : std::vector<std::pair<std::vector<std::string>, bool>>{
             {{"--tcp", "127.0.0.1:10001", "--tcp", "127.0.0.1:10002"}, false},
             {{"--tcp", "127.0.0.1:10001", "--tcp", "127.0.0.2:10001"}, false},
             {{"--serial", "COM1", "--serial", "COM2"}, false},
             {{"--tcp", "127.0.0.1:10001", "--targets", folder.Path("targets")}, true},
             {{"--serial", "COM1", "--serial", "/dev/ttyS0"}, true},
             {{"--serial", folder.Path("ttyFake"), "--serial", folder.Path("ttyLink")}, true}}) {
        std::vector<std::string> full = args;
        full.push_back("fw.bin");
        const flash::FlashCommandLine line = flash::ParseFlashOptions(full);
        EXPECT_EQ(line.outcome, twice ? tools::ParseOutcome::UsageError : tools::ParseOutcome::Run) << args[3];
        EXPECT_EQ(line.error.find("is named twice") != std::string::npos, twice) << line.error;
    }
}
