#pragma once
// New folders that only the running user (and the system) may enter, as mode
// 0700 makes them on POSIX. Private to platform/.

#include <string>

namespace platform {

// CreateDirectoryW with such a folder's access rights; false, with the
// system's last error set, when it fails.
bool CreatePrivateFolder(const std::wstring& path);

}  // namespace platform
