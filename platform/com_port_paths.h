#pragma once
// The device each COM number stands for on this machine: the path the
// override table gives it (the [Ports] section of Config.ini fills the table,
// vornic-flash --serial PATH and tests set it directly), else the serial
// adapter given that number (the adapter table, refilled each time the ports
// are listed), otherwise the OS's own device for that number. The names
// "COM3", "\\.\COM12" are comm/'s.
//
// The tables themselves make no OS call, yet they live here: the settings
// fill the override table and the serial port reads both, and platform/ is
// the one layer both reach.

#include <cstdint>
#include <map>
#include <string>

namespace platform {

// The device path of COM `port` (1 is COM1).
std::string ComDevicePath(std::uint16_t port);

// The override table; an empty path removes the port's entry. Safe to use
// from any thread.
void SetComPortPath(std::uint16_t port, const std::string& path);
void ClearComPortPaths();
std::map<std::uint16_t, std::string> ComPortPaths();

// The adapter table, asked after the override table. Replaced as a whole.
void SetAdapterComPorts(std::map<std::uint16_t, std::string> paths);

}  // namespace platform
