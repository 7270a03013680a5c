#include "support/open_handles.h"

#include <windows.h>

namespace support {

int CountOpenHandles() {
    // A running process always holds handles: a count of none is a system
    // that does not keep count.
    DWORD count = 0;
    if (!::GetProcessHandleCount(::GetCurrentProcess(), &count) || count == 0) return -1;
    return static_cast<int>(count);
}

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace support
