#pragma once
// The private-profile functions on a file: the text rules of
// settings/profile_text.h over platform/text_file.h's whole-file reads and
// crash-safe replacements.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_error.h"
#include "settings/profile_text.h"

namespace settings {

// As the text functions, read from the file; a missing or unreadable file
// reads as empty.
std::uint32_t GetProfileInt(const std::string& section, const std::string& key,
                            std::uint32_t defaultValue, const std::string& path);
std::vector<ProfileEntry> GetProfileSection(const std::string& section, const std::string& path);

// Sets the keys in order and replaces the file once; the file is created when
// missing. The replacement is platform::RewriteFileText's: the old file or
// the new one survives a crash or a full disk, a file marked read-only is
// refused even to root. On failure the file is as it was and `cause` says
// why; a write that would not read back is refused as Generic before the file
// is touched.
bool WriteProfileStrings(const std::string& section, const std::vector<ProfileEntry>& entries,
                         const std::string& path, platform::FileErrorCause* cause);
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path,
                        platform::FileErrorCause* cause);

}  // namespace settings
