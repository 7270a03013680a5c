#pragma once
// What the tests of vornic-flash share: a temporary folder, images, and the
// programs' command lines.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/tools/subprocess.h"

namespace flash_test {

inline constexpr int kStartMs = 10000;
inline constexpr int kRunMs = 90000;

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vornic-flash-test-XXXXXX").string();
        if (::mkdtemp(pattern.data())) m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string Path(const char* name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline std::string WriteImage(const std::string& path, std::size_t size) {
    std::mt19937 generator(42);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(generator());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Starts the simulator on a free loopback port; the "127.0.0.1:PORT" it got.
inline std::string StartSimulator(tools_test::Subprocess& sim) {
    const auto banner = sim.ReadLine(kStartMs);
    if (!banner || banner->rfind("listening ", 0) != 0) return {};
    return banner->substr(10);
}

inline std::vector<std::string> Sim(std::vector<std::string> args) {
    args.insert(args.begin(), {VORNIC_SIM_PATH, "--port", "0"});
    return args;
}

inline std::vector<std::string> Flash(std::vector<std::string> args) {
    args.insert(args.begin(), VORNIC_FLASH_PATH);
    return args;
}

}  // namespace flash_test
