// What the port lists share on every OS.

#include "platform/serial_port_list.h"

#include <charconv>

namespace platform {

std::string DecodeDeviceText(const std::string& encoded) {
    std::string text;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        unsigned value = 0;
        if (encoded.compare(i, 2, "\\x") == 0 && i + 4 <= encoded.size()) {
            const char* digits = encoded.data() + i + 2;
            const auto [end, error] = std::from_chars(digits, digits + 2, value, 16);
            if (error == std::errc() && end == digits + 2) {
                text.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        text.push_back(encoded[i]);
    }
    return text;
}

}  // namespace platform
