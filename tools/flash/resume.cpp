#include "tools/flash/resume.h"

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "tools/flash/input_file.h"

namespace flash {

bool ReadLoadedImages(const std::string& path, std::map<std::string, std::string>* loaded, std::string* error) {
    if (std::string problem = InputFileProblem(path); !problem.empty()) {
        *error = problem;
        return false;
    }
    // Paths are UTF-8 inside the program, whatever the system's code page.
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto json = nlohmann::json::parse(line, nullptr, false);
        const auto where = path + ":" + std::to_string(number) + ": ";
        if (!json.is_object() || !json.contains("target") || !json["target"].is_string()) {
            *error = where + "not a line of a vornic-flash report";
            return false;
        }
        // A reachability check says nothing of what a controller holds.
        if (const auto stage = json.find("stage"); stage != json.end() && *stage == "check") continue;
        // A later line about a target outdates the earlier ones: a failed
        // attempt after a success may have left the controller half loaded.
        const std::string target = json["target"];
        const auto ok = json.find("ok");
        const auto sha = json.find("image_sha256");
        const bool holds = ok != json.end() && *ok == true && sha != json.end() && sha->is_string();
        if (holds)
            (*loaded)[target] = sha->get<std::string>();
        else
            loaded->erase(target);
    }
    return true;
}

}  // namespace flash
