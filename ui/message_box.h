#pragma once
// The tool's one message box: modal, an OK button, captioned with the
// application's title (the executable's name without its extension), owned
// by the active window. Callable from any thread: off the user-interface
// thread it is shown there and the caller waits for the user.

#include <functional>
#include <string>

inline constexpr unsigned MB_OK = 0x00000000u;
inline constexpr unsigned MB_ICONHAND = 0x00000010u;
inline constexpr unsigned MB_ICONQUESTION = 0x00000020u;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x00000030u;
inline constexpr unsigned MB_ICONINFORMATION = 0x00000040u;
inline constexpr unsigned MB_ICONMASK = 0x000000F0u;

// A box that names no icon gets the exclamation icon. Returns IDOK.
int AfxMessageBox(const std::string& text, unsigned type = MB_OK);

// Test seam: while a hook is set, it receives every box (on the user-
// interface thread, with the icon already resolved) instead of the user, and
// its result is returned. An empty hook shows real boxes again.
using MessageBoxHook = std::function<int(const std::string& text, unsigned type)>;
void SetMessageBoxHook(MessageBoxHook hook);
