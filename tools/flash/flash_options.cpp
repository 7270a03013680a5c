#include "tools/flash/flash_options.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <limits>
#include <set>

#include "comm/com_port_name.h"
#include "platform/file_identity.h"
#include "tools/flash/input_file.h"
#include "tools/flash/resume.h"

namespace flash {

namespace {

const char kUsage[] =
    "Usage: vornic-flash --tcp HOST:PORT [options] FILE\n"
    "       vornic-flash --serial PORT [options] FILE\n"
    "       vornic-flash --targets TARGETS [--tcp ...] [--serial ...] [options] FILE\n"
    "\n"
    "Downloads the first 65536 bytes of FILE into the display controller.\n"
    "  --tcp HOST:PORT         HOST a dotted IPv4 address (127.0.0.1), PORT 1..65535\n"
    "  --serial PORT           COM1..COM255 as the window numbers them (see\n"
    "                          --list-ports), or a serial device path (used as COM1)\n"
    "  --receive-timeout MS    reply time-out, at least 1 (default 50000 on TCP,\n"
    "                          1700 serial)\n"
    "  --connect-timeout MS    TCP connect time-out (default 2000)\n"
    "  -q, --quiet             print only the last line\n"
    "  -v, --verbose           print each frame's reply too\n"
    "  --config-path           print the path of the window's Config.ini and exit\n"
    "  --list-ports            print the serial ports with their COM numbers and exit\n"
    "  --json                  with --list-ports: one JSON object per port, a line each\n"
    "  -h, --help              this text\n"
    "  -V, --version           the program's version\n"
    "\n"
    "Several controllers at once (--tcp and --serial may be repeated):\n"
    "  --targets TARGETS       a file of targets, one a line: \"tcp HOST:PORT [name]\"\n"
    "                          or \"serial PORT [name]\"; # starts a comment line\n"
    "  -j, --jobs N            at most N at once (default: all, up to 32, fewer when\n"
    "                          open files are limited)\n"
    "  --retries N             try a target again up to N times after a link failure\n"
    "  --retry-delay SECONDS   wait before a retry starts (default 2)\n"
    "  --report REPORT         write one JSON line per attempt to REPORT\n"
    "  --report-append REPORT  the same, added to the end of REPORT\n"
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
    "usage error, 3 when the report could not be written, 4 after a failed\n"
    "canary, 5 when --max-failures stopped the run, 128 + the signal after a\n"
    "Ctrl-C (130), SIGTERM (143) or SIGHUP (129). With several targets: 0 only\n"
    "when every target succeeded (or was already loaded). --check: 0 only when\n"
    "every target was reachable.\n";

const char kSerialRefusal[] = "is neither COM1..COM255 nor a device path";

std::optional<FlashTarget> TcpTargetFrom(const std::string& text, std::string* reason) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        *reason = "'" + text + "' is not HOST:PORT";
        return std::nullopt;
    }
    const std::string host = text.substr(0, colon), port = text.substr(colon + 1);
    const auto address = tools::ParseDottedQuad(host);
    if (!address) {
        *reason = "'" + host + "' in '" + text + "' is not a dotted IPv4 address";
        return std::nullopt;
    }
    const auto number = tools::ParseNumber<std::uint16_t>(port, 1, 65535);
    if (!number) {
        *reason = "the port '" + port + "' in '" + text + "' is not a number from 1 to 65535";
        return std::nullopt;
    }
    return FlashTarget{true, *address, *number, {}, text, {}};
}

std::optional<FlashTarget> SerialTargetFrom(const std::string& text, std::string* reason) {
    const std::uint16_t com = comm::ComNumberFromName(text);
    if (com >= 1 && com <= kHighestComPort) return FlashTarget{false, 0, com, {}, text, {}};
    if (text.find('/') != std::string::npos) return FlashTarget{false, 0, 1, text, text, {}};
    *reason = "'" + text + "' " + kSerialRefusal;
    return std::nullopt;
}

FlashTarget TcpTarget(const std::string& text) {
    std::string reason;
    const auto target = TcpTargetFrom(text, &reason);
    if (!target) tools::RefuseValue("--tcp", reason);
    return *target;
}

