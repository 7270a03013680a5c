#pragma once
// vornic-flash --list-ports: the COM numbers as the window gives them, one
// line each, in columns.

#include <string>
#include <vector>

#include "comm/com_port_numbering.h"

namespace flash {

// A header line and one line per entry: COM name, device, stable path (or
// "-"), description (or "-") and "yes" or "no" for present. "No serial ports
// found." when the list is empty.
std::string PortTableText(const std::vector<ComPortEntry>& entries);

// The entries whose COM name --serial takes, in order.
std::vector<ComPortEntry> SerialChoices(const std::vector<ComPortEntry>& entries);

// One JSON object a line per entry: "port", "device", "stable_path",
// "description" (null when unknown) and "present".
std::string PortJsonLines(const std::vector<ComPortEntry>& entries);

}  // namespace flash
