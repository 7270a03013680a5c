#pragma once
// The command line's arguments as the program's UTF-8 texts.

#include <string>
#include <vector>

namespace platform {

// The arguments after the program's name. On POSIX these are argv's own
// bytes; on Windows argv holds them in the ANSI code page, where a Chinese
// file name is lost, so they are taken from the UTF-16 command line instead.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace platform
