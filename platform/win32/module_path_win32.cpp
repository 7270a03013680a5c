#include "platform/module_path.h"

#include <windows.h>

#include <vector>

#include "platform/win32/path_win32.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

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

std::size_t LastPathSeparator(std::string_view path) { return path.find_last_of(kSeparators); }

}  // namespace platform
