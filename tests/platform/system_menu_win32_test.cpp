// The window's system menu on Windows: the About item appended to a real
// window's menu, and the command it sends read back from a window message.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/system_menu.h"
#include "support/open_handles.h"

namespace {

// "关于(&A)...": the item's text must reach the menu as UTF-16.
const std::string kAbout = "\xE5\x85\xB3\xE4\xBA\x8E(&A)...";

HWND CreateTopLevel(DWORD style) {
    return ::CreateWindowExW(0, L"STATIC", L"menu test", style, 0, 0, 100, 100, nullptr, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
}

const char kNoDisplay[] = "Wine makes no window without an X display (run under Xvfb to see it)";

TEST(SystemMenu, AboutItemFollowsASeparatorAtTheEndWithItsCommandAndText) {
    HWND window = CreateTopLevel(WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU);
    if (window == nullptr && support::RunningUnderWine()) GTEST_SKIP() << kNoDisplay;
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(platform::AppendSystemMenuItem(reinterpret_cast<std::uintptr_t>(window), 0x10, kAbout));

    HMENU menu = ::GetSystemMenu(window, FALSE);
    const int count = ::GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(::GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
    EXPECT_EQ(::GetMenuItemID(menu, count - 1), 0x10u);
    wchar_t text[32] = {};
    ::GetMenuStringW(menu, static_cast<UINT>(count - 1), text, 32, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), L"\u5173\u4E8E(&A)...");
    ::DestroyWindow(window);
}

TEST(SystemMenu, WindowWithoutOneIsRefused) {
    HWND window = CreateTopLevel(WS_POPUP);
    if (window == nullptr && support::RunningUnderWine()) GTEST_SKIP() << kNoDisplay;
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(platform::AppendSystemMenuItem(reinterpret_cast<std::uintptr_t>(window), 0x10, kAbout));
    ::DestroyWindow(window);
}

TEST(SystemMenu, CommandIsReadOnlyFromASystemCommandMessage) {
    MSG message{};
    message.message = WM_SYSCOMMAND;
    message.wParam = 0x10 | 0x2;  // the low four bits are the system's
    message.lParam = MAKELPARAM(12, 34);
    const auto command = platform::SystemCommandOf("windows_generic_MSG", &message);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->id, 0x12u);
    EXPECT_EQ(command->param, MAKELPARAM(12, 34));

    EXPECT_FALSE(platform::SystemCommandOf("xcb_generic_event_t", &message));
    message.message = WM_COMMAND;
    EXPECT_FALSE(platform::SystemCommandOf("windows_generic_MSG", &message));
}

}  // namespace
