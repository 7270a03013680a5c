// UTF-8 inside the program, UTF-16 at the system calls.

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/wide_text_win32.h"
#include "platform_test_support.h"

using platform_tests::kFirmware;
using platform_tests::kSettings;

TEST(WideText, ConvertsChineseBothWaysAndReplacesBrokenBytes) {
    EXPECT_EQ(platform::Widen(kFirmware), std::wstring(L"\x56FA\x4EF6"));
    EXPECT_EQ(platform::Narrow(L"\x56FA\x4EF6"), kFirmware);
    EXPECT_EQ(platform::Narrow(platform::Widen("C:\\a\\" + kSettings + "\\Config.ini")),
              "C:\\a\\" + kSettings + "\\Config.ini");
    EXPECT_EQ(platform::Widen("a\xFF" "b"), std::wstring(L"a\xFFFD" L"b"));
    EXPECT_EQ(platform::Widen(""), std::wstring());
    EXPECT_EQ(platform::Narrow(L""), std::string());
}
