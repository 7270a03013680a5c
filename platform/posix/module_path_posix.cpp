#include "platform/module_path.h"

#include <limits.h>
#include <unistd.h>

namespace platform {

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::size_t LastPathSeparator(std::string_view path) { return path.rfind('/'); }

}  // namespace platform
