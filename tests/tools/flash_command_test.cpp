// vornic-flash and vornic-controller-sim as programs: command lines, output,
// exit codes and Ctrl-C.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/loopback.h"
#include "support/simulator_thread.h"
#include "tests/tools/flash_test_support.h"
#include "tools/controller_sim/sim_options.h"
#include "tools/flash/flash_options.h"
#include "tools/flash/port_table.h"

using support::ReadAll;
using support::Subprocess;
using support::TempFolder;

using namespace flash_test;

TEST(FlashCommand, FullDownloadExitsZeroAndTheSimulatorHoldsTheSameImage) {
    TempFolder folder;
    const std::string image = WriteImage(folder.Path("fw.bin"), 70000);
    Subprocess sim(Sim({"--once", "--image", folder.Path("received.bin")}));
    const std::string endpoint = StartSimulator(sim);
    ASSERT_FALSE(endpoint.empty());

    Subprocess flash(Flash({"--tcp", endpoint, image}));
    EXPECT_EQ(flash.Wait(kRunMs), 0) << flash.Stderr();
    EXPECT_EQ(flash.Stderr(), "vornic-flash: " + image + " is 70000 bytes: only its first 65536 are sent\n");
    EXPECT_NE(flash.Stdout().find("progress 0%\nprogress 1%\n"), std::string::npos);
    EXPECT_NE(flash.Stdout().find("progress 100%\nDownload firmware successfully!\n"), std::string::npos);
    EXPECT_EQ(flash.Stdout().find("progress 0%", 5), std::string::npos) << "the end's return to 0 is not shown";

    EXPECT_EQ(sim.Wait(kStartMs), 0);
    EXPECT_NE(sim.Stdout().find("summary: frames=512 bad=0 images=1 complete=yes sessions=1\n"), std::string::npos);
    EXPECT_EQ(ReadAll(folder.Path("received.bin")), ReadAll(image).substr(0, 65536));
}

TEST(FlashCommand, FailureNoticeGoesToStandardErrorWithExitCodeOne) {
    TempFolder folder;
    Subprocess sim(Sim({"--once", "--fault-reply", "A@2"}));
    const std::string endpoint = StartSimulator(sim);
    ASSERT_FALSE(endpoint.empty());

    Subprocess flash(Flash({"--tcp", endpoint, WriteImage(folder.Path("fw.bin"), 65536)}));
    EXPECT_EQ(flash.Wait(kRunMs), 1);
    EXPECT_EQ(flash.Stderr(), "Echo char = A;expected 0x01\n");
    EXPECT_EQ(sim.Wait(kStartMs), 1);  // no whole image arrived
}

TEST(FlashCommand, InterruptBreaksTheDownloadOffLikeTheBreakButton) {
    TempFolder folder;
    Subprocess sim(Sim({"--delay-ms", "20"}));
    const std::string endpoint = StartSimulator(sim);
    ASSERT_FALSE(endpoint.empty());

    Subprocess flash(Flash({"--tcp", endpoint, WriteImage(folder.Path("fw.bin"), 65536)}));
    std::optional<std::string> line;
    while ((line = flash.ReadLine(kRunMs)) && *line != "progress 1%") {
    }
    ASSERT_TRUE(line) << "no progress came";
    flash.Interrupt();
    EXPECT_EQ(flash.Wait(kRunMs), 130) << "128 + SIGINT, as shells count it";
    EXPECT_NE(flash.Stderr().find("Download firmware erroe!\n"), std::string::npos) << flash.Stderr();
}

TEST(FlashCommand, RefusedConnectionIsACommunicationError) {
    TempFolder folder;
    // Bound but never listening: the port stays ours and refuses.
    loopback::RefusingPort refusing;
    ASSERT_TRUE(refusing.IsValid());
    const std::string endpoint = "127.0.0.1:" + std::to_string(refusing.Port());

    Subprocess flash(Flash({"--tcp", endpoint, WriteImage(folder.Path("fw.bin"), 65536)}));
    EXPECT_EQ(flash.Wait(kRunMs), 1);
    EXPECT_EQ(flash.Stderr(), "Communication initialization error!\n");
}

