#include "tools/flash_options.h"

#include <CLI/CLI.hpp>

#include <limits>

#include "comm/com_port_name.h"

namespace flash {

namespace {

constexpr std::uint16_t kHighestComPort = 20;

const char kUsage[] =
    "Usage: vornic-flash --tcp HOST:PORT [options] FILE\n"
    "       vornic-flash --serial PORT [options] FILE\n"
    "\n"
    "Downloads the first 65536 bytes of FILE into the display controller.\n"
    "  --tcp HOST:PORT         HOST a dotted IPv4 address (127.0.0.1), PORT 1..65535\n"
    "  --serial PORT           COM1..COM20, or a serial device path (used as COM1)\n"
    "  --receive-timeout MS    reply time-out (default 50000 on TCP, 1700 serial)\n"
    "  --connect-timeout MS    TCP connect time-out (default 2000)\n"
    "  --config-path           print the path of the window's Config.ini and exit\n"
    "  --help                  this text\n"
    "  --version               the program's version\n"
    "\n"
    "Ctrl-C breaks the download off. Exit status: 0 after\n"
    "\"Download firmware successfully!\", 1 after any other message, 2 on a\n"
    "usage error.\n";

FlashTarget TcpTarget(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    std::optional<std::uint32_t> address;
    std::optional<std::uint16_t> port;
    if (colon != std::string::npos) {
        address = tools::ParseDottedQuad(std::string_view(text).substr(0, colon));
        port = tools::ParseNumber<std::uint16_t>(std::string_view(text).substr(colon + 1), 1, 65535);
    }
    if (!address || !port) tools::RefuseValue("--tcp", "'" + text + "' is not HOST:PORT with a dotted IPv4 address");
    return FlashTarget{true, *address, *port, {}};
}

FlashTarget SerialTarget(const std::string& text) {
    const std::uint16_t com = comm::ComNumberFromName(text);
    if (com >= 1 && com <= kHighestComPort) return FlashTarget{false, 0, com, {}};
    if (text.find('/') != std::string::npos) return FlashTarget{false, 0, 1, text};
    tools::RefuseValue("--serial", "'" + text + "' is neither COM1..COM20 nor a device path");
}

std::int32_t Milliseconds(const std::string& option, const std::string& text) {
    const auto ms = tools::ParseNumber<std::int32_t>(text, 0, std::numeric_limits<std::int32_t>::max());
    if (!ms) tools::RefuseValue(option, "'" + text + "' is not a count of milliseconds");
    return *ms;
}

}  // namespace

FlashCommandLine ParseFlashOptions(const std::vector<std::string>& args) {
    FlashCommandLine result;
    FlashOptions& o = result.options;
    CLI::App app;

    // Where the firmware goes.
    tools::AddValueOption(app, "--tcp", [&](const std::string& text) { o.targets.push_back(TcpTarget(text)); });
    tools::AddValueOption(app, "--serial", [&](const std::string& text) { o.targets.push_back(SerialTarget(text)); });

    // How long the channel waits.
    tools::AddValueOption(app, "--receive-timeout", [&](const std::string& text) {
        o.receiveTimeoutMs = static_cast<std::uint32_t>(Milliseconds("--receive-timeout", text));
    });
    tools::AddValueOption(app, "--connect-timeout", [&](const std::string& text) {
        o.connectTimeoutMs = Milliseconds("--connect-timeout", text);
    });

    // What the program tells instead of downloading.
    tools::AddFlagOption(app, "--config-path", [&] { o.configPath = true; });

    app.add_option("FILE", o.file);

    result.outcome = tools::ParseCommandLine(app, args, &result.error);
    if (result.outcome != tools::ParseOutcome::Run || o.configPath) return result;

    // What a run needs, whatever the order of the options.
    if (o.targets.size() > 1) {
        result.error = "give one of --tcp and --serial";
    } else if (o.targets.empty()) {
        result.error = "give --tcp HOST:PORT or --serial PORT";
    } else if (o.file.empty()) {
        result.error = "no firmware file given";
    }
    if (!result.error.empty()) result.outcome = tools::ParseOutcome::UsageError;
    return result;
}

const char* FlashUsageText() {
    return kUsage;
}

}  // namespace flash
