#pragma once
// The test seam of the Windows children. Private to platform/ and its tests.

namespace platform {

// The next ChildProcess::Start fails to create its child's Break event, with
// the Win32 error `code`.
void FailNextBreakEvent(int code);

}  // namespace platform
