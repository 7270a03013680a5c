#include "tools/flash/input_file.h"

#include <filesystem>

#include "download/download_frame.h"
#include "platform/read_only_file.h"

namespace flash {

std::string InputFileProblem(const std::string& path, std::uint64_t* size) {
    if (path.empty()) return "the file's path is empty";
    const std::filesystem::path name(std::u8string(path.begin(), path.end()));
    std::error_code ec;
    const auto status = std::filesystem::status(name, ec);
    if (ec) return path + ": " + ec.message();
    if (std::filesystem::is_directory(status)) return path + ": is a folder";
    if (!std::filesystem::is_regular_file(status)) return path + ": is not a regular file";
    platform::ReadOnlyFile file;
    platform::FileErrorCause cause = platform::FileErrorCause::None;
    if (!file.Open(path, &cause)) return platform::FileErrorText(cause, path);
    try {
        if (size) *size = file.Length();
    } catch (const platform::FileError& e) {
        return path + ": " + e.what();
    }
    return {};
}

std::string ImageProblem(const std::string& path, std::string* note) {
    std::uint64_t size = 0;
    if (std::string problem = InputFileProblem(path, &size); !problem.empty()) return problem;
    if (size < kImageSize)
        return path + ": " + std::to_string(size) + " bytes, fewer than the " + std::to_string(kImageSize) +
               " of an image";
    if (size > kImageSize)
        *note = path + " is " + std::to_string(size) + " bytes: only its first " + std::to_string(kImageSize) +
                " are sent";
    return {};
}

}  // namespace flash
