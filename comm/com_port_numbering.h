#pragma once
// Which serial port each COM number stands for. The [Ports] lines of
// Config.ini come first; then a built-in port whose hardware is there keeps
// COMn = /dev/ttyS<n-1>; then every other present port (a USB or ACM adapter,
// or a built-in one whose number a line has taken) gets the lowest free
// number, in the order of its stable path, so that the numbers do not depend
// on the order in which adapters were plugged in.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/serial_port_list.h"

inline constexpr std::uint16_t kHighestComNumber = 255;

enum class ComPortSource : std::uint8_t { PortsLine, BuiltIn, Adapter };

struct ComPortEntry {
    std::uint16_t number = 0;
    std::string device;       // what COMn opens: the line's path, the node, or the adapter's stable path
    std::string node;         // the present node behind it ("/dev/ttyUSB0"), empty when absent
    std::string stablePath;   // the present port's by-id path, empty when it has none
    std::string description;  // empty when nothing is present
    ComPortSource source = ComPortSource::Adapter;
    bool present = false;
};

// The numbering rule, from the [Ports] lines (COM number to path) and the
// ports the system lists. One entry per line and per numbered present port,
// by COM number. A line matches a port when its path is the port's node or
// one of its links.
std::vector<ComPortEntry> NumberComPorts(const std::map<std::uint16_t, std::string>& portsLines,
                                         const std::vector<platform::SerialPortInfo>& ports);

// Lists the ports now, numbers them with the override table as the lines,
// and hands the adapters' numbers to the table that COM names resolve
// through, so that a download on COMn reaches the adapter listed as COMn.
std::vector<ComPortEntry> RefreshComPorts();

// The entry of COM `number`, or null.
const ComPortEntry* FindComPort(const std::vector<ComPortEntry>& entries, std::uint16_t number);

// The path a [Ports] line should keep for this entry so that the number
// sticks to the adapter: its stable path, when it got the number by itself.
// Empty when no line is due.
std::string PortsLineToKeep(const ComPortEntry& entry);
