#pragma once
// The user's folders and the questions the settings ask of a folder.

#include <string>

namespace platform {

// The value of an environment variable; empty when it is unset.
std::string EnvironmentValue(const char* name);

// The user's home folder: $HOME when it is an absolute path, otherwise the
// account's home from the user database; empty when neither says. On Windows
// the user's profile folder.
std::string HomeFolder();

// The folder the system keeps for a user's program settings, where it names
// one: the roaming application data (%APPDATA%) on Windows. Empty on POSIX,
// where the settings follow the XDG rule.
std::string SystemSettingsFolder();

// Whether this process may create files in `folder`. A folder that no one
// may write (no write bit in its mode) counts as read-only even for root,
// who passes every permission check: its owner has marked it so. A read-only
// mount stops root as well. On Windows the system's own answer: a file may be
// created there.
bool FolderIsWritable(const std::string& folder);

// Creates `folder` and every missing folder above it, each new one private
// to the user (0700; on Windows, open to the user and the system only). True
// when the folder exists afterwards.
bool CreateFolders(const std::string& folder);

}  // namespace platform
