#pragma once
// A private folder for files that live only as long as one run.

#include <string>

namespace platform {

// Creates a new folder that only this user may enter, in the system's
// temporary folder, named `prefix` and six random characters. Its path, or an
// empty text and the reason in *error.
std::string MakePrivateTempFolder(const std::string& prefix, std::string* error);

}  // namespace platform