TEST(FlashCommand, SerialDeviceThatDoesNotExistIsACommunicationError) {
    TempFolder folder;
    // With forward slashes, as a device path is written on every OS.
    const std::string device = std::filesystem::path(folder.Path("ttyNone")).generic_string();
    Subprocess flash(Flash({"--serial", device, WriteImage(folder.Path("fw.bin"), 65536)}));
    EXPECT_EQ(flash.Wait(kRunMs), 1);
    EXPECT_EQ(flash.Stderr(), "Communication initialization error!\n");
}

// Whatever is wrong with the image is said before anything connects, with
// the system's reason, and the run fails.
TEST(FlashCommand, AnImageThatCannotBeSentIsOneErrorBeforeAnyConnection) {
    TempFolder folder;
    support::SimulatorThread sim;
    const std::string endpoint = "127.0.0.1:" + std::to_string(sim.Port());
    std::filesystem::create_directory(folder.Path("folder.bin"));
    WriteImage(folder.Path("short.bin"), 65535);
    for (const auto& [image, says] : std::vector<std::pair<std::string, std::string>>{
             {folder.Path("missing.bin"), folder.Path("missing.bin") + ": "},  // and the system's reason
             {folder.Path("folder.bin"), "is a folder"},
             {folder.Path("short.bin"), "65535 bytes, fewer than the 65536"}}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"--tcp", endpoint, image},
              std::vector<std::string>{"--tcp", endpoint, "--tcp", "127.0.0.1:1", image}}) {
            Subprocess flash(Flash(args));
            EXPECT_EQ(flash.Wait(kRunMs), 1) << image;
            EXPECT_NE(flash.Stderr().find(says), std::string::npos) << flash.Stderr();
            EXPECT_EQ(flash.Stderr().find(says), flash.Stderr().rfind(says)) << "said once: " << flash.Stderr();
        }
    }
    EXPECT_EQ(sim.Summary().sessions, 0) << "nobody was connected to";
}

TEST(FlashCommand, QuietPrintsOnlyTheLastLineAndVerboseEachReply) {
    TempFolder folder;
    support::SimulatorThread sim;
    const std::string endpoint = "127.0.0.1:" + std::to_string(sim.Port());
    const std::string image = WriteImage(folder.Path("fw.bin"), 70000);
    Subprocess quiet(Flash({"-q", "--tcp", endpoint, image}));
    EXPECT_EQ(quiet.Wait(kRunMs), 0);
    EXPECT_EQ(quiet.Stdout(), "Download firmware successfully!\n");
    EXPECT_EQ(quiet.Stderr(), "");
    Subprocess verbose(Flash({"--tcp", endpoint, "--verbose", image}));
    EXPECT_EQ(verbose.Wait(kRunMs), 0);
    EXPECT_NE(verbose.Stdout().find("frame 1: reply ok\n"), std::string::npos);
    EXPECT_NE(verbose.Stdout().find("frame 512: reply ok\nprogress 100%\nDownload firmware successfully!\n"),
              std::string::npos)
        << verbose.Stdout();
}

