#include "platform/system_error.h"

#include <windows.h>

#include "platform/win32/wide_text_win32.h"

namespace platform {

int LastError() { return static_cast<int>(::GetLastError()); }
void SetLastError(int code) { ::SetLastError(static_cast<DWORD>(code)); }

std::string SystemErrorText(int code) {
    if (code == 0) return {};
    wchar_t* text = nullptr;
    // The system's own text, in the user's language, with the line end
    // (CR LF) that FormatMessage gives it.
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return {};
    std::string result = Narrow(std::wstring_view(text, length));
    ::LocalFree(text);
    return result;
}

int SystemErrorCode(KnownError error) {
    switch (error) {
    case KnownError::AccessDenied: return ERROR_ACCESS_DENIED;
    case KnownError::DiskFull: return ERROR_DISK_FULL;
    case KnownError::Busy: return ERROR_BUSY;
    case KnownError::SharingViolation: return ERROR_SHARING_VIOLATION;
    }
    return 0;
}

}  // namespace platform
