#include "platform/win32/wide_text_win32.h"

#include <windows.h>

#include <climits>

namespace platform {

namespace {

// The Win32 conversions count in int; a text longer than that is cut rather
// than sent with a wrapped length.
int ClampedLength(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

std::wstring Widen(std::string_view text) {
    if (text.empty()) return {};
    const int length = ClampedLength(text.size());
    const int wide = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (wide <= 0) return {};
    std::wstring result(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), wide);
    return result;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = ClampedLength(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string result(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), bytes, nullptr, nullptr);
    return result;
}

}  // namespace platform
