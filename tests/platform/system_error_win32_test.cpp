// The Win32 codes as the thread's last error, and their texts.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/system_error.h"

TEST(SystemError, LastErrorIsTheThreadsWin32CodeAndItsTextEndsInCrLf) {
    platform::SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(platform::LastError(), static_cast<int>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    const std::string text = platform::SystemErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(platform::SystemErrorText(0), "");
}
