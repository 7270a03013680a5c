#pragma once
// The files vornic-flash reads, checked before anything connects or any file
// is written: a missing, unreadable or odd file is one clear error.

#include <cstdint>
#include <string>

namespace flash {

// Why the regular file at `path` cannot be read ("fw.bin: No such file or
// directory", "fw.bin: is a folder"); empty when it can. `size` gets its
// length.
std::string InputFileProblem(const std::string& path, std::uint64_t* size = nullptr);

// The image's problem as above, or that it is too short to be an image;
// *note gets the line that says a longer image is sent only in part.
std::string ImageProblem(const std::string& path, std::string* note);

}  // namespace flash
