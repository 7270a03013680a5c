#pragma once
// The fleet report: JSON Lines, one object per attempt, written as each
// attempt ends, so that a technician can prove later what went where.

#include <chrono>
#include <cstddef>
#include <fstream>
#include <optional>
#include <string>

#include "tools/flash/flash_options.h"

namespace flash {

struct Attempt {
    int number = 1;  // 1 for the first try of a target
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    double seconds = 0;
    int frames = 0;  // acknowledged by the controller
    std::string message;
    bool ok = false;
    // "loaded", "failed", "not started", "already loaded", "reachable",
    // "unreachable"; empty: "loaded" or "failed" as `ok` says.
    std::string state;
    std::string stage;   // "canary", "main", "check"; empty: none
    std::string reason;  // why a target was not started
    std::optional<long long> connectMs;  // a reachability check's
};

// The image every target was given: its size and SHA-256 (empty when the
// image could not be read).
struct ImageFacts {
    std::size_t size = 0;
    std::string sha256;
};

// One report line, without its line end.
std::string ReportLine(const FlashTarget& target, const Attempt& attempt, const ImageFacts& image);

// "2024-06-01T12:00:00.250Z"
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

class FleetReport {
public:
    // Creates or empties the file. False with the reason in *error.
    bool Open(const std::string& path, std::string* error);
    // Does nothing while no file is open.
    void Write(const FlashTarget& target, const Attempt& attempt, const ImageFacts& image);

private:
    std::ofstream m_out;
};

}  // namespace flash
