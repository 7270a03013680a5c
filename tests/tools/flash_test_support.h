#pragma once
// What the tests of vornic-flash share: images and the programs' command
// lines, over the support library's folder and subprocess.

#include <string>
#include <vector>

#include "support/subprocess.h"
#include "support/temp_folder.h"

namespace flash_test {

using support::Subprocess;
using support::TempFolder;

inline constexpr int kStartMs = 10000;
inline constexpr int kRunMs = 90000;

inline std::string WriteImage(const std::string& path, std::size_t size) {
    return support::WriteBytes(path, support::RandomBytes(size, 42));
}

inline std::string ReadFile(const std::string& path) { return support::ReadAll(path); }
inline void WriteFile(const std::string& path, const std::string& text) { support::WriteAll(path, text); }

// Starts the simulator on a free loopback port; the "127.0.0.1:PORT" it got.
inline std::string StartSimulator(Subprocess& sim) {
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