TEST(FlashCommand, UsageErrorsExitTwoWithoutConnecting) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {},
             {"fw.bin"},
             {"--tcp", "localhost:10001", "fw.bin"},
             {"--tcp", "127.0.0.1", "fw.bin"},
             {"--tcp", "127.0.0.1:0", "fw.bin"},
             {"--tcp", "127.0.0.256:10001", "fw.bin"},
             {"--tcp", "127.1:10001", "fw.bin"},
             {"--tcp", "127.0.0.1:10001"},
             {"--serial", "COM256", "fw.bin"},
             {"--serial", "COM0", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--receive-timeout", "0", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--report", "a", "--report-append", "b", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--retry-delay", "-1", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "-q", "-v", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--json", "fw.bin"},
             {"--serial", "COM1", "--serial", "\\\\.\\COM1", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--receive-timeout", "soon", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "a.bin", "b.bin"},
             {"--tcp", "127.0.0.1:10001", "--tcp", "127.0.0.1:10001", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--targets", "no-such-targets-file", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--jobs", "0", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--retries", "-1", "fw.bin"},
             {"--tcp", "127.0.0.1:65536", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--frobnicate", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "fw.bin", "--receive-timeout"},
             {"--tcp", "127.0.0.1:10001", "--connect-timeout", "2147483648", "fw.bin"},
             {"--tcp", "127.0.0.1:10001", "--receive-timeout", "-1", "fw.bin"},
             {"--serial", "COM1", "--receive-timeout", "1700"}}) {
        Subprocess flash(Flash(args));
        EXPECT_EQ(flash.Wait(kStartMs), 2) << (args.empty() ? "(none)" : args[0] + " " + (args.size() > 1 ? args[1] : ""));
        // One line with the reason, one with the hint, never the whole help.
        EXPECT_TRUE(flash.Stderr().starts_with("vornic-flash: ")) << flash.Stderr();
        EXPECT_TRUE(flash.Stderr().ends_with("\n(--help lists the options)\n")) << flash.Stderr();
        EXPECT_EQ(std::count(flash.Stderr().begin(), flash.Stderr().end(), '\n'), 2) << flash.Stderr();
    }
}

TEST(FlashOptions, EachOptionLandsInItsFieldWhateverTheOrder) {
    struct Row {
        std::vector<std::string> args;
        bool tcp;
        std::uint32_t address;
        std::uint16_t port;
        std::string devicePath;
        std::optional<std::int32_t> connectMs;
        std::optional<std::uint32_t> receiveMs;
        std::string file;
    };
    for (const Row& row : std::vector<Row>{
             {{"--tcp", "127.0.0.1:10001", "fw.bin"}, true, 0x7f000001, 10001, "", {}, {}, "fw.bin"},
             {{"--tcp=127.255.0.9:65535", "--connect-timeout", "0", "a b.bin"}, true, 0x7fff0009, 65535, "", 0, {}, "a b.bin"},
             {{"fw.bin", "--serial", "com20", "--receive-timeout", "2147483647"}, false, 0, 20, "", {}, 2147483647u, "fw.bin"},
             {{"--serial", "COM255", "--receive-timeout", "1", "fw.bin"}, false, 0, 255, "", {}, 1u, "fw.bin"},
             {{"--serial", "\\\\.\\COM200", "fw.bin"}, false, 0, 200, "", {}, {}, "fw.bin"},
             {{"--receive-timeout", "5", "--receive-timeout", "7", "--serial", "/dev/pts/7", "-"}, false, 0, 1, "/dev/pts/7", {}, 7u, "-"},
             {{"--serial", "COM2", "--", "--fw.bin"}, false, 0, 2, "", {}, {}, "--fw.bin"}}) {
        const flash::FlashCommandLine line = flash::ParseFlashOptions(row.args);
        ASSERT_EQ(line.outcome, tools::ParseOutcome::Run) << row.args[0] << ": " << line.error;
        ASSERT_EQ(line.options.targets.size(), 1u);
        const flash::FlashTarget& target = line.options.targets[0];
        EXPECT_EQ(target.tcp, row.tcp) << row.args[0];
        EXPECT_EQ(target.address, row.address) << row.args[0];
        EXPECT_EQ(target.port, row.port) << row.args[0];
        EXPECT_EQ(target.devicePath, row.devicePath) << row.args[0];
        EXPECT_EQ(line.options.connectTimeoutMs, row.connectMs) << row.args[0];
        EXPECT_EQ(line.options.receiveTimeoutMs, row.receiveMs) << row.args[0];
        EXPECT_EQ(line.options.file, row.file) << row.args[0];
    }
}

