#include "platform/program_arguments.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/wide_text_win32.h"

namespace platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        // Without the UTF-16 line, the ANSI one is better than none.
        if (argc <= 1) return {};
        return std::vector<std::string>(argv + 1, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

}  // namespace platform
