#include <gtest/gtest.h>

#include "tools/controller_sim/sim_options.h"

using sim::Options;

namespace {

bool Parse(std::vector<std::string> args, Options* options, std::string* error = nullptr) {
    std::string ignored;
    return sim::ParseOptions(args, options, error ? error : &ignored);
}

}  // namespace

TEST(SimOptions, ReplyLengthDefaultsServeEachTransport) {
    Options o;
    ASSERT_TRUE(Parse({}, &o));
    EXPECT_EQ(o.transport, sim::Transport::Tcp);
    EXPECT_EQ(o.session.replyLength, 24u);
    EXPECT_EQ(o.port, 10001);
    ASSERT_TRUE(Parse({"--serial"}, &o));
    EXPECT_EQ(o.session.replyLength, 8u);
    ASSERT_TRUE(Parse({"--serial", "--reply-len", "1"}, &o));
    EXPECT_EQ(o.session.replyLength, 1u);
}

TEST(SimOptions, FaultReplyTakesAByteAsNumberOrCharacter) {
    Options o;
    ASSERT_TRUE(Parse({"--fault-reply", "0x02@5", "--fault-reply", "A@6", "--fault-reply", "0@7",
                       "--fault-silent", "8", "--fault-close", "511"},
                      &o));
    EXPECT_EQ(o.session.faults.at(5).byte, 0x02);
    EXPECT_EQ(o.session.faults.at(6).byte, 'A');
    EXPECT_EQ(o.session.faults.at(7).byte, 0x00);
    EXPECT_EQ(o.session.faults.at(8).kind, sim::FaultKind::Silent);
    EXPECT_EQ(o.session.faults.at(511).kind, sim::FaultKind::Close);
}

TEST(SimOptions, MalformedOrConflictingOptionsAreUsageErrors) {
    Options o;
    std::string error;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--fault-reply", "0x02"},
             {"--fault-reply", "0x100@1"},
             {"--fault-reply", "AB@1"},
             {"--fault-silent", "512"},
             {"--fault-close", "-1"},
             {"--fault-silent", "3", "--fault-close", "3"},
             {"--port", "65536"},
             {"--port"},
             {"--reply-len", "0"},
             {"--reply-len", "65"},
             {"--host", "192.168.0.120"},
             {"--host", "localhost"},
             {"--mute", "--fault-close", "2"},
             {"--sessions", "0"},
             {"--frobnicate"},
             {"--verbose", "extra"},
             {"--image"},
             {"--delay-ms", "600001"},
             {"--drip-ms", "+5"},
             {"--port", "0x10000"},
             {"--port", "1O"},
             {"--sessions", "2147483648"},
             {"--reply-fill", "0x"}}) {
        EXPECT_FALSE(Parse(args, &o, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimOptions, OnceIsOneSessionAndHelpIsNoError) {
    Options o;
    ASSERT_TRUE(Parse({"--once", "--host", "127.0.0.2", "--drip"}, &o));
    EXPECT_EQ(o.sessions, 1);
    EXPECT_EQ(o.host, "127.0.0.2");
    EXPECT_EQ(o.dripMs, sim::kDefaultDripMs);
    ASSERT_TRUE(Parse({"--help"}, &o));
    EXPECT_TRUE(o.help);
    ASSERT_TRUE(Parse({"--version"}, &o));
    EXPECT_TRUE(o.version);
    EXPECT_FALSE(o.help);
    EXPECT_NE(sim::HelpText().find("--fault-reply BYTE@N"), std::string::npos);
}

TEST(SimOptions, NumbersMayBeHexAndTheLaterOptionWins) {
    Options o;
    ASSERT_TRUE(Parse({"--port", "0x2711", "--sessions", "5", "--once", "--drip-ms", "7", "--drip", "-v"}, &o));
    EXPECT_EQ(o.port, 10001);
    EXPECT_EQ(o.sessions, 1);
    EXPECT_EQ(o.dripMs, 7);
    EXPECT_TRUE(o.verbose);
    ASSERT_TRUE(Parse({"--once", "--sessions", "5", "--serial-device", "/dev/null", "--serial", "--reply-fill", "010"}, &o));
    EXPECT_EQ(o.sessions, 5);
    EXPECT_EQ(o.transport, sim::Transport::SerialPty);
    EXPECT_EQ(o.session.replyFill, 10);
}

TEST(SimOptions, CountGivesEveryControllerTheCommonOptionsAndEachItsOwn) {
    std::vector<Options> c;
    std::string error;
    ASSERT_TRUE(sim::ParseControllers({"--count", "3", "--port", "10001", "--image", "/x/got.bin", "--fault-silent",
                                       "5", "--for", "2", "--fault-close", "7", "--delay-ms", "3", "--faulty-sessions",
                                       "1"},
                                      &c, &error))
        << error;
    ASSERT_EQ(c.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(c[k].port, 10001 + k);
        EXPECT_EQ(c[k].imagePath, "/x/got.bin." + std::to_string(k + 1));
        EXPECT_EQ(c[k].session.faults.size(), k == 1 ? 2u : 1u);
        EXPECT_EQ(c[k].delayMs, k == 1 ? 3 : 0);
        EXPECT_EQ(c[k].session.faultySessions, k == 1 ? 1 : 0);
    }
    ASSERT_TRUE(sim::ParseControllers({"--port", "0", "--count", "2", "--write-targets", "t"}, &c, &error));
    EXPECT_EQ(c[1].port, 0) << "free ports each";
    EXPECT_EQ(c[0].targetsPath, "t");
    ASSERT_TRUE(sim::ParseControllers({"--image", "got.bin"}, &c, &error));
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].imagePath, "got.bin") << "one controller: as before";

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--count", "2", "--for", "3", "--mute"},
             {"--count", "2", "--for"},
             {"--count", "2", "--for", "x"},
             {"--count", "2", "--for", "1", "--count", "3"},
             {"--count", "2", "--for", "2", "--write-targets", "t"},
             {"--count", "2", "--for", "2", "--fault-silent", "512"},
             {"--count", "2", "--serial-device", "/dev/null"},
             {"--count", "257"},
             {"--count", "0"},
             {"--count", "3", "--port", "65534"},
             {"--faulty-sessions", "0"}}) {
        EXPECT_FALSE(sim::ParseControllers(args, &c, &error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}
