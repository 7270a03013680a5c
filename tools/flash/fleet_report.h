#pragma once
// The fleet report: JSON Lines, one object per attempt, written as each
// attempt ends, so that a technician can prove later what went where.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/output_file.h"
#include "tools/flash/flash_options.h"

namespace flash {

// What became of a target: "ok", "failed", or "not started" or "already
// loaded" (its attempt number is 0 then); a check's "reachable" or
// "unreachable".
inline constexpr const char* kStateOk = "ok";
inline constexpr const char* kStateFailed = "failed";
inline constexpr const char* kStateNotStarted = "not started";
inline constexpr const char* kStateAlreadyLoaded = "already loaded";
inline constexpr const char* kStateReachable = "reachable";
inline constexpr const char* kStateUnreachable = "unreachable";

struct Attempt {
    int number = 1;  // 1 for the first try of a target
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    double seconds = 0;
    int frames = 0;  // acknowledged by the controller
    std::string message;
    bool ok = false;
    std::string state = kStateFailed;
    std::string stage;   // "canary", "main", "check"; empty: none
    std::string reason;  // why a target was not started or not loaded
    std::optional<long long> connectMs;  // a reachability check's
};

// The image every target was given: the file as named, the bytes sent and
// the whole file, each with its SHA-256 (empty when the image could not be
// read).
struct ImageFacts {
    std::string path;
    std::size_t size = 0;
    std::string sha256;
    std::uint64_t fileSize = 0;
    std::string fileSha256;
};

// One report line, without its line end.
std::string ReportLine(const FlashTarget& target, const Attempt& attempt, const ImageFacts& image);

// "2024-06-01T12:00:00.250Z"
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

class FleetReport {
public:
    // Creates or empties the file (append: adds to it); only a regular file
    // or a new one. False with "cannot write the report PATH: reason".
    bool Open(const std::string& path, bool append, std::string* error);
    // Does nothing while no file is open, or once a write has failed.
    void Write(const FlashTarget& target, const Attempt& attempt, const ImageFacts& image);
    // Closes the file; false when any write or the close failed, with
    // "the report PATH could not be written: reason".
    bool Close(std::string* error);

private:
    platform::OutputFile m_out;
    std::string m_path;
    std::string m_failure;
};

}  // namespace flash
