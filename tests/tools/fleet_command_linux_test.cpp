// vornic-flash with several targets, the cases that need Linux itself: a
// pseudo-terminal target, signals by number (a child killed, a hang-up, a
// closed pipe), FIFOs, resource limits, and serial devices named by Linux
// paths and links.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

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
    EXPECT_EQ(flash.Wait(kRunMs), 130);
    EXPECT_TRUE(EndsWith(flash.Stdout(), "3 targets: 0 ok, 2 failed, 1 not started\n"
                                         "  " + Endpoint(a) + ": Download firmware erroe!\n"
                                         "  " + b.SerialPath() + ": Download firmware erroe!\n"
                                         "  " + Endpoint(waiting) + ": not started: the run was broken off\n"))
        << flash.Stdout();
    EXPECT_NE(flash.Stderr().find("stopping every download after the frame in flight"), std::string::npos);

    // Each run stopped right after a frame went out: the controller got that
    // frame, the tool never read its reply.
    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 3u);
    EXPECT_EQ(report[Endpoint(waiting)].at(0)["state"], "not started");
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
    for (std::optional<std::string> line; (line = flash.ReadLine(kRunMs)) && *line != Endpoint(doomed) + ": 10%";) {
    }
    const pid_t child = ChildNaming(flash.Id(), Endpoint(doomed));
    ASSERT_NE(child, 0);
    ::kill(child, SIGKILL);

    EXPECT_EQ(flash.Wait(kRunMs), 1);
    EXPECT_TRUE(EndsWith(flash.Stdout(), "2 targets: 1 ok, 1 failed\n  " + Endpoint(doomed) +
                                             ": the download process ended without a result (signal 9)\n"))
        << flash.Stdout();
    EXPECT_EQ(sound.SummaryAfter(1).images, 1);
    // What the controller was sent, as its progress lines told, less the
    // frame whose reply may not have come.
    std::size_t lines = 0;
    const Json line = ReportByTarget(folder.Path("report.jsonl"), &lines)[Endpoint(doomed)].at(0);
    EXPECT_EQ(line["ok"], false);
    const int received = doomed.SummaryAfter(1).frames;
    EXPECT_GE(received, 52);
    EXPECT_GE(line["frames_acknowledged"].get<int>(), received - 2);
    EXPECT_LE(line["frames_acknowledged"].get<int>(), received);
}

// A closed SSH session: every download is broken off, the summary, the
// report and the clean-up are done, and the status says which signal.
TEST(FleetCommand, AHangUpBreaksTheFleetOffAndTheRunEndsInOrder) {
    TempFolder folder;
    support::SimulatorThread a({"--delay-ms", "20"}), b({"--delay-ms", "20"});
    std::filesystem::create_directory(folder.Path("tmp"));
    support::SpawnOptions environment;
    environment.environment = {"TMPDIR=" + folder.Path("tmp")};
    Subprocess flash(Flash({"--tcp", Endpoint(a), "--tcp", Endpoint(b), "--report", folder.Path("report.jsonl"),
                            WriteImage(folder.Path("fw.bin"), 65536)}),
                     environment);
    ASSERT_TRUE(WaitUntilSending(flash, {Endpoint(a), Endpoint(b)})) << flash.Stdout();
    ::kill(flash.Id(), SIGHUP);
    EXPECT_EQ(flash.Wait(kRunMs), 129) << flash.Stderr();
    EXPECT_TRUE(EndsWith(flash.Stdout(), "2 targets: 0 ok, 2 failed\n"
                                         "  " + Endpoint(a) + ": Download firmware erroe!\n"
                                         "  " + Endpoint(b) + ": Download firmware erroe!\n"))
        << flash.Stdout();
    std::size_t lines = 0;
    ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 2u);
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path("tmp"))) << "the private copies are removed";
}

// A reader that goes away (a pipe into head) ends the lines, not the run.
TEST(FleetCommand, AClosedOutputEndsOnlyTheLiveView) {
    TempFolder folder;
    support::SimulatorThread a, b;
    const std::string command = std::string("'") + VORNIC_FLASH_PATH + "' --tcp " + Endpoint(a) + " --tcp " +
                                Endpoint(b) + " --report '" + folder.Path("report.jsonl") + "' '" +
                                WriteImage(folder.Path("fw.bin"), 65536) + "' | head -1; echo status ${PIPESTATUS[0]}";
    Subprocess shell({"/bin/bash", "-c", command});
    EXPECT_EQ(shell.Wait(kRunMs), 0);
    EXPECT_TRUE(EndsWith(shell.Stdout(), "status 0\n")) << shell.Stdout() << shell.Stderr();
    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 2u);
    for (support::SimulatorThread* sim : {&a, &b}) EXPECT_EQ(sim->SummaryAfter(1).images, 1);
}

