#pragma once
// What the fleet tests of vornic-flash share: the simulators' endpoints, the
// report read back, and the plain lines of a run.

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/simulator_thread.h"
#include "tests/tools/flash_test_support.h"
#include "tools/flash/sha256.h"

namespace flash_test {

using Json = nlohmann::json;
using support::Subprocess;

inline std::string Endpoint(const support::SimulatorThread& sim) { return "127.0.0.1:" + std::to_string(sim.Port()); }

inline std::string Sha256(const std::string& bytes) {
    return tools::Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// The report's attempts by target, in the order they were written.
inline std::map<std::string, std::vector<Json>> ReportByTarget(const std::string& path, std::size_t* lines) {
    std::map<std::string, std::vector<Json>> byTarget;
    std::istringstream in(ReadFile(path));
    *lines = 0;
    for (std::string line; std::getline(in, line); ++*lines) {
        const Json json = Json::parse(line);
        byTarget[json["target"]].push_back(json);
    }
    return byTarget;
}

// One attempt as the report holds it, against what the run was given.
inline void ExpectAttempt(const Json& a, int number, bool ok, int frames, const std::string& message,
                          const std::string& sent) {
    SCOPED_TRACE(a.dump());
    EXPECT_EQ(a["attempt"], number);
    EXPECT_EQ(a["ok"], ok);
    EXPECT_EQ(a["state"], ok ? "ok" : "failed");
    EXPECT_EQ(a["frames_acknowledged"], frames);
    EXPECT_EQ(a["message"], message);
    EXPECT_EQ(a["image_bytes"], 65536);
    EXPECT_EQ(a["image_sha256"], Sha256(sent));
    EXPECT_EQ(a["version"], VORNIC_VERSION);
    EXPECT_LE(a["start"].get<std::string>(), a["end"].get<std::string>());
    EXPECT_GE(a["seconds"].get<double>(), 0.0);
}

// The most download processes alive at once, as the plain lines tell it: a
// process is started before its "connecting" line and reaped before its
// target's next "ok" or "failed" line.
inline std::size_t MostAlive(const std::string& output) {
    std::set<std::string> alive;
    std::size_t most = 0;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        const std::string label = line.substr(0, colon), event = line.substr(colon + 2);
        if (event.starts_with("connecting")) alive.insert(label);
        if (event == "ok" || event.starts_with("failed")) alive.erase(label);
        most = std::max(most, alive.size());
    }
    return most;
}

// Reads the plain lines until every one of `targets` is sending.
inline bool WaitUntilSending(Subprocess& flash, const std::vector<std::string>& targets) {
    std::set<std::string> sending;
    for (std::optional<std::string> line; sending.size() < targets.size() && (line = flash.ReadLine(kRunMs));)
        if (line->ends_with(": sending")) sending.insert(*line);
    return sending.size() == targets.size();
}

// Milliseconds between two report timestamps of one day or the next.
inline long long MsBetween(const std::string& from, const std::string& to) {
    auto ms = [](const std::string& t) {
        return ((std::stoll(t.substr(11, 2)) * 60 + std::stoll(t.substr(14, 2))) * 60 + std::stoll(t.substr(17, 2))) * 1000 +
               std::stoll(t.substr(20, 3));
    };
    const long long difference = ms(to) - ms(from);
    return difference < 0 ? difference + 86'400'000 : difference;
}

inline bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace flash_test
