#pragma once
// The download worker: one whole run on a thread of its own.

#include "download/download_context.h"

// The notices of a run, as the user reads them.
namespace download_text {
inline constexpr const char* kSuccess = "Download firmware successfully!";
inline constexpr const char* kCommInitError = "Communication initialization error!";
inline constexpr const char* kFileTooShort = "Read firmware error,please check!";
inline constexpr const char* kReadError = "Read firmware error!";
inline constexpr const char* kSendOrStop = "Download firmware erroe!";
inline constexpr const char* kNothingRead = "nothing readed!";
inline constexpr const char* kEchoError = "echo char error!";
inline constexpr const char* kEchoFormat = "Echo char = %c;expected 0x01";
inline constexpr const char* kUnexpected = "Download firmware error!";
}  // namespace download_text

// Runs one download with `context`; returns 0 in every case. The end of the
// run is known through the idle event and the busy flag.
unsigned DownloadThread(DownloadContext* context);

// Starts a run: clears a stop request left over from an earlier run, marks
// the context busy (so that a Break right after the start finds the run) and
// starts DownloadThread on a detached thread. When the thread cannot start,
// the context is idle again and the result is false.
bool StartDownloadThread(DownloadContext* context);
