#include "platform/module_path.h"

#include <windows.h>

#include <vector>

#include "platform/win32/wide_text_win32.h"

namespace platform {

namespace {

// Either separator ends a folder: the system gives backslashes, a path put
// together by hand may hold slashes.
std::size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

}  // namespace

std::string ExecutablePath() {
    // A path may be longer than MAX_PATH; the buffer grows until it fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return Narrow(std::wstring_view(buffer.data(), n));
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    const auto separator = LastSeparator(path);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string ExecutableTitle() {
    std::string name = ExecutablePath();
    const auto separator = LastSeparator(name);
    if (separator != std::string::npos) name.erase(0, separator + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

}  // namespace platform
