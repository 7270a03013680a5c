// The parts of a fleet run that need no process: the image's hash, the lines
// between a child and its parent, the live view, the summary and the report.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_folder.h"
#include "tools/command_line.h"
#include "tools/flash/flash_options.h"
#include "tools/flash/fleet_protocol.h"
#include "tools/flash/fleet_report.h"
#include "tools/flash/fleet_view.h"
#include "tools/flash/resume.h"
#include "tools/flash/rollout.h"
#include "tools/flash/sha256.h"

namespace {

std::string HashOf(const std::string& bytes) {
    return tools::Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

flash::FlashTarget Target(const std::string& text, const std::string& name = "") {
    flash::FlashTarget t;
    t.tcp = true;
    t.text = text;
    t.name = name;
    return t;
}

flash::TargetStatus Status(const flash::FlashTarget& target, flash::TargetState state, int percent,
                           const std::string& message = "") {
    flash::TargetStatus s;
    s.target = &target;
    s.state = state;
    s.percent = percent;
    s.message = message;
    return s;
}

}  // namespace

TEST(Sha256, KnownVectorsAndEveryPaddingBoundary) {
    std::string image;
    for (int i = 0; i < 65536; ++i) image += static_cast<char>(i % 256);
    for (const auto& [bytes, hex] : std::vector<std::pair<std::string, std::string>>{
             {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
             {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
             {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
             {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
             {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
             {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
             {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
             {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
             {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
             {image, "7daca2095d0438260fa849183dfc67faa459fdf4936e1bc91eec6b281b27e4c2"}}) {
        EXPECT_EQ(HashOf(bytes), hex) << bytes.size() << " bytes";
    }
}

TEST(FleetChildLines, EveryMessageComesBackByteForByte) {
    for (const std::string& message :
         {std::string("Download firmware successfully!"), std::string("Echo char = \n;expected 0x01"),
          std::string("Echo char = \\x41;expected 0x01"), std::string("Echo char = \xFF;expected 0x01"),
          std::string("Echo char = \r;expected 0x01"), std::string(""), std::string("ends in a blank ")}) {
        const std::string line = flash::EndLine(false, 7, message);
        ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line: " << line;
        const flash::ChildLine parsed = flash::ParseChildLine(std::string_view(line).substr(0, line.size() - 1));
        EXPECT_EQ(parsed.kind, flash::ChildLine::Kind::End);
        EXPECT_FALSE(parsed.ok);
        EXPECT_EQ(parsed.frames, 7);
        EXPECT_EQ(parsed.message, message);
    }
    const flash::ChildLine ok = flash::ParseChildLine("end ok 512 Download firmware successfully!");
    EXPECT_TRUE(ok.ok);
    const flash::ChildLine progress = flash::ParseChildLine(flash::ProgressLine(37, 190).substr(0, 15));
    EXPECT_EQ(progress.percent, 37);
    EXPECT_EQ(progress.framesSent, 190);
    for (const char* garbage : {"progress 101 3", "progress 37", "progress 37 513", "progress", "end maybe 3 x",
                                "end ok 513 x", "end ok", "hello"})
        EXPECT_EQ(flash::ParseChildLine(garbage).kind, flash::ChildLine::Kind::Unknown) << garbage;
}

TEST(FleetChildLines, FramesAcknowledgedCountOnlyTheRepliesThatCame) {
    struct Row {
        int reports;
        bool ok;
        std::string message;
        int frames;
    };
    for (const Row& row : std::vector<Row>{
             {512, true, "Download firmware successfully!", 512},
             {0, false, "Communication initialization error!", 0},
             {4, false, "nothing readed!", 3},  // frame 3 was sent, its reply never came
             {4, false, "echo char error!", 3},
             {4, false, "Echo char = A;expected 0x01", 3},
             {4, false, "Echo char = ", 3},
             {4, false, "Download firmware erroe!", 4},  // a Break after frame 3's reply
             {9, false, "Read firmware error!", 9},
             {0, false, "nothing readed!", 0}}) {
        EXPECT_EQ(flash::FramesAcknowledged(row.reports, row.ok, row.message), row.frames) << row.message;
    }
}

TEST(FleetView, LiveLinesShowBarPercentAndStateAndFitTheTerminal) {
    const auto a = Target("127.0.0.1:10001", "stage-left");
    const auto b = Target("127.0.0.1:10002");
    EXPECT_EQ(flash::LiveLine(Status(a, flash::TargetState::Sending, 45), 15, 0),
              "stage-left       [#########-----------]  45%  sending");
    EXPECT_EQ(flash::LiveLine(Status(b, flash::TargetState::Ok, 100), 15, 0),
              "127.0.0.1:10002  [####################] 100%  ok");
    EXPECT_EQ(flash::LiveLine(Status(b, flash::TargetState::Failed, 0, "nothing readed!"), 0, 0),
              "127.0.0.1:10002  [--------------------]   0%  nothing readed!");
    EXPECT_EQ(flash::LiveLine(Status(a, flash::TargetState::Waiting, 0), 0, 20), "stage\xE2\x80\xA6  [---------\xE2\x80\xA6");

    // Columns, not bytes: wide names line up with narrow ones, and a name too
    // long for the terminal is cut so that the bar and the state still show.
    const auto wide = Target("127.0.0.1:10003", "\xE5\x8C\x97\xE5\x8C\xBA\xE4\xB8\x80");  // three wide characters
    const auto lengthy = Target("127.0.0.1:10004", std::string(60, 'n'));
    EXPECT_EQ(flash::DisplayWidth(flash::LiveLine(Status(wide, flash::TargetState::Sending, 45), 10, 0)),
              flash::DisplayWidth(flash::LiveLine(Status(a, flash::TargetState::Sending, 45), 10, 0)));
    const std::string cut = flash::LiveLine(Status(lengthy, flash::TargetState::Failed, 3, "nothing readed!"), 60, 60);
    EXPECT_LT(flash::DisplayWidth(cut), 60u) << cut;
    EXPECT_NE(cut.find("n\xE2\x80\xA6  [--"), std::string::npos) << cut;
    EXPECT_NE(cut.find("nothing"), std::string::npos) << cut;
    EXPECT_EQ(flash::CutToWidth("\xE5\x8C\x97\xE5\x8C\xBA\xE4\xB8\x80", 4), "\xE5\x8C\x97\xE2\x80\xA6")
        << "a wide character is never split across the cut";

    // More targets than rows: the running, then the failed, then the waiting
    // ones; the rest counted by state; then the note.
    std::vector<flash::FlashTarget> targets;
    // Appended rather than "t" + ...: g++ 12 at -O2 warns falsely (-Wrestrict)
    // about a literal added to a temporary string.
    for (int i = 0; i < 10; ++i) targets.push_back(Target(std::string("t").append(std::to_string(i))));
    std::vector<flash::TargetStatus> statuses;
    for (int i = 0; i < 10; ++i)
        statuses.push_back(Status(targets[i], i < 5 ? flash::TargetState::Ok : flash::TargetState::Waiting, 0));
    statuses[7] = Status(targets[7], flash::TargetState::Sending, 10);
    statuses[2] = Status(targets[2], flash::TargetState::Failed, 3, "echo char error!");
    statuses[3] = Status(targets[3], flash::TargetState::NotStarted, 0, "not started: the run was broken off");
    const auto lines = flash::LiveLines(statuses, "stopping", 6, 80);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].substr(0, 2), "t7");
    EXPECT_EQ(lines[1].substr(0, 2), "t2");
    EXPECT_EQ(lines[2].substr(0, 2), "t3");
    EXPECT_EQ(lines[3], "... and 7 more: 3 ok, 0 failed, 4 waiting");
    EXPECT_EQ(lines[4], "stopping");
    EXPECT_EQ(flash::LiveLines(statuses, "stopping", 5, 80)[2], "... and 8 more: 3 ok, 1 failed, 4 waiting")
        << "a failed target that finds no row is counted";
    EXPECT_EQ(flash::LiveLines(statuses, "", 0, 0).size(), 10u) << "rows unknown: every target";
}

TEST(FleetView, SummaryCountsAndNamesEachFailure) {
    const auto a = Target("127.0.0.1:10001", "stage-left");
    const auto b = Target("COM5");
    const auto c = Target("127.0.0.1:10003");
    EXPECT_EQ(flash::SummaryText({Status(a, flash::TargetState::Failed, 0, "nothing readed!"),
                                  Status(b, flash::TargetState::Ok, 100),
                                  Status(c, flash::TargetState::NotStarted, 0, "not started: the run was broken off")}),
              "3 targets: 1 ok, 1 failed, 1 not started\n"
              "  127.0.0.1:10001 (stage-left): nothing readed!\n"
              "  127.0.0.1:10003: not started: the run was broken off\n");
    EXPECT_EQ(flash::SummaryText({Status(b, flash::TargetState::Ok, 100)}), "1 target: 1 ok, 0 failed\n");
    EXPECT_EQ(flash::SummaryText({Status(a, flash::TargetState::Failed, 0, "nothing readed!")}, true),
              "1 target: 0 ok, 1 failed\n");

    // A staged run: the stage closes the first line; an already loaded
    // target counts apart and needs no line of its own.
    const std::vector<flash::TargetStatus> staged = {
        Status(a, flash::TargetState::Failed, 3, "echo char error!"),
        Status(b, flash::TargetState::NotStarted, 0, "not started (canary failed)"),
        Status(c, flash::TargetState::AlreadyLoaded, 0)};
    EXPECT_EQ(flash::SummaryText(staged, false, "stopped (canary failed)"),
              "3 targets: 0 ok, 1 failed, 1 not started, 1 already loaded; stage stopped (canary failed)\n"
              "  127.0.0.1:10001 (stage-left): echo char error!\n"
              "  COM5: not started (canary failed)\n");
    EXPECT_EQ(flash::StageLine({Status(a, flash::TargetState::Sending, 40), Status(b, flash::TargetState::Waiting, 0),
                                Status(c, flash::TargetState::Ok, 100)},
                               "canary"),
              "stage canary: 1 running, 1 ok, 0 failed, 1 waiting");
}

TEST(FleetReport, ALineHoldsEveryFieldOfTheAttempt) {
    const auto target = Target("127.0.0.1:10001", "stage-left");
    flash::Attempt attempt;
    attempt.number = 2;
    attempt.start = std::chrono::system_clock::time_point(std::chrono::milliseconds(1500));
    attempt.end = std::chrono::system_clock::time_point(std::chrono::milliseconds(86400000 + 61001));
    attempt.seconds = 5.4321;
    attempt.frames = 3;
    attempt.message = "Echo char = \xFF;expected 0x01";
    const std::string line =
        flash::ReportLine(target, attempt, {"fw.bin", 65536, std::string(64, 'e'), 70000, std::string(64, 'f')});
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto json = nlohmann::json::parse(line);
    EXPECT_EQ(json["target"], "127.0.0.1:10001");
    EXPECT_EQ(json["name"], "stage-left");
    EXPECT_EQ(json["attempt"], 2);
    EXPECT_EQ(json["start"], "1970-01-01T00:00:01.500Z");
    EXPECT_EQ(json["end"], "1970-01-02T00:01:01.001Z");
    EXPECT_DOUBLE_EQ(json["seconds"].get<double>(), 5.432);
    EXPECT_EQ(json["frames_acknowledged"], 3);
    EXPECT_EQ(json["message"], "Echo char = \xEF\xBF\xBD;expected 0x01") << "not UTF-8: replaced, still one line";
    EXPECT_EQ(json["ok"], false);
    EXPECT_EQ(json["state"], "failed");
    EXPECT_EQ(json["image"], "fw.bin");
    EXPECT_EQ(json["image_bytes"], 65536);
    EXPECT_EQ(json["image_sha256"], std::string(64, 'e'));
    EXPECT_EQ(json["file_bytes"], 70000);
    EXPECT_EQ(json["file_sha256"], std::string(64, 'f'));
    EXPECT_EQ(json["version"], VORNIC_VERSION);

    const auto unnamed = nlohmann::json::parse(flash::ReportLine(Target("COM5"), attempt, {}));
    EXPECT_TRUE(unnamed["name"].is_null());
    EXPECT_TRUE(unnamed["image_sha256"].is_null()) << "no image was read";
    EXPECT_TRUE(unnamed["file_sha256"].is_null());
}

TEST(FleetRollout, StagesFollowTheCanaryAndTheFailureLimit) {
    struct Row {
        std::vector<std::string> args;  // rollout options
        std::vector<std::pair<std::size_t, bool>> ends;  // target, ok
        std::size_t waiting;                              // after the last end
        std::string stage;
        int status;  // of a run that would otherwise exit 1
    };
    for (const Row& row : std::vector<Row>{
             {{"--canary", "2"}, {{0, true}}, 9, "canary", 1},
             {{"--canary", "2"}, {{1, true}, {0, true}}, 8, "main", 1},
             {{"--canary", "2"}, {{0, false}}, 9, "stopped (canary failed)", tools::kExitCanaryFailed},
             // A main target's failure never counts against the canary.
             {{"--canary", "1"}, {{0, true}, {5, false}, {6, false}}, 3, "main", 1},
             {{"--max-failures", "2"}, {{3, false}, {4, true}}, 5, "main", 1},
             {{"--max-failures", "2"}, {{3, false}, {4, false}}, 5, "stopped (after 2 failures)",
              tools::kExitStoppedAfterFailures},
             // 10% of 10 targets is 1; a limit with nothing left to start stops nothing.
             {{"--max-failures", "10%"}, {{9, false}}, 0, "main", 1},
             {{"--max-failures", "10%"}, {{2, false}}, 4, "stopped (after 1 failure)", tools::kExitStoppedAfterFailures},
             {{"--canary", "1", "--max-failures", "1"}, {{0, false}}, 9, "stopped (canary failed)",
              tools::kExitCanaryFailed}}) {
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--tcp", "127.0.0.1:1", "fw.bin"});
        const flash::FlashCommandLine line = flash::ParseFlashOptions(args);
        ASSERT_EQ(line.outcome, tools::ParseOutcome::Run) << line.error;
        flash::Rollout rollout(line.options, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
        for (const auto& [target, ok] : row.ends) rollout.Ended(target, ok, row.waiting);
        EXPECT_EQ(rollout.StageText(), row.stage) << row.args[0] << " " << row.args[1];
        EXPECT_EQ(rollout.ExitStatus(1), row.status) << row.stage;
        EXPECT_EQ(rollout.MayStart(9), row.stage == "main") << row.stage;
    }
}

TEST(FleetRollout, FailureLimitRoundsAPercentageUpAndIsAtLeastOne) {
    for (const auto& [option, targets, limit] : std::vector<std::tuple<std::string, std::size_t, int>>{
             {"3", 100, 3}, {"10%", 2, 1}, {"10%", 16, 2}, {"10%", 20, 2}, {"10%", 21, 3}, {"100%", 7, 7}, {"1%", 0, 1}}) {
        const auto line = flash::ParseFlashOptions({"--max-failures", option, "--tcp", "127.0.0.1:1", "fw.bin"});
        EXPECT_EQ(flash::FailureLimit(line.options, targets), limit) << option << " of " << targets;
    }
}

TEST(FleetResume, TheLastLineAboutATargetSaysWhatItHolds) {
    support::TempFolder folder;
    const std::string report = folder.Path("report.jsonl");
    const auto line = [](const std::string& target, bool ok, const std::string& sha, const std::string& more = "") {
        return R"({"target":")" + target + R"(","ok":)" + (ok ? "true" : "false") + R"(,"image_sha256":)" +
               (sha.empty() ? "null" : "\"" + sha + "\"") + more + "}\n";
    };
    support::WriteAll(report, line("a", true, "aa") + line("b", true, "bb") + line("b", false, "bb") +
                                  line("c", false, "cc") + line("c", true, "cc", R"(,"state":"already loaded")") +
                                  "\r\n" + line("d", true, "dd") + line("d", true, "", R"(,"stage":"check")") +
                                  line("e", true, "ee") + line("e", true, "ff"));
    std::map<std::string, std::string> loaded;
    std::string error;
    ASSERT_TRUE(flash::ReadLoadedImages(report, &loaded, &error)) << error;
    EXPECT_EQ(loaded, (std::map<std::string, std::string>{{"a", "aa"}, {"c", "cc"}, {"d", "dd"}, {"e", "ff"}}))
        << "b failed last; a check says nothing of d's image; e holds the last image loaded";

    support::WriteAll(report, line("a", true, "aa") + "{\"ok\":true}\n");
    EXPECT_FALSE(flash::ReadLoadedImages(report, &loaded, &error));
    EXPECT_NE(error.find(report + ":2: "), std::string::npos) << error;
    support::WriteAll(report, "not json\n");
    EXPECT_FALSE(flash::ReadLoadedImages(report, &loaded, &error));
    EXPECT_NE(error.find(report + ":1: "), std::string::npos) << error;
}
