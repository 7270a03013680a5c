#include "platform/system_menu.h"

namespace platform {

// The window manager owns the window menu and offers no way to add to it.
bool AppendSystemMenuItem(std::uintptr_t, unsigned, const std::string&) { return false; }

std::optional<SystemCommand> SystemCommandOf(std::string_view, const void*) { return std::nullopt; }

}  // namespace platform
