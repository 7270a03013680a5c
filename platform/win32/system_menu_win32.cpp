#include "platform/system_menu.h"

#include <windows.h>

#include "platform/win32/wide_text_win32.h"

namespace platform {

bool AppendSystemMenuItem(std::uintptr_t window, unsigned command, const std::string& text) {
    // A window without WS_SYSMENU has no system menu: GetSystemMenu gives NULL.
    HMENU menu = ::GetSystemMenu(reinterpret_cast<HWND>(window), FALSE);
    if (menu == nullptr) return false;
    const std::wstring item = Widen(text);
    return ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr) != 0 &&
           ::AppendMenuW(menu, MF_STRING, command, item.c_str()) != 0;
}

std::optional<SystemCommand> SystemCommandOf(std::string_view eventType, const void* message) {
    // Qt hands a window's messages over as a MSG under this name.
    if (eventType != "windows_generic_MSG" || message == nullptr) return std::nullopt;
    const MSG& msg = *static_cast<const MSG*>(message);
    if (msg.message != WM_SYSCOMMAND) return std::nullopt;
    return SystemCommand{static_cast<unsigned>(msg.wParam), static_cast<long>(msg.lParam)};
}

}  // namespace platform
