#pragma once
// vornic-flash's command line, read by one function that the tests call
// without starting the program.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/command_line.h"

namespace flash {

// One controller to download into: on TCP, or on a serial port.
struct FlashTarget {
    bool tcp = false;
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 0;     // TCP port, or COM number
    std::string devicePath;     // a serial device that stands in for COM `port`
};

struct FlashOptions {
    std::vector<FlashTarget> targets;               // in the order given
    std::optional<std::int32_t> connectTimeoutMs;   // empty: the Operation page's
    std::optional<std::uint32_t> receiveTimeoutMs;  // empty: the transport's default
    std::string file;
    bool configPath = false;  // only print where the window's Config.ini is
    bool listPorts = false;   // only print the serial ports and their COM numbers
};

struct FlashCommandLine {
    tools::ParseOutcome outcome = tools::ParseOutcome::UsageError;
    FlashOptions options;
    std::string error;  // why the command line was refused
};

// Reads the arguments after the program's name.
FlashCommandLine ParseFlashOptions(const std::vector<std::string>& args);

// What --help prints, and a usage error after its reason.
const char* FlashUsageText();

}  // namespace flash
