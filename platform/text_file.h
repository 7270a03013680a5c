#pragma once
// Whole text files: read one, create one, replace one so that a crash or a
// full disk leaves either the old file or the new one. What the text means is
// for the layers above.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_error.h"

namespace platform {

// Whether anything exists at `path` (a dangling link counts as nothing).
bool PathExists(const std::string& path);

// The whole content of an existing regular file.
bool ReadFileText(const std::string& path, std::string* text, FileErrorCause* cause);

// Creates the file at `path` holding exactly `text`, in the safe way below.
bool CreateFileWithText(const std::string& path, std::string_view text, FileErrorCause* cause);

// Replaces the file at `path` with edit(its text), or creates it from
// edit("") when it is missing; a link is written through to the file it
// names. The replacement goes through a temporary file in the same folder,
// synced and renamed over the old one with the old file's mode (on Windows
// its attributes and access rights). A file that no one may write (no write
// bit in its mode, or the read-only attribute on Windows) is refused even to
// root or an administrator: its user has marked it read-only. An edit that changes nothing leaves the file
// alone, its time stamp included. On failure the file is as it was and
// `cause` says why.
bool RewriteFileText(const std::string& path,
                     const std::function<std::string(const std::string&)>& edit,
                     FileErrorCause* cause);

// Test seam: the next file replacement fails at `step` with the system error
// `err` (errno, or a Win32 code on Windows), as a full disk or a refused
// rename would make it fail.
enum class ReplaceStep : std::uint8_t { CreateTemp, Write, Rename };
void FailNextReplace(ReplaceStep step, int err);

}  // namespace platform
