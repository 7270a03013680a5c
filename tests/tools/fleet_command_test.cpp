// vornic-flash with several targets: each in a process of its own against the
// simulator over loopback, with its own message, the report, retries, --jobs
// and a killed fleet.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/loopback.h"
#include "support/simulator_thread.h"
#include "tests/tools/flash_test_support.h"
#include "tests/tools/fleet_test_support.h"
#include "tools/flash/flash_options.h"
#include "tools/flash/sha256.h"

using support::Subprocess;
using namespace flash_test;

TEST(FleetCommand, EachFailingTargetEndsWithItsOwnMessageAndTheSoundOnesReceiveTheSameImage) {
    TempFolder folder;
    const std::string image = WriteImage(folder.Path("fw.bin"), 70000);
    const std::string sent = ReadFile(image).substr(0, 65536);
    support::SimulatorThread sound1, sound2;
    support::SimulatorThread refusal({"--fault-reply", "0x02@3"}), silent({"--fault-silent", "3"}),
        hangUp({"--fault-close", "3"});
    loopback::RefusingPort nobody;
    const std::string refused = "127.0.0.1:" + std::to_string(nobody.Port());
    const std::string targets = folder.Path("targets");
    WriteFile(targets, "# one stage\n\ntcp " + Endpoint(sound1) + " sound-1\n  tcp " + Endpoint(refusal) +
                           "  reply refused \r\ntcp " + Endpoint(silent) + " silent\ntcp " + Endpoint(sound2) +
                           "\ntcp " + Endpoint(hangUp) + " hang-up\n");
    std::filesystem::create_directory(folder.Path("tmp"));

    // The temporary folder as each OS names it: TMPDIR, or TMP and TEMP.
    const std::string tmp = folder.Path("tmp");
    support::SpawnOptions environment;
    environment.environment = {"TMPDIR=" + tmp, "TMP=" + tmp, "TEMP=" + tmp};
    Subprocess flash(Flash({"--targets", targets, "--tcp", refused, "--jobs", "4", "--receive-timeout", "2000",
                            "--report", folder.Path("report.jsonl"), image}),
                     environment);
    EXPECT_EQ(flash.Wait(kRunMs), 1) << flash.Stderr();
    EXPECT_TRUE(EndsWith(flash.Stdout(), "6 targets: 2 ok, 4 failed\n"
                                         "  " + Endpoint(refusal) + " (reply refused): echo char error!\n"
                                         "  " + Endpoint(silent) + " (silent): nothing readed!\n"
                                         "  " + Endpoint(hangUp) + " (hang-up): nothing readed!\n"
                                         "  " + refused + ": Communication initialization error!\n"))
        << flash.Stdout();
    EXPECT_NE(flash.Stdout().find("sound-1: sending\n"), std::string::npos);
    EXPECT_NE(flash.Stdout().find(Endpoint(sound2) + ": ok\n"), std::string::npos);
    EXPECT_EQ(MostAlive(flash.Stdout()), 4u) << flash.Stdout();
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path("tmp"))) << "the private copies are removed";

    // Every controller holds what the report says it acknowledged: the sound
    // ones the whole image, the faulty ones the frames before their fault.
    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 6u);
    for (support::SimulatorThread* sim : {&sound1, &sound2}) {
        EXPECT_EQ(sim->SummaryAfter(1).frames, 512);
        EXPECT_EQ(sim->LastImage().value_or(sim::Image{}), *reinterpret_cast<const sim::Image*>(sent.data()));
        ExpectAttempt(report[Endpoint(*sim)].at(0), 1, true, 512, "Download firmware successfully!", sent);
    }
    for (const auto& [sim, message] : std::vector<std::pair<support::SimulatorThread*, std::string>>{
             {&refusal, "echo char error!"}, {&silent, "nothing readed!"}, {&hangUp, "nothing readed!"}}) {
        ASSERT_EQ(report[Endpoint(*sim)].size(), 1u);
        ExpectAttempt(report[Endpoint(*sim)][0], 1, false, sim->SummaryAfter(1).frames - 1, message, sent);
    }
    ExpectAttempt(report[refused].at(0), 1, false, 0, "Communication initialization error!", sent);
    EXPECT_EQ(report[refused][0]["image"], image);
    EXPECT_EQ(report[refused][0]["file_bytes"], 70000);
    EXPECT_EQ(report[refused][0]["file_sha256"], Sha256(ReadFile(image)));
    EXPECT_EQ(report[Endpoint(sound1)][0]["name"], "sound-1");
    EXPECT_EQ(report[Endpoint(refusal)][0]["name"], "reply refused");
    EXPECT_TRUE(report[refused][0]["name"].is_null());
}

