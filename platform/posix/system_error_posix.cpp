#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace platform {

int LastError() { return errno; }
void SetLastError(int code) { errno = code; }

std::string SystemErrorText(int code) {
    if (code == 0) return {};
    char buffer[256];
    // The GNU strerror_r returns a pointer that may or may not be `buffer`.
    const char* text = ::strerror_r(code, buffer, sizeof buffer);
    if (text == nullptr || *text == '\0') return {};
    return std::string(text) + "\n";
}

int SystemErrorCode(KnownError error) {
    switch (error) {
    case KnownError::AccessDenied: return EACCES;
    case KnownError::DiskFull: return ENOSPC;
    case KnownError::Busy: return EBUSY;
    case KnownError::SharingViolation: return EWOULDBLOCK;
    }
    return 0;
}

}  // namespace platform
