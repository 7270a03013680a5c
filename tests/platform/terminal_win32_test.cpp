// The console preparation on Windows. The console's code page belongs to every program in it, the user's cmd.exe
// too: a program that prepared its output puts the code page back however it
// ends.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/child_process.h"
#include "platform/module_path.h"
#include "platform/terminal.h"
#include "platform/user_folders.h"
#include "support/open_handles.h"
#include "support/subprocess.h"

namespace {

// The code page a batch file of the user's would be written in.
constexpr UINT kLocalCodePage = 437;

// A console shared with the children, as a cmd.exe shares its own. CTest
// starts the test without one: it gets a console of its own then, while its
// output stays on CTest's pipes.
class ConsoleCodePage : public ::testing::Test {
protected:
    void SetUp() override {
        platform::RestoreStandardOutput();  // from an earlier test of this process
        if (::GetConsoleOutputCP() == 0) {
            const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE), err = ::GetStdHandle(STD_ERROR_HANDLE);
            m_allocated = ::AllocConsole() != 0;
            ::SetStdHandle(STD_OUTPUT_HANDLE, out);
            ::SetStdHandle(STD_ERROR_HANDLE, err);
        }
        m_original = ::GetConsoleOutputCP();
        if (m_original == 0 && support::RunningUnderWine())
            GTEST_SKIP() << "Wine gives a program without a terminal a console that has no code page and "
                            "refuses AllocConsole";
        ASSERT_NE(m_original, 0u) << "no console";
        ASSERT_TRUE(::SetConsoleOutputCP(kLocalCodePage));
    }
    void TearDown() override {
        if (m_original != 0) ::SetConsoleOutputCP(m_original);
        if (m_allocated) ::FreeConsole();
    }

    UINT m_original = 0;
    bool m_allocated = false;
};

// Signalled by the parent when a prepared child may end.
std::wstring EndEventName(int child) { return L"vornic-test-end-" + std::to_wstring(child); }

}  // namespace

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

// Started by the test below, never on its own: prepares, says so, and ends as
// VORNIC_CHILD_END asks once its parent lets it (or a Break ends it first).
TEST(DISABLED_PreparedChild, EndsAsItsParentAsks) {
    const std::string how = platform::EnvironmentValue("VORNIC_CHILD_END");
    const HANDLE end = ::CreateEventW(nullptr, TRUE, FALSE, EndEventName(platform::ProcessId()).c_str());
    ASSERT_NE(end, nullptr);
    platform::PrepareStandardOutput();
    std::printf("prepared\n");
    std::fflush(stdout);
    ::WaitForSingleObject(end, 60000);
    if (how == "exit-at-once") platform::ExitAtOnce(0);
}

TEST_F(ConsoleCodePage, PreparingSwitchesToUtf8AndRestoringPutsTheUsersBack) {
    platform::PrepareStandardOutput();
    EXPECT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    platform::RestoreStandardOutput();
    EXPECT_EQ(::GetConsoleOutputCP(), kLocalCodePage);
}

TEST_F(ConsoleCodePage, AChildPutsItBackWhenItReturnsEndsAtOnceOrIsBrokenOff) {
    for (const std::string how : {"return", "exit-at-once", "break"}) {
        SCOPED_TRACE(how);
        support::SpawnOptions options;
        options.environment = {"VORNIC_CHILD_END=" + how};
        support::Subprocess child({platform::ExecutablePath(), "--gtest_also_run_disabled_tests",
                                   "--gtest_filter=DISABLED_PreparedChild.*"},
                                  options);
        ASSERT_TRUE(child.Started());
        for (auto line = child.ReadLine(60000); line && *line != "prepared";) line = child.ReadLine(60000);
        ASSERT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8)) << "the prepared child shares this console";
        if (how == "break") {
            // The child has a process group of its own: only it gets the Break.
            if (!::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(child.Id())) &&
                support::RunningUnderWine())
                GTEST_SKIP() << "Wine's GenerateConsoleCtrlEvent does not reach a child's process group";
        } else {
            const HANDLE end = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, EndEventName(child.Id()).c_str());
            ASSERT_NE(end, nullptr);
            ::SetEvent(end);
            ::CloseHandle(end);
        }
        EXPECT_TRUE(child.Wait(60000).has_value());
        EXPECT_EQ(::GetConsoleOutputCP(), kLocalCodePage);
    }
}
