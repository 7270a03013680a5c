#include "platform/tcp_listener.h"

#include <optional>
#include <string_view>

namespace platform {

namespace {

// A dotted IPv4 address as inet_pton reads one: four decimal parts of at most
// three digits, none above 255 and none with a leading zero.
std::optional<std::uint32_t> ParseAddress(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') return std::nullopt;
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        std::uint32_t value = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9')
            value = value * 10 + static_cast<std::uint32_t>(text[digits++] - '0');
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text.front() == '0')) return std::nullopt;
        address = (address << 8) | value;
        text.remove_prefix(digits);
    }
    if (!text.empty()) return std::nullopt;
    return address;
}

}  // namespace

bool TcpListener::Listen(const std::string& host, std::uint16_t port, int backlog, std::string* error) {
    return Bind(host, port, backlog, error);
}

bool TcpListener::Reserve(const std::string& host, std::uint16_t port, std::string* error) {
    return Bind(host, port, -1, error);
}

// Binds, and listens unless `backlog` is negative.
bool TcpListener::Bind(const std::string& host, std::uint16_t port, int backlog, std::string* error) {
    const std::optional<std::uint32_t> address = ParseAddress(host);
    if (!address) {
        *error = "bad listen address " + host;
        return false;
    }
    return BindAddress(*address, port, backlog, "listen on " + host + ":" + std::to_string(port), error);
}

}  // namespace platform
