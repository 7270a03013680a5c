// Staged fleet runs of vornic-flash against simulators on loopback: a canary,
// a stop after too many failures, a reachability check and a resume.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <sstream>

#include "support/loopback.h"
#include "support/open_handles.h"
#include "support/simulator_thread.h"
#include "tests/tools/fleet_test_support.h"
#include "tools/command_line.h"

using support::Subprocess;
using namespace flash_test;

namespace {

using Sims = std::vector<std::unique_ptr<support::SimulatorThread>>;

// Simulators 1..count, those in `faults` with its options; a targets file
// naming them t1, t2, ... in order.
Sims StartSims(int count, const std::map<int, std::vector<std::string>>& faults, const std::string& targets) {
    Sims sims;
    std::string text;
    for (int k = 1; k <= count; ++k) {
        const auto fault = faults.find(k);
        sims.push_back(std::make_unique<support::SimulatorThread>(fault == faults.end() ? std::vector<std::string>{}
                                                                                        : fault->second));
        text += "tcp " + Endpoint(*sims.back()) + " t" + std::to_string(k) + "\n";
    }
    WriteFile(targets, text);
    return sims;
}

// The labels of the plain lines that say `event`, in order.
std::vector<std::string> LabelsSaying(const std::string& output, const std::string& event) {
    std::vector<std::string> labels;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.size() > event.size() + 2 && line.ends_with(": " + event))
            labels.push_back(line.substr(0, line.size() - event.size() - 2));
    return labels;
}

}  // namespace

TEST(FleetRollout, AFailedCanaryStopsTheRestBeforeTheyGetAFrame) {
    TempFolder folder;
    const std::string image = WriteImage(folder.Path("fw.bin"), 65536);
    Sims sims = StartSims(4, {{1, {"--fault-reply", "0x02@3"}}}, folder.Path("targets"));
    Subprocess flash(Flash({"--targets", folder.Path("targets"), "--canary", "1", "--report",
                            folder.Path("report.jsonl"), image}));
    EXPECT_EQ(flash.Wait(kRunMs), tools::kExitCanaryFailed) << flash.Stderr();
    EXPECT_NE(flash.Stdout().find("== stage canary ==\n"), std::string::npos) << flash.Stdout();
    EXPECT_NE(flash.Stdout().find("4 targets: 0 ok, 1 failed, 3 not started; stage stopped (canary failed)\n"
                                  "  " + Endpoint(*sims[0]) + " (t1): echo char error!\n"
                                  "  " + Endpoint(*sims[1]) + " (t2): not started (canary failed)\n"),
              std::string::npos)
        << flash.Stdout();
    EXPECT_EQ(sims[0]->SummaryAfter(1).frames, 4);
    for (int k = 1; k < 4; ++k) EXPECT_EQ(sims[k]->Summary().sessions, 0) << "t" << k + 1 << " was connected to";

    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 4u) << "a line for every target";
    EXPECT_EQ(report[Endpoint(*sims[0])].at(0)["stage"], "canary");
    for (int k = 1; k < 4; ++k) {
        const Json& line = report[Endpoint(*sims[k])].at(0);
        EXPECT_EQ(line["state"], "not started");
        EXPECT_EQ(line["stage"], "main");
        EXPECT_EQ(line["reason"], "canary failed");
        EXPECT_EQ(line["attempt"], 0);
    }
}

// Three controllers refuse the first frame. After the canary, four run at
// once: the first refusal starts a fifth target, the second stops the run.
TEST(FleetRollout, MaxFailuresStartsNoNewTargetAfterTheLimitAndTheRunningOnesFinish) {
    TempFolder folder;
    const std::string image = WriteImage(folder.Path("fw.bin"), 65536);
    const std::vector<std::string> refuse = {"--fault-reply", "0x02@0"};
    Sims sims = StartSims(16, {{2, refuse}, {6, refuse}, {11, refuse}}, folder.Path("targets"));
    Subprocess flash(Flash({"--targets", folder.Path("targets"), "--canary", "1", "--max-failures", "2", "--jobs", "4",
                            "--report", folder.Path("report.jsonl"), image}));
    EXPECT_EQ(flash.Wait(kRunMs), tools::kExitStoppedAfterFailures) << flash.Stderr();
    const std::string& out = flash.Stdout();
    EXPECT_NE(out.find("16 targets: 4 ok, 2 failed, 10 not started; stage stopped (after 2 failures)\n"),
              std::string::npos)
        << out;

    // The canary alone first; nothing starts after the second failure.
    const auto connecting = LabelsSaying(out, "connecting");
    EXPECT_EQ(connecting, (std::vector<std::string>{"t1", "t2", "t3", "t4", "t5", "t6"})) << out;
    EXPECT_LT(out.find("t1: ok\n"), out.find("t2: connecting\n")) << out;
    EXPECT_GT(out.find("t6: failed: echo char error!\n"), out.rfind(": connecting\n")) << out;
    EXPECT_LT(out.find("== stage stopped (after 2 failures) =="), out.find("t3: ok\n")) << "the running ones finish";
    for (int k = 7; k <= 16; ++k) EXPECT_EQ(sims[k - 1]->Summary().sessions, 0) << "t" << k << " was started";

    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 16u);
    EXPECT_EQ(report[Endpoint(*sims[10])].at(0)["message"], "not started (stopped after 2 failures)");
    EXPECT_EQ(report[Endpoint(*sims[5])].at(0)["stage"], "main");
    EXPECT_EQ(report[Endpoint(*sims[4])].at(0)["state"], "ok");
}

