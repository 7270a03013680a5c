#pragma once
// How many handles the process holds, on any OS: descriptors on POSIX,
// kernel object handles on Windows. A bare count, for a step on the test's
// own thread, where nothing of another thread can be on its way out.

namespace support {

// -1 when the system does not tell.
int CountOpenHandles();

// True when a Windows build runs under Wine: a case that meets something
// Wine does not do is skipped there, named after it.
bool RunningUnderWine();

}  // namespace support
