// The serial ports from udev: the tty subsystem, devices with a parent on a
// bus. Properties come from udev's database when udevd runs; without it the
// nodes are still found, only unnamed.

#include "platform/serial_port_list.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>
#include <string_view>

namespace platform {

namespace {

constexpr std::string_view kStableFolder = "/dev/serial/by-id/";
constexpr std::string_view kBuiltInPrefix = "ttyS";

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* value) {
    return value ? std::string(value) : std::string();
}

std::string Property(udev_device* device, const char* name) {
    return Text(udev_device_get_property_value(device, name));
}

// The first non-empty of the readable name, the name with '_' for blanks, and
// the name from the hardware database.
std::string Name(udev_device* device, const char* encoded, const char* plain, const char* database) {
    std::string name = DecodeDeviceText(Property(device, encoded));
    if (name.empty()) {
        name = Property(device, plain);
        std::replace(name.begin(), name.end(), '_', ' ');
    }
    if (name.empty()) name = Property(device, database);
    const auto last = name.find_last_not_of(' ');
    name.erase(last == std::string::npos ? 0 : last + 1);
    return name;
}

std::vector<std::string> Links(udev_device* device) {
    std::vector<std::string> links;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_device_get_devlinks_list_entry(device)) {
        links.push_back(Text(udev_list_entry_get_name(entry)));
    }
    if (!links.empty()) return links;
    // A database written by hand (a test bed) holds the links only as the
    // DEVLINKS property.
    const std::string all = Property(device, "DEVLINKS");
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find(' ', start);
        if (end == std::string::npos) end = all.size();
        if (end > start) links.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return links;
}

// The bus of the nearest ancestor on a bus; USB wins, since a USB adapter
// hangs below a PCI host controller.
std::string Bus(udev_device* device) {
    std::string nearest;
    for (udev_device* d = udev_device_get_parent(device); d; d = udev_device_get_parent(d)) {
        const std::string subsystem = Text(udev_device_get_subsystem(d));
        if (subsystem == "usb") return subsystem;
        if (nearest.empty()) nearest = subsystem;
    }
    return nearest;
}

int BuiltInIndex(std::string_view name) {
    if (name.substr(0, kBuiltInPrefix.size()) != kBuiltInPrefix) return -1;
    name.remove_prefix(kBuiltInPrefix.size());
    int index = -1;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), index);
    return error == std::errc() && end == name.data() + name.size() ? index : -1;
}

// Asks the serial core for the chip's type; a port that cannot be opened
// cannot be used either.
bool HardwareAnswers(const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return known;
}

// The serial core publishes the chip's type as an attribute too, readable
// without opening the port (which needs the dialout group); the ioctl is the
// way for a driver that does not.
bool BuiltInPresent(udev_device* device, const std::string& node) {
    const char* type = udev_device_get_sysattr_value(device, "type");
    if (type) {
        int value = 0;
        const std::string_view text(type);
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end != text.data() && value != PORT_UNKNOWN;
    }
    return HardwareAnswers(node);
}

std::optional<SerialPortInfo> PortOf(udev_device* device) {
    const std::string node = Text(udev_device_get_devnode(device));
    if (node.empty() || !udev_device_get_parent(device)) return std::nullopt;
    SerialPortInfo port;
    port.device = node;
    port.bus = Bus(device);
    port.links = Links(device);
    for (const std::string& link : port.links) {
        if (link.rfind(kStableFolder, 0) == 0) {
            port.stablePath = link;
            break;
        }
    }
    port.description = Name(device, "ID_MODEL_ENC", "ID_MODEL", "ID_MODEL_FROM_DATABASE");
    if (port.description.empty())
        port.description = Name(device, "ID_VENDOR_ENC", "ID_VENDOR", "ID_VENDOR_FROM_DATABASE");
    port.builtInIndex = BuiltInIndex(Text(udev_device_get_sysname(device)));
    if (port.builtInIndex >= 0) {
        port.kind = SerialPortKind::BuiltIn;
        port.present = BuiltInPresent(device, node);
        if (port.description.empty()) port.description = "Built-in serial port";
    } else {
        port.kind = SerialPortKind::Adapter;
        port.present = true;
        if (port.description.empty()) port.description = "Serial port";
    }
    return port;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    std::vector<SerialPortInfo> ports;
    const UdevPtr<udev> context(udev_new());
    if (!context) return ports;
    const UdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return ports;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device) continue;
        if (std::optional<SerialPortInfo> port = PortOf(device.get())) ports.push_back(std::move(*port));
    }
    return ports;
}

}  // namespace platform
