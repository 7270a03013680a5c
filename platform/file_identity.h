#pragma once
// Which file a path leads to, so that two names of one file (a link, a "./"
// form, another case on Windows) are seen as the same file.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The volume and the file's number on it: st_dev and st_ino on POSIX, the
// volume serial number and the file index on Windows.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path`, links followed; empty when there is no
// such file or it cannot be looked at.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// True when both paths lead to one existing file.
inline bool SameFile(const std::string& a, const std::string& b) {
    const auto first = IdentityOf(a);
    return first && first == IdentityOf(b);
}

}  // namespace platform
