#pragma once
// The system's text for an error code, as the design's SystemErrorText shows
// it: the message followed by its line end, unchanged.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The calling thread's last error, read right after the failing call: errno
// on POSIX, GetLastError's code on Windows.
int LastError();
void SetLastError(int code);

// The system's message for `code`, ending in its line end (a line feed, CR LF
// on Windows); empty for code 0.
std::string SystemErrorText(int code);

// The same message on one line: without its line end, empty for code 0.
std::string SystemErrorLine(int code);

// A failed OS call as the programs report it, "step: reason": the system's
// text for `code` on the same line, or "error <code>" when it has none.
std::string StepErrorText(std::string_view step, int code);

// Failures by what they mean, for the test seams that inject a failure as
// the system would report it.
enum class KnownError : std::uint8_t { AccessDenied, DiskFull, Busy, SharingViolation };
// The system's code for `error`: an errno value, or a Win32 code on Windows.
int SystemErrorCode(KnownError error);

}  // namespace platform
