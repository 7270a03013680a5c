#include "comm/com_port_name.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "platform/com_port_paths.h"

namespace comm {

std::string ComDeviceName(std::uint16_t port) {
    char name[32];
    std::snprintf(name, sizeof name, port < 10 ? "COM%d" : "\\\\.\\COM%d", port);
    return name;
}

std::uint16_t ComNumberFromName(const std::string& name) {
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0) rest.erase(0, 4);
    if (rest.size() < 4) return 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(rest[i])) != "COM"[i]) return 0;
    }
    std::uint16_t number = 0;
    const char* const end = rest.data() + rest.size();
    const auto [stop, failure] = std::from_chars(rest.data() + 3, end, number);
    return failure == std::errc{} && stop == end ? number : 0;
}

std::string ResolveComDevice(const std::string& name) {
    const std::uint16_t port = ComNumberFromName(name);
    if (port == 0) return {};
    return platform::ComDevicePath(port);
}

}  // namespace comm
