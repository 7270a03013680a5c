#include "tools/fleet_report.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <nlohmann/json.hpp>

namespace flash {

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
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
