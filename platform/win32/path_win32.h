#pragma once
// What ends a folder in a Windows path. Private to platform/.

#include <algorithm>
#include <string_view>

namespace platform {

// Either separator ends a folder: the system gives backslashes, a path put
// together by hand may hold slashes.
inline constexpr std::string_view kSeparators = "\\/";

inline bool IsSeparator(wchar_t c) {
    return c < 0x80 && kSeparators.find(static_cast<char>(c)) != std::string_view::npos;
}

// The first separator at or after `from` in a UTF-16 path; npos when none.
inline std::size_t FindSeparator(std::wstring_view path, std::size_t from) {
    if (from >= path.size()) return std::wstring_view::npos;
    const auto at = std::find_if(path.begin() + static_cast<std::ptrdiff_t>(from), path.end(), IsSeparator);
    return at == path.end() ? std::wstring_view::npos : static_cast<std::size_t>(at - path.begin());
}

}  // namespace platform
