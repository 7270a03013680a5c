#include "serial_testbed.h"

#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace serialtest {

namespace {

constexpr const char* kUsbHost = "/devices/pci0000:00/0000:00:14.0/usb1/";

std::string Encoded(const std::string& text) {
    std::string encoded;
    for (char c : text) encoded += c == ' ' ? std::string("\\x20") : std::string(1, c);
    return encoded;
}

std::string Underscored(std::string text) {
    for (char& c : text) {
        if (c == ' ') c = '_';
    }
    return text;
}

// The node's major and minor as the kernel numbers them.
std::string DevNumber(const std::string& node) {
    if (node.rfind("ttyUSB", 0) == 0) return "188:" + node.substr(6);
    if (node.rfind("ttyACM", 0) == 0) return "166:" + node.substr(6);
    return "4:" + std::to_string(64 + std::stoi(node.substr(4)));
}

constexpr int kPassThrough = -1;

// Answers TIOCGSERIAL with the chip type in `type`, unless that is
// kPassThrough; every other request runs on the terminal behind the node.
gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer type) {
    if (umockdev_ioctl_client_get_request(client) != TIOCGSERIAL || GPOINTER_TO_INT(type) == kPassThrough) {
        // Everything else reaches the pseudo-terminal behind the node.
        int error = 0;
        const int result = umockdev_ioctl_client_execute(client, &error, nullptr);
        umockdev_ioctl_client_complete(client, result, error);
        return TRUE;
    }
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(serial_struct), nullptr);
    serial_struct info{};
    info.type = GPOINTER_TO_INT(type);
    std::memcpy(data->data, &info, sizeof info);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
}

}  // namespace

std::string UsbAdapter::StablePath() const {
    return "/dev/serial/by-id/usb-" + Underscored(vendor) + "_" + Underscored(model) + "_" + serial + "-" +
           interfaceSuffix;
}

UsbAdapter Ftdi(std::string node, std::string usbPort) {
    return {std::move(usbPort), std::move(node), "FTDI", "FT232R USB UART", "A10K3R7Q", "if00-port0"};
}

UsbAdapter CdcAcm(std::string node, std::string usbPort) {
    return {std::move(usbPort), std::move(node), "Acme Bench", "Serial Bridge", "E661410", "if00"};
}

SerialTestbed::SerialTestbed() : m_testbed(umockdev_testbed_new()) {}

SerialTestbed::~SerialTestbed() {
    g_object_unref(m_testbed);
}

bool SerialTestbed::Preloaded() {
    // umockdev_in_mock_environment() answers for the bed's own children only.
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload") != nullptr;
}

std::string SerialTestbed::DevFolder() const {
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    std::string folder = std::string(root) + "/dev";
    g_free(root);
    return folder;
}

void SerialTestbed::Add(const std::string& record) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, record.c_str(), &error)) {
        ADD_FAILURE() << "test bed record refused: " << (error ? error->message : "") << "\n" << record;
        g_clear_error(&error);
    }
}

// The adapter's devices from the USB device down to its tty, as sysfs paths.
std::vector<std::string> DevicePaths(const UsbAdapter& adapter) {
    const std::string usbDevice = kUsbHost + adapter.usbPort;
    const std::string usbInterface = usbDevice + "/" + adapter.usbPort + ":1.0";
    std::vector<std::string> paths = {usbDevice, usbInterface};
    // The usb-serial driver puts a port device between interface and tty.
    if (adapter.node.rfind("ttyUSB", 0) == 0) paths.push_back(usbInterface + "/" + adapter.node);
    paths.push_back(paths.back() + "/tty/" + adapter.node);
    return paths;
}

void SerialTestbed::Plug(const UsbAdapter& adapter) {
    const std::vector<std::string> paths = DevicePaths(adapter);
    std::string record = "P: " + paths[0] + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: product=" +
                         adapter.model + "\nA: manufacturer=" + adapter.vendor + "\nA: serial=" + adapter.serial +
                         "\n\nP: " + paths[1] + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n";
    if (paths.size() == 4) record += "P: " + paths[2] + "\nE: SUBSYSTEM=usb-serial\n\n";
    record += "P: " + paths.back() + "\nN: " + adapter.node + "\nE: SUBSYSTEM=tty\nE: DEVNAME=" + adapter.Device() +
              "\nA: dev=" + DevNumber(adapter.node) + "\nE: ID_BUS=usb\nE: ID_VENDOR=" + Underscored(adapter.vendor) +
              "\nE: ID_VENDOR_ENC=" + Encoded(adapter.vendor) + "\nE: ID_MODEL=" + Underscored(adapter.model) +
              "\nE: ID_MODEL_ENC=" + Encoded(adapter.model) + "\nE: ID_SERIAL_SHORT=" + adapter.serial +
              "\nE: DEVLINKS=" + adapter.StablePath() + " /dev/serial/by-path/pci-0000:00:14.0-usb-0:" +
              adapter.usbPort.substr(2) + ":1.0\n\n";
    Add(record);
    // umockdev makes the node but not udev's links.
    const std::filesystem::path link = DevFolder() + adapter.StablePath().substr(4);
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::create_symlink("../../" + adapter.node, link);
}

void SerialTestbed::Unplug(const UsbAdapter& adapter) {
    // One by one from the tty up: removing a parent leaves its children's
    // bus links behind, and the next adapter's ttyUSB0 would collide.
    const std::vector<std::string> paths = DevicePaths(adapter);
    for (auto path = paths.rbegin(); path != paths.rend(); ++path)
        umockdev_testbed_remove_device(m_testbed, ("/sys" + *path).c_str());
    std::filesystem::remove(DevFolder() + adapter.StablePath().substr(4));
}

void SerialTestbed::AddBuiltIn(int index, std::optional<int> type) {
    const std::string node = "ttyS" + std::to_string(index);
    std::string record = "P: /devices/pnp0/00:0" + std::to_string(index + 1) +
                         "\nE: SUBSYSTEM=pnp\n\nP: /devices/pnp0/00:0" + std::to_string(index + 1) + "/tty/" +
                         node + "\nN: " + node + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + node +
                         "\nA: dev=" + DevNumber(node) + "\n";
    if (type) record += "A: type=" + std::to_string(*type) + "\n";
    Add(record + "\n");
}

void SerialTestbed::AnswerSerialInfo(const std::string& device, int type) {
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(HandleIoctl), GINT_TO_POINTER(type));
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, device.c_str(), handler, &error)) {
        ADD_FAILURE() << "ioctl handler for " << device << ": " << (error ? error->message : "");
        g_clear_error(&error);
    }
    g_object_unref(handler);
}

bool SerialTestbed::Load(const std::string& recordFile) {
    GError* error = nullptr;
    const bool loaded = umockdev_testbed_add_from_file(m_testbed, recordFile.c_str(), &error);
    if (!loaded) ADD_FAILURE() << recordFile << ": " << (error ? error->message : "");
    g_clear_error(&error);
    return loaded;
}

void SerialTestbed::BackWith(const UsbAdapter& adapter, const std::string& terminal) {
    const std::filesystem::path node = DevFolder() + "/" + adapter.node;
    std::filesystem::remove(node);
    std::filesystem::create_symlink(terminal, node);
    // The preload answers the ioctls of a node in the bed itself, by the path
    // it was opened with; these handlers hand them to the terminal.
    AnswerSerialInfo(adapter.Device(), kPassThrough);
    AnswerSerialInfo(adapter.StablePath(), kPassThrough);
}

}  // namespace serialtest
