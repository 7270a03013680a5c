#pragma once
// The serial ports this machine has, as the system knows them: USB and ACM
// adapters, and built-in ports whose hardware is really there. Each system
// answers from its own device database (udev on Linux; on Windows the
// SERIALCOMM map, whose ports come as built-in ones of their own COM number);
// the COM numbering above this layer only sees the list.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class SerialPortKind : std::uint8_t {
    BuiltIn,  // /dev/ttyS<n> or Windows's COM<n+1>: keeps COM n+1 when its hardware answers
    Adapter,  // anything else (USB, ACM, a board's UART): gets a free number
};

struct SerialPortInfo {
    std::string device;               // the node to open, "/dev/ttyUSB0"
    std::string stablePath;           // "/dev/serial/by-id/usb-...", empty when there is none
    std::vector<std::string> links;   // every other name of the node, the stable one included
    std::string description;          // "FT232R USB UART"; the model, else the vendor
    std::string bus;                  // the bus it hangs on: "usb", "pci", "pnp", "platform"
    SerialPortKind kind = SerialPortKind::Adapter;
    int builtInIndex = -1;            // n of /dev/ttyS<n> (COM n+1), -1 for an adapter
    // A built-in port is registered whether or not its chip exists; it counts
    // only when the serial core knows the chip's type.
    bool present = false;
};

// Every serial port with hardware behind it, in the order the system lists
// them. Terminals without a device (consoles, pseudo-terminals) are left out.
// Fast enough to run each time a list drops down.
std::vector<SerialPortInfo> ListSerialPorts();

// The text of a udev "_ENC" property: "\x20" and the like become their bytes.
// Plain text work, the same on every OS.
std::string DecodeDeviceText(const std::string& encoded);

}  // namespace platform
