#pragma once
// A umockdev test bed of serial ports: USB adapters plugged into and pulled
// from USB ports, built-in ports with or without their chip. The test
// executable runs under umockdev-wrapper, whose preloaded library shows the
// bed's /sys and /dev to libudev and to open() instead of the machine's.

#include <optional>
#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace serialtest {

struct UsbAdapter {
    std::string usbPort;  // where it is plugged in: "1-1"
    std::string node;     // the name the kernel gave it this time: "ttyUSB0", "ttyACM0"
    std::string vendor;
    std::string model;
    std::string serial;
    std::string interfaceSuffix;  // what udev appends to the by-id name

    std::string StablePath() const;
    std::string Device() const { return "/dev/" + node; }
};

// An FTDI adapter (usb-serial driver) and a CDC-ACM one (its own driver),
// as their udev records read.
UsbAdapter Ftdi(std::string node = "ttyUSB0", std::string usbPort = "1-1");
UsbAdapter CdcAcm(std::string node = "ttyACM0", std::string usbPort = "1-2");

class SerialTestbed {
public:
    SerialTestbed();
    ~SerialTestbed();
    SerialTestbed(const SerialTestbed&) = delete;
    SerialTestbed& operator=(const SerialTestbed&) = delete;

    // Whether the program runs under umockdev-wrapper at all.
    static bool Preloaded();

    // Adds the adapter with its node and by-id link, as udev would.
    void Plug(const UsbAdapter& adapter);
    void Unplug(const UsbAdapter& adapter);
    // /dev/ttyS<index> on the legacy bus; `type` the serial core's chip type
    // (0: no chip), or none for a driver that publishes no type attribute.
    void AddBuiltIn(int index, std::optional<int> type);
    // The port's TIOCGSERIAL answers with this chip type.
    void AnswerSerialInfo(const std::string& device, int type);
    // Devices from a umockdev record file.
    bool Load(const std::string& recordFile);
    // The node leads to another terminal (a simulator's pseudo-terminal).
    void BackWith(const UsbAdapter& adapter, const std::string& terminal);

private:
    void Add(const std::string& record);
    std::string DevFolder() const;

    UMockdevTestbed* m_testbed = nullptr;
};

}  // namespace serialtest
