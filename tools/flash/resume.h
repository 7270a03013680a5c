#pragma once
// --resume: which targets an earlier report shows loaded, and with which
// image, so that a run cut short goes on with only the rest.

#include <map>
#include <string>

namespace flash {

// Reads a report of vornic-flash (JSON Lines): for each target, the SHA-256
// of the image sent when the last line about that target says it holds the
// image, else nothing. False with "REPORT:LINE: reason" in *error.
bool ReadLoadedImages(const std::string& path, std::map<std::string, std::string>* loaded, std::string* error);

}  // namespace flash
