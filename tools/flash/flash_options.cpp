#include "tools/flash/flash_options.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <limits>
#include <set>

#include "comm/com_port_name.h"
#include "tools/flash/resume.h"

namespace flash {

namespace {

constexpr std::uint16_t kHighestComPort = 20;

const char kUsage[] =
    "Usage: vornic-flash --tcp HOST:PORT [options] FILE\n"
    "       vornic-flash --serial PORT [options] FILE\n"
    "       vornic-flash --targets TARGETS [--tcp ...] [--serial ...] [options] FILE\n"
    "\n"
    "Downloads the first 65536 bytes of FILE into the display controller.\n"
    "  --tcp HOST:PORT         HOST a dotted IPv4 address (127.0.0.1), PORT 1..65535\n"
    "  --serial PORT           COM1..COM20 as the window numbers them (see\n"
    "                          --list-ports), or a serial device path (used as COM1)\n"
    "  --receive-timeout MS    reply time-out (default 50000 on TCP, 1700 serial)\n"
    "  --connect-timeout MS    TCP connect time-out (default 2000)\n"
    "  --config-path           print the path of the window's Config.ini and exit\n"
    "  --list-ports            print the serial ports with their COM numbers and exit\n"
    "  --help                  this text\n"
    "  --version               the program's version\n"
    "\n"
    "Several controllers at once (--tcp and --serial may be repeated):\n"
    "  --targets TARGETS       a file of targets, one a line: \"tcp HOST:PORT [name]\"\n"
    "                          or \"serial PORT [name]\"; # starts a comment line\n"
    "  --jobs N                at most N at once (default: all, up to 32)\n"
    "  --retries N             try a target again up to N times after a link failure\n"
    "  --report REPORT         write one JSON line per attempt to REPORT\n"
    "\n"
    "Rollouts:\n"
    "  --canary N              load the first N targets first, alone; the rest start\n"
    "                          only when all N succeeded\n"
    "  --max-failures N|N%     start no new target once N targets (or N% of those\n"
    "                          loaded, rounded up) failed after their retries\n"
    "  --resume REPORT         load only the targets that REPORT does not show loaded\n"
    "                          with this image (the same SHA-256)\n"
    "  --check                 only connect to each target (open each serial port),\n"
    "                          within --jobs, and print the connect time; no FILE\n"
    "\n"
    "Ctrl-C breaks the download off. Exit status: 0 after\n"
    "\"Download firmware successfully!\", 1 after any other message, 2 on a\n"
    "usage error. With several targets: 0 only when every target succeeded\n"
    "(or was already loaded), 4 after a failed canary, 5 when --max-failures\n"
    "stopped the run. --check: 0 only when every target was reachable.\n";

const char kTcpRefusal[] = "is not HOST:PORT with a dotted IPv4 address";
const char kSerialRefusal[] = "is neither COM1..COM20 nor a device path";

std::optional<FlashTarget> TcpTargetFrom(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    const auto address = tools::ParseDottedQuad(std::string_view(text).substr(0, colon));
    const auto port = tools::ParseNumber<std::uint16_t>(std::string_view(text).substr(colon + 1), 1, 65535);
    if (!address || !port) return std::nullopt;
    return FlashTarget{true, *address, *port, {}, text, {}};
}

std::optional<FlashTarget> SerialTargetFrom(const std::string& text) {
    const std::uint16_t com = comm::ComNumberFromName(text);
    if (com >= 1 && com <= kHighestComPort) return FlashTarget{false, 0, com, {}, text, {}};
    if (text.find('/') != std::string::npos) return FlashTarget{false, 0, 1, text, text, {}};
    return std::nullopt;
}

FlashTarget TcpTarget(const std::string& text) {
    const auto target = TcpTargetFrom(text);
    if (!target) tools::RefuseValue("--tcp", "'" + text + "' " + kTcpRefusal);
    return *target;
}

FlashTarget SerialTarget(const std::string& text) {
    const auto target = SerialTargetFrom(text);
    if (!target) tools::RefuseValue("--serial", "'" + text + "' " + kSerialRefusal);
    return *target;
}

// The device a serial target opens, with links resolved, so that COM1 and
// the path it stands for are one controller.
std::string SerialDevice(const FlashTarget& target) {
    const std::string path =
        target.devicePath.empty() ? comm::ResolveComDevice(comm::ComDeviceName(target.port)) : target.devicePath;
    std::error_code ec;
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : resolved.string();
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// "tcp HOST:PORT [name]" or "serial PORT [name]"; the name is the rest of the
// line, blanks inside it kept.
std::optional<FlashTarget> TargetLine(std::string_view line, std::string* reason) {
    const std::size_t wayEnd = line.find_first_of(" \t");
    const std::string_view way = line.substr(0, wayEnd);
    const std::string_view rest = wayEnd == std::string_view::npos ? std::string_view() : Trimmed(line.substr(wayEnd));
    const std::size_t addressEnd = rest.find_first_of(" \t");
    const std::string address(rest.substr(0, addressEnd));
    const std::string name(addressEnd == std::string_view::npos ? std::string_view() : Trimmed(rest.substr(addressEnd)));
    std::optional<FlashTarget> target;
    if (way == "tcp") {
        target = TcpTargetFrom(address);
        if (!target) *reason = "'" + address + "' " + kTcpRefusal;
    } else if (way == "serial") {
        target = SerialTargetFrom(address);
        if (!target) *reason = "'" + address + "' " + kSerialRefusal;
    } else {
        *reason = "'" + std::string(line) + "' is not \"tcp HOST:PORT [name]\" or \"serial PORT [name]\"";
    }
    if (target) target->name = name;
    return target;
}

int CountOption(const std::string& option, const std::string& text, int low, int high) {
    const auto n = tools::ParseNumber<int>(text, low, high);
    if (!n)
        tools::RefuseValue(option, "'" + text + "' is not a number from " + std::to_string(low) + " to " +
                                       std::to_string(high));
    return *n;
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
    tools::AddFlagOption(app, "--list-ports", [&] { o.listPorts = true; });
    // Several controllers.
    tools::AddValueOption(app, "--targets", [&](const std::string& path) {
        std::string error;
        if (!ReadTargetsFile(path, &o.targets, &error)) tools::RefuseValue("--targets", error);
        o.fleet = true;
    });
    tools::AddValueOption(app, "--jobs", [&](const std::string& text) { o.jobs = CountOption("--jobs", text, 1, kMaxJobs); });
    tools::AddValueOption(app, "--retries", [&](const std::string& text) {
        o.retries = CountOption("--retries", text, 0, kMaxRetries);
        o.fleet = true;
    });
    tools::AddValueOption(app, "--report", [&](const std::string& path) {
        o.reportPath = path;
        o.fleet = true;
    });
    // Rollouts.
    tools::AddValueOption(app, "--canary", [&](const std::string& text) {
        o.canary = CountOption("--canary", text, 1, kMaxTargets);
        o.fleet = true;
    });
    tools::AddValueOption(app, "--max-failures", [&](const std::string& text) {
        o.maxFailuresPercent = text.ends_with('%');
        const auto n = tools::ParseNumber<int>(o.maxFailuresPercent ? std::string_view(text).substr(0, text.size() - 1)
                                                                    : std::string_view(text),
                                               1, o.maxFailuresPercent ? 100 : kMaxTargets);
        if (!n)
            tools::RefuseValue("--max-failures", "'" + text + "' is neither a number from 1 to " +
                                                     std::to_string(kMaxTargets) + " nor a percentage from 1% to 100%");
        o.maxFailures = *n;
        o.fleet = true;
    });
    tools::AddValueOption(app, "--resume", [&](const std::string& path) {
        std::string error;
        if (!ReadLoadedImages(path, &o.loadedImages, &error)) tools::RefuseValue("--resume", error);
        o.resume = o.fleet = true;
    });
    tools::AddFlagOption(app, "--check", [&] { o.check = true; });
    // How a fleet run starts one of its targets; not for people.
    tools::AddValueOption(app, "--fleet-child", [&](const std::string& text) {
        o.parentId = CountOption("--fleet-child", text, 1, std::numeric_limits<int>::max());
    })->group("");

    app.add_option("FILE", o.file);

    result.outcome = tools::ParseCommandLine(app, args, &result.error);
    if (result.outcome != tools::ParseOutcome::Run || o.configPath || o.listPorts) return result;

    // What a run needs, whatever the order of the options.
    if (o.targets.size() > 1 || (o.check && o.parentId == 0)) o.fleet = true;
    if (o.parentId != 0 && (o.fleet || o.targets.size() != 1)) {
        result.error = "--fleet-child takes one target and no fleet option";
    } else if (const std::string duplicate = DuplicateTargetError(o.targets); !duplicate.empty()) {
        result.error = duplicate;
    } else if (o.targets.empty()) {
        result.error = "give --tcp HOST:PORT or --serial PORT";
    } else if (o.check && (o.canary > 0 || o.maxFailures > 0 || o.resume || o.retries > 0)) {
        result.error = "--check loads nothing: it takes no --canary, --max-failures, --resume or --retries";
    } else if (o.check && !o.file.empty()) {
        result.error = "--check loads nothing: give no firmware file";
    } else if (o.file.empty() && !o.check) {
        result.error = "no firmware file given";
    }
    if (!result.error.empty()) result.outcome = tools::ParseOutcome::UsageError;
    return result;
}

bool ReadTargetsFile(const std::string& path, std::vector<FlashTarget>* targets, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string_view text = Trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        std::string reason;
        const auto target = TargetLine(text, &reason);
        if (!target) {
            *error = path + ":" + std::to_string(number) + ": " + reason;
            return false;
        }
        targets->push_back(*target);
    }
    return true;
}

std::string DuplicateTargetError(const std::vector<FlashTarget>& targets) {
    std::set<std::string> seen;
    for (const FlashTarget& t : targets) {
        const std::string key = t.tcp ? "tcp " + std::to_string(t.address) + ":" + std::to_string(t.port)
                                      : "serial " + SerialDevice(t);
        // Two downloads into one controller at once would ruin its image.
        if (!seen.insert(key).second) return "the target " + t.text + " is named twice";
    }
    return {};
}

const char* FlashUsageText() {
    return kUsage;
}

}  // namespace flash
