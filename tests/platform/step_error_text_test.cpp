// A failed OS call reads "step: reason" on one line on every OS, whatever line
// end the system's own text has (CR LF on Windows).

#include <gtest/gtest.h>

#include <string>

#include "platform/child_process.h"
#include "platform/system_error.h"
#include "platform/tcp_listener.h"
#include "platform/temp_folder.h"

namespace {

void ExpectStepAndReasonOnOneLine(const std::string& text, const std::string& step) {
    EXPECT_EQ(text.substr(0, step.size() + 2), step + ": ") << text;
    EXPECT_GT(text.size(), step.size() + 2) << "no reason: " << text;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
}

}  // namespace

TEST(StepErrorText, EachFailedCallNamesItsStepAndTheSystemsReasonOnOneLine) {
    std::string error;
    const std::string missing = "vornic-no-such-folder/x-";
    EXPECT_EQ(platform::MakePrivateTempFolder(missing, &error), "");
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    ExpectStepAndReasonOnOneLine(error, error.substr(0, error.find(": ")));

    platform::TcpListener taken;
    ASSERT_TRUE(taken.Listen("127.0.0.1", 0, 1, &error)) << error;
    const std::string where = "127.0.0.1:" + std::to_string(taken.Port());
    platform::TcpListener second;
    EXPECT_FALSE(second.Listen("127.0.0.1", taken.Port(), 1, &error));
    ExpectStepAndReasonOnOneLine(error, "listen on " + where);

    platform::ChildProcess child;
    const std::string program = "vornic-no-such-program";
    EXPECT_FALSE(child.Start({program}, &error));
    ExpectStepAndReasonOnOneLine(error, program);

    // A code the system has no text for still names itself.
    const std::string unknown = platform::StepErrorText("step", 0x2FFFFFFF);
    ExpectStepAndReasonOnOneLine(unknown, "step");
    EXPECT_EQ(unknown.substr(unknown.size() - 10), " 805306367") << unknown;
}

TEST(ListenAddress, OnlyFourDecimalPartsOfAByteWithoutLeadingZerosAreBound) {
    for (const std::string host : {"127.1", "127.0.0.1.", ".127.0.0.1", "127..0.1", "127.0.0.256", "127.0.0.01",
                                   "0127.0.0.1", "127.0.0.-1", " 127.0.0.1", "127.0.0.1 ", "127.0.0.0x1",
                                   "localhost", ""}) {
        platform::TcpListener listener;
        std::string error;
        EXPECT_FALSE(listener.Listen(host, 0, 1, &error)) << "'" << host << "'";
        EXPECT_EQ(error, "bad listen address " + host);
    }
    platform::TcpListener listener;
    std::string error;
    ASSERT_TRUE(listener.Reserve("127.0.0.10", 0, &error)) << error;
    EXPECT_NE(listener.Port(), 0);
}
