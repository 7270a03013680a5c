// The console preparation on Windows.

#include <gtest/gtest.h>

#include <windows.h>

#include "platform/terminal.h"

// The live view redraws only a console; CTest reads the output through a
// pipe, which gets plain lines even after the console preparation.
TEST(TerminalWin32, APipeIsNoTerminalEvenWhenPrepared) {
    DWORD mode = 0;
    ASSERT_FALSE(::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) << "run it through CTest";
    platform::PrepareStandardOutput();
    EXPECT_FALSE(platform::StandardOutputIsTerminal());
    EXPECT_EQ(platform::StandardOutputColumns(), 0);
    EXPECT_EQ(platform::StandardOutputRows(), 0);
}
