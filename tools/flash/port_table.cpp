#include "tools/flash/port_table.h"

#include <algorithm>
#include <array>

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

}  // namespace flash