TEST(FlashOptions, HelpAndVersionNeedNoTargetAndUsageErrorsNameTheOption) {
    EXPECT_EQ(flash::ParseFlashOptions({"--help"}).outcome, tools::ParseOutcome::Help);
    EXPECT_EQ(flash::ParseFlashOptions({"fw.bin", "-h"}).outcome, tools::ParseOutcome::Help);
    EXPECT_EQ(flash::ParseFlashOptions({"--version"}).outcome, tools::ParseOutcome::Version);
    const flash::FlashCommandLine listing = flash::ParseFlashOptions({"--list-ports"});
    EXPECT_EQ(listing.outcome, tools::ParseOutcome::Run) << "--list-ports needs no target either";
    EXPECT_TRUE(listing.options.listPorts);
    const flash::FlashCommandLine late = flash::ParseFlashOptions({"fw.bin", "-j", "2", "--tcp", "127.0.0.1:1", "-V"});
    EXPECT_EQ(late.outcome, tools::ParseOutcome::Version) << late.error;
    const flash::FlashCommandLine jobs = flash::ParseFlashOptions({"fw.bin", "-j", "2", "--tcp", "127.0.0.1:1"});
    EXPECT_EQ(jobs.outcome, tools::ParseOutcome::Run) << jobs.error;
    EXPECT_EQ(jobs.options.jobs, 2);
    for (const auto& [args, named] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--connect-timeout", "2147483648"}, "--connect-timeout"},
             {{"--serial", "COM1", "fw.bin", "--receive-timeout"}, "--receive-timeout"},
             {{"--tcp", "127.0.0.1:1", "--jobs", "0", "fw.bin"}, "--jobs"},
             {{"--tcp", "127.0.0.1:1", "--serial", "COM1", "--serial", "com1", "fw.bin"}, "com1"},
             {{"--tcp", "127.0.0.1:1"}, "file"},
             // A bad port is named as the port, not as the address.
             {{"--tcp", "127.0.0.1:0", "fw.bin"}, "the port '0'"},
             {{"--tcp", "127.0.0.1:70000", "fw.bin"}, "the port '70000'"},
             {{"--tcp", "127.0.0.1:-5", "fw.bin"}, "the port '-5'"},
             {{"--tcp", "127.0.0.1.5:1", "fw.bin"}, "'127.0.0.1.5' in"},
             // After the image, an option is still read as one.
             {{"--tcp", "127.0.0.1:1", "fw.bin", "--frobnicate"}, "--frobnicate"},
             {{"--tcp", "127.0.0.1:1", "--report", "r", "--report", "r", "fw.bin"}, "only one report"},
             {{"--tcp", "127.0.0.1:1", "--canary", "0", "fw.bin"}, "--canary"},
             {{"--tcp", "127.0.0.1:1", "--max-failures", "0", "fw.bin"}, "--max-failures"},
             {{"--tcp", "127.0.0.1:1", "--max-failures", "101%", "fw.bin"}, "--max-failures"},
             {{"--tcp", "127.0.0.1:1", "--max-failures", "%", "fw.bin"}, "--max-failures"},
             {{"--tcp", "127.0.0.1:1", "--max-failures", "5%%", "fw.bin"}, "--max-failures"},
             {{"--tcp", "127.0.0.1:1", "--resume", "no-such-report", "fw.bin"}, "--resume"},
             // A check loads nothing: an image or a rollout option is a mistake.
             {{"--check", "--tcp", "127.0.0.1:1", "fw.bin"}, "give no firmware file"},
             {{"--check", "--tcp", "127.0.0.1:1", "--canary", "1"}, "--check loads nothing"},
             {{"--check", "--tcp", "127.0.0.1:1", "--retries", "1"}, "--check loads nothing"}}) {
        const flash::FlashCommandLine line = flash::ParseFlashOptions(args);
        EXPECT_EQ(line.outcome, tools::ParseOutcome::UsageError) << named;
        EXPECT_NE(line.error.find(named), std::string::npos) << line.error;
    }
}