FlashTarget SerialTarget(const std::string& text) {
    std::string reason;
    const auto target = SerialTargetFrom(text, &reason);
    if (!target) tools::RefuseValue("--serial", reason);
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

// A UTF-8 path as the file system names it on every OS.
std::filesystem::path Utf8Path(const std::string& path) { return std::u8string(path.begin(), path.end()); }

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
        target = TcpTargetFrom(address, reason);
    } else if (way == "serial") {
        target = SerialTargetFrom(address, reason);
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

std::int32_t Milliseconds(const std::string& option, const std::string& text, std::int32_t low) {
    const auto ms = tools::ParseNumber<std::int32_t>(text, low, std::numeric_limits<std::int32_t>::max());
    if (!ms)
        tools::RefuseValue(option, "'" + text + "' is not a count of milliseconds from " + std::to_string(low) +
                                       " to " + std::to_string(std::numeric_limits<std::int32_t>::max()));
    return *ms;
}

// Whole or decimal seconds ("2", "0.5"), as milliseconds.
int Seconds(const std::string& option, const std::string& text) {
    constexpr int kMaxMs = 3'600'000;
    const std::size_t dot = text.find('.');
    const auto whole = tools::ParseNumber<int>(text.substr(0, dot), 0, kMaxMs / 1000);
    std::optional<int> thousandths = 0;
    if (dot != std::string::npos) {
        const std::string fraction = text.substr(dot + 1);
        thousandths = fraction.size() <= 3 ? tools::ParseNumber<int>(fraction + std::string(3 - fraction.size(), '0'), 0, 999)
                                           : std::nullopt;
    }
    if (!whole || !thousandths || *whole * 1000 + *thousandths > kMaxMs)
        tools::RefuseValue(option, "'" + text + "' is not a number of seconds from 0 to 3600");
    return *whole * 1000 + *thousandths;
}

// The report may not be the image or a targets file under another name: it
// would be emptied before it was read.
std::string ReportClash(const FlashOptions& o) {
    if (o.reportPath.empty()) return {};
    if (platform::SameFile(o.reportPath, o.file)) return "the report " + o.reportPath + " is the firmware file";
    for (const std::string& targets : o.targetsFiles)
        if (platform::SameFile(o.reportPath, targets)) return "the report " + o.reportPath + " is the targets file";
    return {};
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
    // A run without a reply time-out against a silent controller could only
    // be killed: 0 is refused.
    tools::AddValueOption(app, "--receive-timeout", [&](const std::string& text) {
        o.receiveTimeoutMs = static_cast<std::uint32_t>(Milliseconds("--receive-timeout", text, 1));
    });
    tools::AddValueOption(app, "--connect-timeout", [&](const std::string& text) {
        o.connectTimeoutMs = Milliseconds("--connect-timeout", text, 0);
    });
    tools::AddFlagOption(app, "-q,--quiet", [&] { o.quiet = true; });
    tools::AddFlagOption(app, "-v,--verbose", [&] { o.verbose = true; });

    // What the program tells instead of downloading.
    tools::AddFlagOption(app, "--config-path", [&] { o.configPath = true; });
    tools::AddFlagOption(app, "--list-ports", [&] { o.listPorts = true; });
    tools::AddFlagOption(app, "--json", [&] { o.json = true; });
    // Several controllers.
    tools::AddValueOption(app, "--targets", [&](const std::string& path) {
        std::string error;
        if (!ReadTargetsFile(path, &o.targets, &error)) tools::RefuseValue("--targets", error);
        o.targetsFiles.push_back(path);
        o.fleet = true;
    });
    tools::AddValueOption(app, "-j,--jobs", [&](const std::string& text) { o.jobs = CountOption("--jobs", text, 1, kMaxJobs); });
    tools::AddValueOption(app, "--retries", [&](const std::string& text) {
        o.retries = CountOption("--retries", text, 0, kMaxRetries);
        o.fleet = true;
    });
    tools::AddValueOption(app, "--retry-delay", [&](const std::string& text) {
        o.retryDelayMs = Seconds("--retry-delay", text);
        o.fleet = true;
    });
    // Two reports named would leave one of them empty without a word.
    for (const auto& [names, append] : {std::pair{"--report", false}, std::pair{"--report-append", true}}) {
        tools::AddValueOption(app, names, [&o, append = append](const std::string& path) {
            if (!o.reportPath.empty()) tools::RefuseValue("--report", "only one report may be given");
            if (path.empty()) tools::RefuseValue("--report", "the report's path is empty");
            o.reportPath = path;
            o.reportAppend = append;
            o.fleet = true;
        });
    }
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

    result.outcome = tools::ParseCommandLine(app, args, &result.error, "-V,--version");
    if (result.outcome != tools::ParseOutcome::Run || o.configPath) return result;
    if (o.json && !o.listPorts) {
        result.error = "--json goes with --list-ports";
        result.outcome = tools::ParseOutcome::UsageError;
    }
    if (o.listPorts) return result;

    // What a run needs, whatever the order of the options.
    if (o.targets.size() > 1 || (o.check && o.parentId == 0)) o.fleet = true;
    if (o.quiet && o.verbose) {
        result.error = "--quiet and --verbose exclude each other";
    } else if (const std::string clash = ReportClash(o); !clash.empty()) {
        result.error = clash;
    } else if (o.parentId != 0 && (o.fleet || o.targets.size() != 1)) {
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
    if (std::string problem = InputFileProblem(path); !problem.empty()) {
        *error = problem;
        return false;
    }
    std::ifstream in(Utf8Path(path), std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    const std::size_t before = targets->size();
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        // Some editors start a UTF-8 file with a byte-order mark.
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
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
    if (targets->size() == before) {
        *error = path + ": names no target";
        return false;
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
