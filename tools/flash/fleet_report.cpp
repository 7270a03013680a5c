#include "tools/flash/fleet_report.h"

#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace flash {

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
    // The calendar of the standard library: the same on every OS, and no
    // C library call that some lack (gmtime_r) or that shares a buffer.
    using namespace std::chrono;
    const auto ms = time_point_cast<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> clock{ms - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string ReportLine(const FlashTarget& target, const Attempt& attempt, const ImageFacts& image) {
    nlohmann::ordered_json line;
    line["target"] = target.text;
    line["name"] = target.name.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(target.name);
    line["attempt"] = attempt.number;
    line["start"] = UtcTimestamp(attempt.start);
    line["end"] = UtcTimestamp(attempt.end);
    line["seconds"] = static_cast<double>(static_cast<long long>(attempt.seconds * 1000 + 0.5)) / 1000;
    line["frames_acknowledged"] = attempt.frames;
    line["message"] = attempt.message;
    line["ok"] = attempt.ok;
    line["state"] = !attempt.state.empty() ? attempt.state : attempt.ok ? "loaded" : "failed";
    line["stage"] = attempt.stage.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(attempt.stage);
    line["reason"] = attempt.reason.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(attempt.reason);
    if (attempt.connectMs) line["connect_ms"] = *attempt.connectMs;
    line["image_bytes"] = image.size;
    line["image_sha256"] = image.sha256.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(image.sha256);
    line["version"] = VORNIC_VERSION;
    // A reply byte in a message need not be UTF-8; it is shown as U+FFFD.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool FleetReport::Open(const std::string& path, std::string* error) {
    m_out.open(path, std::ios::binary | std::ios::trunc);
    if (!m_out) {
        *error = "cannot write the report " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void FleetReport::Write(const FlashTarget& target, const Attempt& attempt, const ImageFacts& image) {
    if (!m_out.is_open()) return;
    // Flushed line by line: a run cut short still leaves what it did.
    m_out << ReportLine(target, attempt, image) << '\n' << std::flush;
}

}  // namespace flash
