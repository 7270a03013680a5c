#pragma once
// COM port names as the tool has always written them ("COM3", "\\.\COM12")
// and the device a name stands for.

#include <cstdint>
#include <string>

namespace comm {

// "COM%d" below 10, "\\.\COM%d" from 10 on.
std::string ComDeviceName(std::uint16_t port);

// The COM number in "COMn" or "\\.\COMn" (case-insensitive), 0 when the text
// is no COM name.
std::uint16_t ComNumberFromName(const std::string& name);

// The device path for a COM name (platform::ComDevicePath of its number); an
// empty text when the name is no COM name.
std::string ResolveComDevice(const std::string& name);

}  // namespace comm
