#pragma once
// The system's text for an error code, as the design's SystemErrorText shows
// it: the message followed by its line end, unchanged.

#include <string>

namespace platform {

// errno of the calling thread, read right after the failing call.
int LastError();
void SetLastError(int code);

// The system's message for `code`, ending in a line feed; empty for code 0.
std::string SystemErrorText(int code);

}  // namespace platform
