#pragma once
// File-error causes and their texts: what the user sees when a file cannot be
// opened or created. The system's error code becomes a cause in exactly one
// place, the OS's file_error_*.cpp; the texts are the same on every OS.

#include <string>

namespace platform {

enum class FileErrorCause {
    None = 0,
    Generic = 1,
    FileNotFound = 2,
    BadPath = 3,
    TooManyOpenFiles = 4,
    AccessDenied = 5,
    InvalidFile = 6,
    RemoveCurrentDir = 7,
    DirectoryFull = 8,
    BadSeek = 9,
    HardIO = 10,
    SharingViolation = 11,
    LockViolation = 12,
    DiskFull = 13,
    EndOfFile = 14,
};

inline constexpr std::size_t kMaxFileErrorText = 1023;

// The cause of the system error `err`: errno on POSIX, GetLastError's code
// on Windows.
FileErrorCause FileErrorCauseFromSystemError(int err);

// The text of `cause` with %1 replaced by `path` ("an unnamed file" when the
// path is empty), cut to at most 1023 bytes without splitting a character.
std::string FileErrorText(FileErrorCause cause, const std::string& path);

}  // namespace platform
