#pragma once
// The window's system menu (Alt+Space, or the icon in the caption), which the
// About item extends. Linux has no system menu to extend: there the window
// offers the item in its context menu instead.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Appends a separator and then an item with `text` and `command` to the
// system menu of the top-level window whose native handle is `window`.
// False when there is no system menu to extend or the system refused.
bool AppendSystemMenuItem(std::uintptr_t window, unsigned command, const std::string& text);

struct SystemCommand {
    unsigned id;  // as the system gives it: its low four bits are the system's own
    long param;
};

// The system command that a native window message carries, with the message
// handed over as the toolkit names and passes it; nullopt for any other
// message.
std::optional<SystemCommand> SystemCommandOf(std::string_view eventType, const void* message);

}  // namespace platform
