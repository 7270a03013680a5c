#pragma once
// The test seam of the file replacement (FailNextReplace), shared by each
// OS's text_file_*.cpp. Private to platform/.

#include "platform/text_file.h"

namespace platform {

// True, with the system's last error (errno, or GetLastError on Windows) set
// to the injected code, when the seam fails this step; each injection fails
// one step once.
bool InjectedReplaceFailure(ReplaceStep step);

}  // namespace platform
