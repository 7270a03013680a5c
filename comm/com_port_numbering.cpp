#include "comm/com_port_numbering.h"

#include <algorithm>

#include "platform/com_port_paths.h"

namespace {

bool Names(const platform::SerialPortInfo& port, const std::string& path) {
    return port.device == path || std::find(port.links.begin(), port.links.end(), path) != port.links.end();
}

ComPortEntry EntryFor(std::uint16_t number, ComPortSource source, const platform::SerialPortInfo& port) {
    ComPortEntry entry;
    entry.number = number;
    entry.source = source;
    entry.node = port.device;
    entry.stablePath = port.stablePath;
    entry.description = port.description;
    entry.present = true;
    entry.device = source == ComPortSource::Adapter && !port.stablePath.empty() ? port.stablePath : port.device;
    return entry;
}

// Adapters are ordered by the name that stays with the device.
const std::string& OrderKey(const platform::SerialPortInfo& port) {
    return port.stablePath.empty() ? port.device : port.stablePath;
}

}  // namespace

std::vector<ComPortEntry> NumberComPorts(const std::map<std::uint16_t, std::string>& portsLines,
                                         const std::vector<platform::SerialPortInfo>& ports) {
    std::vector<ComPortEntry> entries;
    std::vector<bool> taken(kHighestComNumber + 1u, false);
    taken[0] = true;
    // The present ports still without a number.
    std::vector<const platform::SerialPortInfo*> waiting;
    for (const platform::SerialPortInfo& port : ports) {
        if (port.present) waiting.push_back(&port);
    }
    auto take = [&](std::uint16_t number, ComPortSource source, const platform::SerialPortInfo* port) {
        entries.push_back(EntryFor(number, source, *port));
        taken[number] = true;
        waiting.erase(std::find(waiting.begin(), waiting.end(), port));
    };

    for (const auto& [number, path] : portsLines) {
        if (number == 0 || number > kHighestComNumber) continue;
        // Captured by a name of its own: clang 14 cannot capture a structured binding.
        const auto match =
            std::find_if(waiting.begin(), waiting.end(),
                         [&wanted = path](const platform::SerialPortInfo* port) { return Names(*port, wanted); });
        if (match != waiting.end()) {
            take(number, ComPortSource::PortsLine, *match);
            entries.back().device = path;
        } else {
            ComPortEntry absent;
            absent.number = number;
            absent.device = path;
            absent.source = ComPortSource::PortsLine;
            entries.push_back(absent);
            taken[number] = true;
        }
    }

    std::vector<const platform::SerialPortInfo*> builtIn;
    std::copy_if(waiting.begin(), waiting.end(), std::back_inserter(builtIn),
                 [](const platform::SerialPortInfo* port) { return port->kind == platform::SerialPortKind::BuiltIn; });
    for (const platform::SerialPortInfo* port : builtIn) {
        const int number = port->builtInIndex + 1;
        if (number >= 1 && number <= kHighestComNumber && !taken[static_cast<std::size_t>(number)])
            take(static_cast<std::uint16_t>(number), ComPortSource::BuiltIn, port);
    }

    std::vector<const platform::SerialPortInfo*> adapters = waiting;
    std::sort(adapters.begin(), adapters.end(), [](const platform::SerialPortInfo* a, const platform::SerialPortInfo* b) {
        return OrderKey(*a) < OrderKey(*b);
    });
    std::uint16_t next = 1;
    for (const platform::SerialPortInfo* port : adapters) {
        while (next <= kHighestComNumber && taken[next]) ++next;
        if (next > kHighestComNumber) break;
        take(next, ComPortSource::Adapter, port);
    }

    std::sort(entries.begin(), entries.end(),
              [](const ComPortEntry& a, const ComPortEntry& b) { return a.number < b.number; });
    return entries;
}

std::vector<ComPortEntry> RefreshComPorts() {
    std::vector<ComPortEntry> entries = NumberComPorts(platform::ComPortPaths(), platform::ListSerialPorts());
    std::map<std::uint16_t, std::string> adapters;
    for (const ComPortEntry& entry : entries) {
        if (entry.source == ComPortSource::Adapter) adapters[entry.number] = entry.device;
    }
    platform::SetAdapterComPorts(std::move(adapters));
    return entries;
}

const ComPortEntry* FindComPort(const std::vector<ComPortEntry>& entries, std::uint16_t number) {
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [&](const ComPortEntry& entry) { return entry.number == number; });
    return it == entries.end() ? nullptr : &*it;
}

std::string PortsLineToKeep(const ComPortEntry& entry) {
    return entry.source == ComPortSource::Adapter && entry.present ? entry.stablePath : std::string();
}
