#pragma once
// Where the running executable lives.

#include <string>

namespace platform {

// Full path of the running executable; empty when the system does not say.
std::string ExecutablePath();
// The executable's folder with its trailing separator ("/opt/vornic/"), or
// an empty text when the path has no separator.
std::string ExecutableFolder();
// The executable's file name without its extension: the application's title.
std::string ExecutableTitle();

}  // namespace platform
