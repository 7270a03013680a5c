#include "platform/temp_folder.h"

#include <stdlib.h>

#include <cerrno>
#include <filesystem>

#include "platform/system_error.h"

namespace platform {

std::string MakePrivateTempFolder(const std::string& prefix, std::string* error) {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    std::string pattern = ((ec ? std::filesystem::path("/tmp") : base) / (prefix + "XXXXXX")).string();
    // mkdtemp creates the folder with mode 0700.
    if (::mkdtemp(pattern.data()) == nullptr) {
        *error = StepErrorText(pattern, errno);
        return {};
    }
    return pattern;
}

}  // namespace platform
