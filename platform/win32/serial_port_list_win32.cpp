// The serial ports Windows knows: the values of HARDWARE\DEVICEMAP\SERIALCOMM,
// one per port whose driver is loaded, each naming the driver's device
// ("\Device\Serial0", "\Device\VCP0") with its COM name ("COM3") as the data.
// Windows has numbered them already, so each is reported as the built-in
// port of its own number: COMn stays COMn.

#include "platform/serial_port_list.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

#include "platform/win32/wide_text_win32.h"

namespace platform {

namespace {

constexpr wchar_t kSerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr std::string_view kDevicePrefix = "\\Device\\";
// Longest value name and data the loop reads; COM names and driver device
// names are far shorter.
constexpr DWORD kMaxText = 512;

// n of "COMn" (any case), 0 when the text is no COM name.
int ComNumber(const std::string& name) {
    if (name.size() < 4) return 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    }
    int number = 0;
    const char* const end = name.data() + name.size();
    const auto [stop, error] = std::from_chars(name.data() + 3, end, number);
    return error == std::errc() && stop == end && number > 0 ? number : 0;
}

// The driver's device without "\Device\": "Serial0" says a built-in UART,
// "VCP0" or "USBSER000" the adapter's driver.
std::string DescriptionOf(const std::string& valueName) {
    if (valueName.rfind(kDevicePrefix, 0) == 0) return valueName.substr(kDevicePrefix.size());
    return valueName;
}

std::string BusOf(const std::string& description) {
    if (description.rfind("Serial", 0) == 0) return "pnp";
    if (description.find("USB") != std::string::npos || description.find("VCP") != std::string::npos)
        return "usb";
    return {};
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    std::vector<SerialPortInfo> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ports;  // no port has a driver loaded
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxText];
        DWORD nameLength = kMaxText;
        wchar_t data[kMaxText];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LSTATUS status = ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                               reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        // The data need not end in a zero.
        std::size_t chars = dataBytes / sizeof(wchar_t);
        while (chars > 0 && data[chars - 1] == L'\0') --chars;
        const std::string comName = Narrow(std::wstring_view(data, chars));
        const int number = ComNumber(comName);
        if (number == 0) continue;

        SerialPortInfo port;
        port.device = "\\\\.\\COM" + std::to_string(number);
        // A [Ports] line may name the port either way.
        port.links = {"COM" + std::to_string(number)};
        port.description = DescriptionOf(Narrow(std::wstring_view(name, nameLength)));
        port.bus = BusOf(port.description);
        port.kind = SerialPortKind::BuiltIn;
        port.builtInIndex = number - 1;
        port.present = true;
        ports.push_back(std::move(port));
    }
    ::RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return a.builtInIndex < b.builtInIndex;
    });
    return ports;
}

}  // namespace platform
