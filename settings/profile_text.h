#pragma once
// Private-profile (INI) text: sections "[Name]", lines "key=value", comment
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
// These functions work on a file's content and touch no disk;
// settings/profile_file.h reads and replaces whole files with them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

struct ProfileEntry {
    std::string key;
    std::string value;
};

// The value of `key` in `section`, without its surrounding blanks; nullopt
// when the key is missing.
std::optional<std::string> ProfileValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// An integer value: blanks and tabs, then the LeadingInteger of the rest; a
// text without digits ("abc", "0x1F" after its 0) is 0.
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

}  // namespace settings