// Linux refuses a connection to the port at once. Windows reports a refusal
// where the channel does not look, so there the connect time-out ends it: the
// bound is 2 s beyond what the unreachable target's connect took.
TEST(FleetRollout, CheckFindsTheOneUnreachableTargetAmongEightWithoutSendingAFrame) {
    TempFolder folder;
    Sims sims = StartSims(7, {}, folder.Path("targets"));
    loopback::RefusingPort nobody;
    const std::string unreachable = "127.0.0.1:" + std::to_string(nobody.Port());
    const auto start = std::chrono::steady_clock::now();
    Subprocess flash(Flash({"--check", "--targets", folder.Path("targets"), "--tcp", unreachable, "--connect-timeout",
                            "1000", "--report", folder.Path("report.jsonl")}));
    EXPECT_EQ(flash.Wait(kRunMs), 1) << flash.Stderr();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string& out = flash.Stdout();
    EXPECT_NE(out.find("8 targets: 7 reachable, 1 unreachable\n  " + unreachable + ": Connect error! (after "),
              std::string::npos)
        << out;
    EXPECT_EQ(LabelsSaying(out, "connecting").size(), 8u);

    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 8u);
    EXPECT_EQ(report[unreachable].at(0)["state"], "unreachable");
    const double refusal = report[unreachable].at(0)["connect_ms"].get<double>() / 1000;
    std::printf("--check of 8 targets, one unreachable: %.3f s, %.3f s of it the refused connect\n", seconds, refusal);
    // Wine takes about a quarter of a second to start each process.
    const double startup = support::RunningUnderWine() ? 3.0 : 0.0;
    EXPECT_LT(seconds, 2.0 + refusal + startup) << "the checks run at once";
    for (const auto& sim : sims) {
        const Json& line = report[Endpoint(*sim)].at(0);
        EXPECT_EQ(line["state"], "reachable");
        EXPECT_EQ(line["stage"], "check");
        EXPECT_GE(line["connect_ms"].get<long long>(), 0);
        EXPECT_EQ(sim->SummaryAfter(1).frames, 0) << "a check sends no frame";
    }
}

// Two controllers are loaded when Ctrl-C comes; the other two are half way.
// The resume loads those two alone, from frame 0, and reports all four.
TEST(FleetRollout, AResumeAfterCtrlCLoadsExactlyTheTargetsThatWereNotLoaded) {
    TempFolder folder;
    const std::string image = WriteImage(folder.Path("fw.bin"), 70000);
    const std::string sent = ReadFile(image).substr(0, 65536);
    // A reply later than the 10 ms stop test slows the whole download down.
    const std::vector<std::string> slow = {"--delay-ms", "15"};
    Sims sims = StartSims(4, {{3, slow}, {4, slow}}, folder.Path("targets"));
    Subprocess first(Flash({"--targets", folder.Path("targets"), "--report", folder.Path("first.jsonl"), image}));
    std::set<std::string> done;
    for (std::optional<std::string> line; done.size() < 2 && (line = first.ReadLine(kRunMs));)
        if (*line == "t1: ok" || *line == "t2: ok") done.insert(*line);
    ASSERT_EQ(done.size(), 2u) << first.Stdout();
    first.Interrupt();
    EXPECT_NE(first.Wait(kRunMs), 0);
    for (int k : {2, 3}) EXPECT_EQ(sims[k]->SummaryAfter(1).images, 0) << "t" << k + 1 << " was loaded already";

    Subprocess resume(Flash({"--targets", folder.Path("targets"), "--resume", folder.Path("first.jsonl"), "--report",
                             folder.Path("resume.jsonl"), image}));
    EXPECT_EQ(resume.Wait(kRunMs), 0) << resume.Stdout() << resume.Stderr();
    EXPECT_TRUE(EndsWith(resume.Stdout(), "4 targets: 2 ok, 0 failed, 2 already loaded\n")) << resume.Stdout();
    for (int k : {0, 1}) EXPECT_EQ(sims[k]->Summary().sessions, 1) << "t" << k + 1 << " was loaded again";
    for (int k : {2, 3}) {
        const sim::Summary summary = sims[k]->SummaryAfter(2);
        EXPECT_EQ(summary.sessions, 2);
        EXPECT_EQ(summary.images, 1);
        EXPECT_EQ(sims[k]->LastImage().value_or(sim::Image{}), *reinterpret_cast<const sim::Image*>(sent.data()));
    }
    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("resume.jsonl"), &lines);
    EXPECT_EQ(lines, 4u);
    for (int k : {0, 1}) {
        const Json& line = report[Endpoint(*sims[k])].at(0);
        EXPECT_EQ(line["state"], "already loaded");
        EXPECT_EQ(line["image_sha256"], Sha256(sent));
    }
    for (int k : {2, 3}) ExpectAttempt(report[Endpoint(*sims[k])].at(0), 1, true, 512, "Download firmware successfully!", sent);
}
