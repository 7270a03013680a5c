#pragma once
// Where the running executable lives.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Full path of the running executable; empty when the system does not say.
std::string ExecutablePath();
// The executable's folder with its trailing separator ("/opt/vornic/"), or
// an empty text when the path has no separator.
std::string ExecutableFolder();
// The executable's file name without its extension: the application's title.
std::string ExecutableTitle();

// Where the last folder of `path` ends: its last '/', or on Windows its last
// '/' or '\'; npos when it has none.
std::size_t LastPathSeparator(std::string_view path);

}  // namespace platform
