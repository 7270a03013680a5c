// A child that could not hear a Break passed on is not started at all.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/module_path.h"
#include "platform/system_error.h"
#include "platform/win32/child_faults_win32.h"
#include "support/open_handles.h"
#include "support/subprocess.h"

TEST(ChildBreakEvent, AChildWithoutItsBreakEventIsEndedAndTheStartFails_InjectedAccessDenied) {
    const std::vector<std::string> argv = {platform::ExecutablePath(), "--gtest_list_tests"};
    const int before = support::CountOpenHandles();
    platform::FailNextBreakEvent(ERROR_ACCESS_DENIED);
    {
        platform::ChildProcess child;
        std::string error;
        EXPECT_FALSE(child.Start(argv, &error));
        EXPECT_EQ(error, platform::StepErrorText("CreateEvent", ERROR_ACCESS_DENIED));
        EXPECT_EQ(child.Id(), -1);
    }
    // The process, its thread and its pipes are closed with the failed start.
    EXPECT_EQ(support::CountOpenHandles(), before);
    // The seam fails one start only.
    support::Subprocess next(argv);
    ASSERT_TRUE(next.Started());
    EXPECT_EQ(next.Wait(60000), 0);
}
