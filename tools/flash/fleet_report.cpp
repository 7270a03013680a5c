#include "tools/flash/fleet_report.h"

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
    line["state"] = attempt.state;
    auto orNull = [](const std::string& text) { return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text); };
    line["stage"] = orNull(attempt.stage);
    line["reason"] = orNull(attempt.reason);
    if (attempt.connectMs) line["connect_ms"] = *attempt.connectMs;
    line["image"] = image.path;
    line["image_bytes"] = image.size;
    line["image_sha256"] = orNull(image.sha256);
    line["file_bytes"] = image.fileSize;
    line["file_sha256"] = orNull(image.fileSha256);
    line["version"] = VORNIC_VERSION;
    // A reply byte in a message need not be UTF-8; it is shown as U+FFFD.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool FleetReport::Open(const std::string& path, bool append, std::string* error) {
    m_path = path;
    std::string reason;
    if (!m_out.Open(path, append, &reason)) {
        *error = "cannot write the report " + path + ": " + reason;
        return false;
    }
    return true;
}

void FleetReport::Write(const FlashTarget& target, const Attempt& attempt, const ImageFacts& image) {
    if (!m_out.IsOpen() || !m_failure.empty()) return;
    // Written line by line: a run cut short still leaves what it did.
    m_out.Write(ReportLine(target, attempt, image) + "\n", &m_failure);
}

bool FleetReport::Close(std::string* error) {
    std::string closing;
    if (m_out.IsOpen() && !m_out.Close(&closing) && m_failure.empty()) m_failure = closing;
    if (m_failure.empty()) return true;
    *error = "the report " + m_path + " could not be written: " + m_failure;
    return false;
}

}  // namespace flash
