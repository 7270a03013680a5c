#include "platform/com_port_paths.h"

#include <mutex>
#include <utility>

#include "platform/serial_device.h"

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

std::string ComDevicePath(std::uint16_t port) {
    {
        std::lock_guard<std::mutex> lock(g_tableLock);
        const auto it = Table().find(port);
        if (it != Table().end()) return it->second;
        const auto adapter = AdapterTable().find(port);
        if (adapter != AdapterTable().end()) return adapter->second;
    }
    return DefaultComDevicePath(port);
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
