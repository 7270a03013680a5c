#include "platform/process_limits.h"

#include <dirent.h>
#include <sys/resource.h>

namespace platform {

int OpenFileLimit() {
    struct rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
    return limit.rlim_cur > 1'000'000 ? 0 : static_cast<int>(limit.rlim_cur);
}

int OpenFileCount() {
    DIR* const folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) return 0;
    int count = 0;
    while (const dirent* entry = ::readdir(folder))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(folder);
    // The folder's own descriptor was counted too.
    return count > 0 ? count - 1 : 0;
}

}  // namespace platform
