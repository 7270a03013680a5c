#pragma once
// vornic-flash's command line, read by one function that the tests call
// without starting the program.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/command_line.h"

namespace flash {

// One controller to download into: on TCP, or on a serial port.
struct FlashTarget {
    bool tcp = false;
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 0;     // TCP port, or COM number
    std::string devicePath;     // a serial device that stands in for COM `port`
    std::string text;           // as given: "127.0.0.1:10001", "COM5", "/dev/ttyUSB0"
    std::string name;           // from a targets file; may be empty
};

// How many targets run at once when --jobs does not say, and at most.
inline constexpr int kDefaultJobs = 32;
inline constexpr int kMaxJobs = 256;
inline constexpr int kMaxRetries = 100;
// The largest count --canary and --max-failures take.
inline constexpr int kMaxTargets = 100000;
inline constexpr int kDefaultRetryDelayMs = 2000;
// The COM numbers --serial takes: every one that Windows, the port list and
// [Ports] can give.
inline constexpr std::uint16_t kHighestComPort = 255;

struct FlashOptions {
    std::vector<FlashTarget> targets;               // in the order given
    std::optional<std::int32_t> connectTimeoutMs;   // empty: the Operation page's
    std::optional<std::uint32_t> receiveTimeoutMs;  // empty: the transport's default
    std::string file;
    bool configPath = false;  // only print where the window's Config.ini is
    bool listPorts = false;   // only print the serial ports and their COM numbers
    bool json = false;        // --list-ports: one JSON object per port
    bool quiet = false;       // only the last line
    bool verbose = false;     // each frame's reply too

    // Several targets, or a fleet option: every target runs in a process of
    // its own and the run ends with a summary.
    bool fleet = false;
    int jobs = 0;            // 0: every target at once, up to kDefaultJobs
    int retries = 0;
    int retryDelayMs = kDefaultRetryDelayMs;  // before each retry starts
    std::string reportPath;  // JSON Lines, one object per attempt
    // Rollouts: the first `canary` targets load first, alone; no new target
    // starts once `maxFailures` targets (or that percentage of them) failed.
    int canary = 0;
    int maxFailures = 0;  // 0: no limit
    bool maxFailuresPercent = false;
    // Only connect to each target (open each serial port) and close again.
    bool check = false;
    // From an earlier report (--resume): each target's image SHA-256 when the
    // report's last line about it says it holds that image.
    bool resume = false;
    std::map<std::string, std::string> loadedImages;

    bool reportAppend = false;  // add to the report rather than empty it
    std::vector<std::string> targetsFiles;  // as given, in order
    // Set in a process that a fleet run started for one of its targets: the
    // id of that parent.
    int parentId = 0;
};

struct FlashCommandLine {
    tools::ParseOutcome outcome = tools::ParseOutcome::UsageError;
    FlashOptions options;
    std::string error;  // why the command line was refused
};

// Reads the arguments after the program's name.
FlashCommandLine ParseFlashOptions(const std::vector<std::string>& args);

// Reads a targets file: one target a line, "tcp HOST:PORT [name]" or
// "serial PORT [name]"; blank lines and lines starting with # are skipped,
// and so is a UTF-8 byte-order mark. False with "FILE:LINE: reason" or
// "FILE: reason" (a folder, a device, no target, the system's reason) in
// *error.
bool ReadTargetsFile(const std::string& path, std::vector<FlashTarget>* targets, std::string* error);

// The first target that names the same controller as an earlier one, as a
// usage error's text; empty when every target is another controller.
std::string DuplicateTargetError(const std::vector<FlashTarget>& targets);

// What --help prints, and a usage error after its reason.
const char* FlashUsageText();

}  // namespace flash
