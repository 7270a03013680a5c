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

}  // namespace platform