TEST(FleetCommand, ALinkFailureIsTriedAgainAfterItsWaveAndAReplyRefusalIsNot) {
    TempFolder folder;
    const std::string image = WriteImage(folder.Path("fw.bin"), 65536);
    const std::string targets = folder.Path("targets");
    // Controller 1 hangs up at frame 2 of its first session only.
    Subprocess sim(Sim({"--count", "2", "--image", folder.Path("got.bin"), "--write-targets", targets, "--for", "1",
                        "--fault-close", "2", "--faulty-sessions", "1", "--for", "2", "--fault-reply", "0x02@1"}));
    const std::string first = StartSimulator(sim), second = StartSimulator(sim);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(ReadFile(targets), "tcp " + first + " sim-1\ntcp " + second + " sim-2\n");

    Subprocess flash(Flash({"--targets", targets, "--retries", "2", "--retry-delay", "0.5", "--verbose", "--report",
                            folder.Path("report.jsonl"), image}));
    EXPECT_EQ(flash.Wait(kRunMs), 1) << flash.Stderr();
    const std::string& out = flash.Stdout();
    EXPECT_TRUE(EndsWith(out, "2 targets: 1 ok, 1 failed\n  " + second + " (sim-2): echo char error!\n")) << out;
    EXPECT_NE(out.find("sim-1: failed: nothing readed! (will try again)\n"), std::string::npos) << out;
    EXPECT_LT(out.find("sim-2: connecting\n"), out.find("sim-1: connecting (attempt 2)\n")) << out;
    // Each reply that came, and only those.
    EXPECT_NE(out.find("sim-2: frame 1: reply ok\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("sim-2: frame 2: reply ok\n"), std::string::npos) << out;
    EXPECT_NE(out.find("sim-1: frame 512: reply ok\nsim-1: 100%\n"), std::string::npos) << out;

    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 3u);
    ASSERT_EQ(report[first].size(), 2u);
    ExpectAttempt(report[first][0], 1, false, 2, "nothing readed!", ReadFile(image));
    ExpectAttempt(report[first][1], 2, true, 512, "Download firmware successfully!", ReadFile(image));
    EXPECT_GE(MsBetween(report[first][0]["end"], report[first][1]["start"]), 500) << "the retry waited its delay";
    ASSERT_EQ(report[second].size(), 1u);
    ExpectAttempt(report[second][0], 1, false, 1, "echo char error!", ReadFile(image));

    sim.Terminate();
    EXPECT_EQ(sim.Wait(kStartMs), 1) << "controller 2 holds no whole image";
    EXPECT_NE(sim.Stdout().find("summary 1: frames=515 bad=0 images=1 complete=yes sessions=2\n"
                                "summary 2: frames=2 bad=0 images=0 complete=no sessions=1\n"
                                "summary: frames=517 bad=0 images=1 complete=no sessions=3\n"),
              std::string::npos)
        << sim.Stdout();
    EXPECT_EQ(ReadFile(folder.Path("got.bin.1")), ReadFile(image));
}

// A fleet killed outright leaves no download running unwatched: each child
// breaks its run off as a Ctrl-C would. A whole image would take 30 s here.
// Only its private copies stay, in the temporary folder it was given.
TEST(FleetCommand, AKilledFleetBreaksItsDownloadsOffToo) {
    TempFolder folder;
    support::SimulatorThread a({"--delay-ms", "50"}), b({"--delay-ms", "50"});
    std::filesystem::create_directory(folder.Path("tmp"));
    const std::string tmp = folder.Path("tmp");
    support::SpawnOptions environment;
    environment.environment = {"TMPDIR=" + tmp, "TMP=" + tmp, "TEMP=" + tmp};
    Subprocess flash(Flash({"--tcp", Endpoint(a), "--tcp", Endpoint(b), WriteImage(folder.Path("fw.bin"), 65536)}),
                     environment);
    ASSERT_TRUE(WaitUntilSending(flash, {Endpoint(a), Endpoint(b)})) << flash.Stdout();
    flash.Kill();
    EXPECT_EQ(flash.Wait(kRunMs), std::nullopt);
    for (support::SimulatorThread* sim : {&a, &b}) {
        EXPECT_TRUE(sim->WaitForSessions(1, std::chrono::seconds(20))) << "the download went on";
        EXPECT_EQ(sim->Summary().images, 0);
    }
    std::size_t copies = 0;
    for (const auto& entry : std::filesystem::directory_iterator(support::Utf8Path(tmp)))
        copies += entry.path().filename().string().starts_with("vornic-flash-");
    EXPECT_EQ(copies, 1u) << "a killed fleet cannot remove its copies";
}

TEST(FleetCommand, AShortImageIsOneErrorAndNoTargetIsStarted) {
    TempFolder folder;
    support::SimulatorThread a, b;
    Subprocess flash(Flash({"--tcp", Endpoint(a), "--tcp", Endpoint(b), "--report", folder.Path("report.jsonl"),
                            WriteImage(folder.Path("short.bin"), 65535)}));
    EXPECT_EQ(flash.Wait(kRunMs), 1);
    EXPECT_EQ(flash.Stderr(), "vornic-flash: " + folder.Path("short.bin") + ": 65535 bytes, fewer than the 65536 of an image\n");
    EXPECT_EQ(flash.Stdout(), "2 targets: 0 ok, 0 failed, 2 not started\n");
    std::size_t lines = 0;
    auto report = ReportByTarget(folder.Path("report.jsonl"), &lines);
    EXPECT_EQ(lines, 2u);
    for (const std::string& target : {Endpoint(a), Endpoint(b)}) {
        const Json& line = report[target].at(0);
        EXPECT_EQ(line["state"], "not started");
        EXPECT_EQ(line["attempt"], 0);
        EXPECT_EQ(line["frames_acknowledged"], 0);
        EXPECT_TRUE(line["image_sha256"].is_null());
        EXPECT_EQ(line["image"], folder.Path("short.bin"));
    }
    EXPECT_EQ(a.Summary().sessions + b.Summary().sessions, 0) << "nobody was connected to";

    Subprocess unwritable(Flash({"--tcp", Endpoint(a), "--tcp", Endpoint(b), "--report",
                                 folder.Path("no-such-folder/report.jsonl"), folder.Path("short.bin")}));
    EXPECT_EQ(unwritable.Wait(kRunMs), 2);
    EXPECT_NE(unwritable.Stderr().find("cannot write the report"), std::string::npos) << unwritable.Stderr();
}

TEST(FlashOptions, TargetsFileLinesBecomeTargetsInOrderAndABadLineIsNamedByItsNumber) {
    TempFolder folder;
    const std::string good = folder.Path("good");
    WriteFile(good, "# site A\n\ntcp 127.0.0.1:10001 stage left\r\n  serial COM5\nserial /dev/pts/9 west\t\n");
    const flash::FlashCommandLine line = flash::ParseFlashOptions({"--tcp", "127.0.0.1:9", "--targets", good, "fw.bin"});
    ASSERT_EQ(line.outcome, tools::ParseOutcome::Run) << line.error;
    EXPECT_TRUE(line.options.fleet);
    const auto& t = line.options.targets;
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].text, "127.0.0.1:9");
    EXPECT_EQ(t[0].name, "");
    EXPECT_TRUE(t[1].tcp);
    EXPECT_EQ(t[1].port, 10001);
    EXPECT_EQ(t[1].name, "stage left");
    EXPECT_FALSE(t[2].tcp);
    EXPECT_EQ(t[2].port, 5);
    EXPECT_EQ(t[2].text, "COM5");
    EXPECT_EQ(t[3].devicePath, "/dev/pts/9");
    EXPECT_EQ(t[3].name, "west");

    for (const auto& [text, where] : std::vector<std::pair<std::string, std::string>>{
             {"tcp 127.0.0.1:1\nudp 127.0.0.1:2\n", ":2: 'udp 127.0.0.1:2' is not"},
             {"\n# no port\ntcp 127.0.0.1\n", ":3: '127.0.0.1' is not HOST:PORT"},
             {"serial COM256 far", ":1: 'COM256' is neither"},
             {"tcp\n", ":1: '' is not HOST:PORT"}}) {
        const std::string bad = folder.Path("bad");
        WriteFile(bad, text);
        const flash::FlashCommandLine refused = flash::ParseFlashOptions({"--targets", bad, "fw.bin"});
        EXPECT_EQ(refused.outcome, tools::ParseOutcome::UsageError) << text;
        EXPECT_NE(refused.error.find("--targets"), std::string::npos) << refused.error;
        EXPECT_NE(refused.error.find(bad + where), std::string::npos) << refused.error;
    }
}