TEST(ToolCommandLines, HelpAndVersionPrintOnStandardOutputAndExitZero) {
    const std::string flashVersion = std::string("vornic-flash ") + VORNIC_VERSION + "\n";
    const std::string simVersion = std::string("vornic-controller-sim ") + VORNIC_VERSION + "\n";
    for (const auto& [argv, expected] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{VORNIC_FLASH_PATH, "--version"}, flashVersion},
             {{VORNIC_FLASH_PATH, "--tcp", "127.0.0.1:1", "--version", "fw.bin"}, flashVersion},
             {{VORNIC_FLASH_PATH, "-V"}, flashVersion},
             {{VORNIC_FLASH_PATH, "--help"}, flash::FlashUsageText()},
             {{VORNIC_FLASH_PATH, "-h", "--tcp", "127.0.0.1:1"}, flash::FlashUsageText()},
             {{VORNIC_SIM_PATH, "--port", "0", "--version"}, simVersion},
             {{VORNIC_SIM_PATH, "--port", "0", "-h"}, sim::HelpText()}}) {
        Subprocess program(argv);
        EXPECT_EQ(program.Wait(kStartMs), 0) << argv.back();
        EXPECT_EQ(program.Stdout(), expected) << argv.back();
        EXPECT_EQ(program.Stderr(), "") << argv.back();
    }
    EXPECT_NE(flashVersion.find_first_of("0123456789"), std::string::npos);
}

TEST(SimulatorCommand, TerminationPrintsTheSummaryAndUsageErrorsExitTwo) {
    Subprocess sim(Sim({}));
    ASSERT_FALSE(StartSimulator(sim).empty());
    sim.Terminate();
    EXPECT_EQ(sim.Wait(kStartMs), 1);
    EXPECT_NE(sim.Stdout().find("summary: frames=0 bad=0 images=0 complete=no sessions=0\n"), std::string::npos);

    Subprocess bad(Sim({"--fault-reply", "2"}));
    EXPECT_EQ(bad.Wait(kStartMs), 2);
    EXPECT_NE(bad.Stderr().find("BYTE@FRAME"), std::string::npos);
}

TEST(FlashPortTable, ColumnsLineUpAndALineWithNothingBehindItSaysNo) {
    ComPortEntry builtIn;
    builtIn.number = 1;
    builtIn.device = builtIn.node = "/dev/ttyS0";
    builtIn.description = "Built-in serial port";
    builtIn.present = true;
    ComPortEntry gone;
    gone.number = 12;
    gone.device = "/dev/serial/by-id/usb-X-if00";
    gone.source = ComPortSource::PortsLine;
    EXPECT_EQ(flash::PortTableText({builtIn, gone}),
              "PORT   DEVICE                        STABLE PATH  DESCRIPTION           PRESENT\n"
              "COM1   /dev/ttyS0                    -            Built-in serial port  yes\n"
              "COM12  /dev/serial/by-id/usb-X-if00  -            -                     no\n");
    EXPECT_EQ(flash::PortTableText({}), "No serial ports found.\n");

    // Only the names --serial takes are listed; --json gives the same, one
    // object a line.
    ComPortEntry beyond = gone;
    beyond.number = 256;
    const auto choices = flash::SerialChoices({builtIn, gone, beyond});
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(flash::PortJsonLines(choices),
              "{\"port\":\"COM1\",\"device\":\"/dev/ttyS0\",\"stable_path\":null,\"description\":\"Built-in serial "
              "port\",\"present\":true}\n"
              "{\"port\":\"COM12\",\"device\":\"/dev/serial/by-id/usb-X-if00\",\"stable_path\":null,\"description\":"
              "null,\"present\":false}\n");
}
