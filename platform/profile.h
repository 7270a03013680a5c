#pragma once
// Private-profile (INI) files: sections "[Name]", lines "key=value", comment
// lines whose first character other than blanks and tabs is ';'. Section and
// key names match without regard to ASCII case, blanks and tabs around names
// and values do not count, and the first matching key wins, also across
// repeated sections of one name. Lines end in CR LF, LF or a lone CR.
//
// A write changes only the value of its key; a missing key is added after the
// last key of the first matching section (after its header when it has
// none), a missing section at the end of the file. Every other byte stays as
// it was. An added key line ends like the line it follows; otherwise added
// lines use the file's first line end (CR LF in a file that has none), and a
// file whose last line has no line end keeps it that way.
//
// The text functions work on a file's content and touch no disk; the file
// functions below them read and replace whole files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_error.h"

namespace platform {

struct ProfileEntry {
    std::string key;
    std::string value;
};

// The value of `key` in `section`, without its surrounding blanks; nullopt
// when the key is missing.
std::optional<std::string> ProfileValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// An integer value: an optional sign ('-' or '+') and the decimal digits that
// follow it, taken modulo 2^32; reading stops at the first other character,
// so "12abc" is 12 and a text without digits ("abc", "0x1F" after its 0) is 0.
std::uint32_t ProfileIntFromText(std::string_view value);

// The integer value of `key`, or `defaultValue` when the key is missing or
// its value is empty.
std::uint32_t ProfileInt(std::string_view text, std::string_view section, std::string_view key,
                         std::uint32_t defaultValue);

// The keys of `section` with their values, in file order, repeats included.
std::vector<ProfileEntry> ProfileSectionEntries(std::string_view text, std::string_view section);

// Whether the three texts can be written so that they read back unchanged:
// names neither empty nor starting or ending with a blank or tab, no line
// ends anywhere, no ']' in the section, no '=' in the key and no ';' or '['
// at its start, and no blank or tab at either end of the value.
bool ProfileWriteIsValid(std::string_view section, std::string_view key, std::string_view value);

// `text` with `key` of `section` set to `value`; nullopt when the write is
// not valid.
std::optional<std::string> ProfileWithValue(std::string_view text, std::string_view section,
                                            std::string_view key, std::string_view value);

// Whether anything exists at `path` (a dangling link counts as nothing).
bool PathExists(const std::string& path);

// The whole content of an existing regular file.
bool ReadProfileText(const std::string& path, std::string* text, FileErrorCause* cause);

// As above, read from the file; a missing or unreadable file reads as empty.
std::uint32_t GetProfileInt(const std::string& section, const std::string& key,
                            std::uint32_t defaultValue, const std::string& path);
std::vector<ProfileEntry> GetProfileSection(const std::string& section, const std::string& path);

// Sets the keys in order and replaces the file once; the file is created when
// missing. The replacement goes through a temporary file in the same folder,
// synced and renamed over the old one with the old file's mode, so that a
// crash or a full disk leaves either the old file or the new one. A file that
// no one may write (no write bit in its mode) is refused even to root: its
// user has marked it read-only. On failure the file is as it was and `cause`
// says why.
bool WriteProfileStrings(const std::string& section, const std::vector<ProfileEntry>& entries,
                         const std::string& path, FileErrorCause* cause);
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path, FileErrorCause* cause);

// Creates the file at `path` holding exactly `text`, in the same safe way.
bool CreateFileWithText(const std::string& path, std::string_view text, FileErrorCause* cause);

// Test seam: the next file replacement fails at `step` with the system error
// `err`, as a full disk or a refused rename would make it fail.
enum class ReplaceStep : std::uint8_t { CreateTemp, Write, Rename };
void FailNextReplace(ReplaceStep step, int err);

}  // namespace platform
