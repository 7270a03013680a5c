#include "platform/com_port_names.h"

#include <cctype>
#include <cstdio>
#include <mutex>

namespace platform {

namespace {
std::mutex g_tableLock;
std::map<std::uint16_t, std::string>& Table() {
    static std::map<std::uint16_t, std::string> table;
    return table;
}
std::map<std::uint16_t, std::string>& AdapterTable() {
    static std::map<std::uint16_t, std::string> table;
    return table;
}
}  // namespace

std::string ComDeviceName(std::uint16_t port) {
    char name[32];
    std::snprintf(name, sizeof name, port < 10 ? "COM%d" : "\\\\.\\COM%d", port);
    return name;
}

std::uint16_t ComNumberFromName(const std::string& name) {
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0) rest.erase(0, 4);
    if (rest.size() < 4) return 0;
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(rest[i])) != "COM"[i]) return 0;
    }
    unsigned long value = 0;
    for (std::size_t i = 3; i < rest.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(rest[i]))) return 0;
        value = value * 10 + static_cast<unsigned long>(rest[i] - '0');
        if (value > 65535) return 0;
    }
    return static_cast<std::uint16_t>(value);
}

std::string ResolveComDevice(const std::string& name) {
    const std::uint16_t port = ComNumberFromName(name);
    if (port == 0) return {};
    {
        std::lock_guard<std::mutex> lock(g_tableLock);
        const auto it = Table().find(port);
        if (it != Table().end()) return it->second;
        const auto adapter = AdapterTable().find(port);
        if (adapter != AdapterTable().end()) return adapter->second;
    }
    return "/dev/ttyS" + std::to_string(port - 1);
}

void SetComPortPath(std::uint16_t port, const std::string& path) {
    std::lock_guard<std::mutex> lock(g_tableLock);
    if (path.empty())
        Table().erase(port);
    else
        Table()[port] = path;
}

void ClearComPortPaths() {
    std::lock_guard<std::mutex> lock(g_tableLock);
    Table().clear();
}

std::map<std::uint16_t, std::string> ComPortPaths() {
    std::lock_guard<std::mutex> lock(g_tableLock);
    return Table();
}

void SetAdapterComPorts(std::map<std::uint16_t, std::string> paths) {
    std::lock_guard<std::mutex> lock(g_tableLock);
    AdapterTable() = std::move(paths);
}

}  // namespace platform
