#pragma once
// What the platform tests share across their files: names only UTF-16 can
// carry on Windows, an edit for the text-file rewrites, the file's identity,
// and the fixtures whose cases are split between the portable files and the
// per-OS ones (a fixture must be one class in every file).

#include <cstdint>
#include <functional>
#include <string>

#include "support/temp_folder.h"

namespace platform_tests {

// "固件" (firmware) and "配置" (settings): names a code page other than
// UTF-8 cannot carry.
inline const std::string kFirmware = "\xE5\x9B\xBA\xE4\xBB\xB6";
inline const std::string kSettings = "\xE9\x85\x8D\xE7\xBD\xAE";

inline std::function<std::string(const std::string&)> Append(const std::string& line) {
    return [line](const std::string& old) { return old + line; };
}

// An edit that gives `text` whatever the file held.
inline std::function<std::string(const std::string&)> Becomes(const std::string& text) {
    return [text](const std::string&) { return text; };
}

// The file's number on its volume (the inode on POSIX): the same file keeps
// it, a new one replacing it gets another. Defined in each OS's
// text_file_*_test.cpp.
std::uint64_t FileIdentity(const std::string& path);

class TextFile : public support::TempFolderTest {};

}  // namespace platform_tests
