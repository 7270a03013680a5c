#include "platform/module_path.h"

namespace platform {

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    const auto separator = LastPathSeparator(path);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string ExecutableTitle() {
    std::string name = ExecutablePath();
    const auto separator = LastPathSeparator(name);
    if (separator != std::string::npos) name.erase(0, separator + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

}  // namespace platform
