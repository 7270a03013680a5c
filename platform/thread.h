#pragma once
// Detached worker threads: started at once, never joined. Their owners learn
// of their end through events, as the design does it.

#include <functional>

namespace platform {

// False when the thread could not be started; the body is then not run.
bool StartDetachedThread(std::function<void()> body);

// Test seam: makes the next `count` starts fail as if the system had no
// resources left for a thread.
void FailNextThreadStarts(int count);

}  // namespace platform