TEST(FleetCommand, AReportThatIsNoRegularFileIsRefusedAtOnce) {
    TempFolder folder;
    ASSERT_EQ(::mkfifo(folder.Path("fifo").c_str(), 0600), 0);
    support::SimulatorThread a;
    for (const std::string& report : {folder.Path("fifo"), std::string("/dev/full"), folder.Path("")}) {
        Subprocess flash(Flash({"--tcp", Endpoint(a), "--tcp", "127.0.0.1:1", "--report", report,
                                WriteImage(folder.Path("fw.bin"), 65536)}));
        EXPECT_EQ(flash.Wait(kStartMs), 2) << report;
        EXPECT_NE(flash.Stderr().find("is not a regular file"), std::string::npos) << flash.Stderr();
    }
    EXPECT_EQ(a.Summary().sessions, 0);
}

// A report that cannot take every line: the run ends with its own status and
// says so last. The file-size limit makes the failing write real.
TEST(FleetCommand, AReportThatCouldNotBeWrittenIsAnErrorOfItsOwn) {
    TempFolder folder;
    support::SimulatorThread a, b;
    const std::string report = folder.Path("report.jsonl");
    const std::string earlier = std::string(128 * 1024 - 10, 'x') + "\n";
    WriteFile(report, earlier);
    const std::string command = "trap '' XFSZ; ulimit -f 128; exec '" + std::string(VORNIC_FLASH_PATH) + "' --tcp " +
                                Endpoint(a) + " --tcp " + Endpoint(b) + " --report-append '" + report + "' '" +
                                WriteImage(folder.Path("fw.bin"), 65536) + "'";
    Subprocess flash({"/bin/bash", "-c", command});
    EXPECT_EQ(flash.Wait(kRunMs), 3) << flash.Stderr();
    EXPECT_TRUE(EndsWith(flash.Stderr(), "vornic-flash: the report " + report + " could not be written: File too large\n"))
        << flash.Stderr();
    EXPECT_TRUE(ReadFile(report).starts_with(earlier)) << "appended, never emptied";
}

// Too few descriptors for every target at once: fewer run at once, said
// once, and every target still gets its turn.
TEST(FleetCommand, FewOpenFilesMeanFewerAtOnceNeverFailedTargets) {
    TempFolder folder;
    Subprocess sim(Sim({"--count", "24", "--write-targets", folder.Path("targets")}));
    for (int i = 0; i < 24; ++i) ASSERT_FALSE(StartSimulator(sim).empty());
    const std::string command = "ulimit -n 32; exec '" + std::string(VORNIC_FLASH_PATH) + "' --targets '" +
                                folder.Path("targets") + "' '" + WriteImage(folder.Path("fw.bin"), 65536) + "'";
    Subprocess flash({"/bin/bash", "-c", command});
    EXPECT_EQ(flash.Wait(kRunMs), 0) << flash.Stdout() << flash.Stderr();
    EXPECT_TRUE(EndsWith(flash.Stdout(), "24 targets: 24 ok, 0 failed\n")) << flash.Stdout();
    const std::string said = "downloads at once: this process may open only 32 files";
    EXPECT_NE(flash.Stderr().find(said), std::string::npos) << flash.Stderr();
    EXPECT_EQ(flash.Stderr().find(said), flash.Stderr().rfind(said));
    EXPECT_LT(MostAlive(flash.Stdout()), 24u);
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

TEST(FleetRollout, CheckOpensEachSerialPortAndNamesOneThatWillNotOpen) {
    TempFolder folder;
    support::SimulatorThread line({"--serial"});
    const std::string missing = folder.Path("ttyNone");
    Subprocess flash(Flash({"--check", "--serial", line.SerialPath(), "--serial", missing}));
    EXPECT_EQ(flash.Wait(kRunMs), 1) << flash.Stderr();
    EXPECT_NE(flash.Stdout().find(line.SerialPath() + ": reachable in "), std::string::npos) << flash.Stdout();
    EXPECT_NE(flash.Stdout().find("2 targets: 1 reachable, 1 unreachable\n  " + missing +
                                  ": Can't open com handle! (after "),
              std::string::npos)
        << flash.Stdout();
    EXPECT_EQ(line.Summary().frames, 0) << "a check sends no frame";
}
