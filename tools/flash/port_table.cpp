#include "tools/flash/port_table.h"

#include <algorithm>
#include <array>

#include <nlohmann/json.hpp>

#include "tools/flash/flash_options.h"

namespace flash {

namespace {

constexpr std::size_t kColumns = 5;
using Row = std::array<std::string, kColumns>;

std::string OrDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

}  // namespace

std::string PortTableText(const std::vector<ComPortEntry>& entries) {
    if (entries.empty()) return "No serial ports found.\n";
    std::vector<Row> rows = {{"PORT", "DEVICE", "STABLE PATH", "DESCRIPTION", "PRESENT"}};
    for (const ComPortEntry& entry : entries) {
        rows.push_back({"COM" + std::to_string(entry.number), entry.present ? entry.node : entry.device,
                        OrDash(entry.stablePath), OrDash(entry.description), entry.present ? "yes" : "no"});
    }
    std::array<std::size_t, kColumns> widths{};
    for (const Row& row : rows) {
        for (std::size_t c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    std::string text;
    for (const Row& row : rows) {
        for (std::size_t c = 0; c + 1 < kColumns; ++c) text += row[c] + std::string(widths[c] - row[c].size() + 2, ' ');
        text += row[kColumns - 1] + "\n";
    }
    return text;
}

std::vector<ComPortEntry> SerialChoices(const std::vector<ComPortEntry>& entries) {
    std::vector<ComPortEntry> choices;
    for (const ComPortEntry& entry : entries)
        if (entry.number >= 1 && entry.number <= kHighestComPort) choices.push_back(entry);
    return choices;
}

std::string PortJsonLines(const std::vector<ComPortEntry>& entries) {
    auto orNull = [](const std::string& text) { return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text); };
    std::string lines;
    for (const ComPortEntry& entry : entries) {
        nlohmann::ordered_json port;
        port["port"] = "COM" + std::to_string(entry.number);
        port["device"] = entry.present ? entry.node : entry.device;
        port["stable_path"] = orNull(entry.stablePath);
        port["description"] = orNull(entry.description);
        port["present"] = entry.present;
        lines += port.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    }
    return lines;
}

}  // namespace flash
