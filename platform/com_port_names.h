#pragma once
// COM port names and the serial devices they stand for. A port is named as
// the tool has always named it ("COM3", "\\.\COM12"); the name resolves to
// /dev/ttyS<n-1> unless the override table maps that number elsewhere (the
// [Ports] section of Config.ini fills it, tests set it directly) or a serial
// adapter has been given that number (the adapter table, refilled each time
// the ports are listed).

#include <cstdint>
#include <map>
#include <string>

namespace platform {

// "COM%d" below 10, "\\.\COM%d" from 10 on.
std::string ComDeviceName(std::uint16_t port);

// The COM number in "COMn" or "\\.\COMn" (case-insensitive), 0 when the text
// is no COM name.
std::uint16_t ComNumberFromName(const std::string& name);

// The device path for a COM name; an empty text when the name is no COM name.
std::string ResolveComDevice(const std::string& name);

// The override table. Safe to use from any thread.
void SetComPortPath(std::uint16_t port, const std::string& path);
void ClearComPortPaths();
std::map<std::uint16_t, std::string> ComPortPaths();

// The adapter table, asked after the override table. Replaced as a whole.
void SetAdapterComPorts(std::map<std::uint16_t, std::string> paths);

}  // namespace platform
