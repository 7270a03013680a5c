#pragma once
// Texts inside the program are UTF-8; the Windows calls take and give UTF-16.
// The conversion happens only here, right at the "W" calls. A text that is
// not valid UTF-8 (or UTF-16) has each bad sequence replaced by U+FFFD, so a
// broken name still reaches the system and fails there with its own error.

#include <string>
#include <string_view>

namespace platform {

std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

}  // namespace platform
